// Runs the generator executable into a temporary folder and checks the files with independent
// readers: stb for PNG and BMP, ImageMagick's identify and assimp when installed.
#include "dataset.h"
#include "terrain.h"
#include "tests/kit/kit.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using namespace assetgen;

namespace {

std::string runAndCapture(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    pclose(pipe);
    return output;
}

bool haveCommand(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<char> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DataSet : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = kit::ScratchPath("assetgen");
        fs::remove_all(root_);
        status_ =
            std::system((std::string(ASSETGEN_EXE) + " " + (root_ / "first").string()).c_str());
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static fs::path file(const std::string& name) { return root_ / "first" / name; }

    static inline fs::path root_;
    static inline int status_ = -1;
};

// Level-4 heights (box-filtered 16 x 16 blocks, in world units) and the program's height query.
struct Ground {
    std::vector<float> level;
    int size = 0;

    explicit Ground(const uint8_t* pixels, int width) : size(width / 16) {
        level.resize(size_t(size) * size);
        for (int j = 0; j < size; ++j)
            for (int i = 0; i < size; ++i) {
                int sum = 0;
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x)
                        sum += pixels[(j * 16 + y) * width + i * 16 + x];
                level[size_t(j) * size + i] = sum / 256.0f * (kTerrainHeightScale / 255.0f);
            }
    }

    float at(float x, float z) const {
        const float spacing = kTerrainSize / float(size - 1);
        float gx = (x + kTerrainSize / 2) / spacing, gz = (z + kTerrainSize / 2) / spacing;
        int col = std::min(int(gx), size - 2), row = std::min(int(gz), size - 2);
        float dx = gx - col, dz = gz - row;
        auto sample = [&](int i, int j) { return level[size_t(j) * size + i]; };
        float a = sample(col, row), b = sample(col + 1, row), c = sample(col, row + 1),
              d = sample(col + 1, row + 1);
        float mid = (b + c) / 2;
        if (dx + dz <= 1)
            d = 2 * mid - a;
        else
            a = 2 * mid - d;
        return (1 - dz) * ((1 - dx) * a + dx * b) + dz * ((1 - dx) * c + dx * d);
    }
};

} // namespace

TEST_F(DataSet, GeneratorWritesEveryFileAndRejectsBadArguments) {
    ASSERT_EQ(status_, 0);
    for (const std::string& name : dataSetFiles())
        EXPECT_TRUE(fs::is_regular_file(file(name))) << name;
    // The marker textures must sit where the program opens them: no folder in front.
    EXPECT_TRUE(fs::is_regular_file(file("RobotHighLight.bmp")));
    EXPECT_TRUE(fs::is_regular_file(file("boundMesh.bmp")));
    EXPECT_NE(std::system((std::string(ASSETGEN_EXE) + " >/dev/null 2>&1").c_str()), 0);
    // A folder that cannot be created fails with a message instead of pretending.
    std::string blocked = (root_ / "first" / "terrain_heightmap.png" / "sub").string();
    std::string output = runAndCapture(std::string(ASSETGEN_EXE) + " " + blocked);
    EXPECT_NE(output.find("assetgen: cannot"), std::string::npos) << output;
    EXPECT_NE(std::system((std::string(ASSETGEN_EXE) + " " + blocked + " 2>/dev/null").c_str()), 0);
}

TEST_F(DataSet, SecondRunWritesByteIdenticalFiles) {
    ASSERT_EQ(status_, 0);
    ASSERT_TRUE(writeDataSet((root_ / "second").string()));
    for (const std::string& name : dataSetFiles()) {
        auto a = readAll(file(name)), b = readAll(root_ / "second" / name);
        EXPECT_FALSE(a.empty()) << name;
        EXPECT_TRUE(a == b) << name << " differs between runs";
    }
}

TEST_F(DataSet, ImagesHaveTheStatedSizesAndFormats) {
    ASSERT_EQ(status_, 0);
    struct Expected {
        const char* name;
        int size;
    };
    for (Expected e : {Expected{"model/hero_body.bmp", 512}, Expected{"RobotHighLight.bmp", 128},
                       Expected{"boundMesh.bmp", 64}}) {
        int w = 0, h = 0, channels = 0;
        ASSERT_TRUE(stbi_info(file(e.name).c_str(), &w, &h, &channels)) << e.name;
        EXPECT_EQ(w, e.size);
        EXPECT_EQ(h, e.size);
        EXPECT_EQ(channels, 3);
    }
    int w = 0, h = 0, channels = 0;
    uint8_t* heights = stbi_load(file("terrain_heightmap.png").c_str(), &w, &h, &channels, 0);
    ASSERT_NE(heights, nullptr);
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 1024);
    EXPECT_EQ(channels, 1);
    int lowest = 255, highest = 0;
    for (int i = 0; i < w * h; ++i) {
        lowest = std::min<int>(lowest, heights[i]);
        highest = std::max<int>(highest, heights[i]);
    }
    stbi_image_free(heights);
    EXPECT_LE(lowest, 10);
    EXPECT_GE(highest, 245);

    if (!haveCommand("identify"))
        GTEST_SKIP() << "ImageMagick identify not installed";
    std::string info = runAndCapture(
        "identify -format '%m %w %h %C %[fx:mean]\\n' " + file("terrain_texture.dds").string() +
        " " + file("terrain_detail.dds").string() + " " + file("terrain_heightmap.png").string());
    std::regex line(R"((\S+) (\d+) (\d+) (\S+) ([0-9.]+))");
    std::vector<std::string> rows;
    for (auto it = std::sregex_iterator(info.begin(), info.end(), line);
         it != std::sregex_iterator(); ++it)
        rows.push_back(it->str());
    ASSERT_EQ(rows.size(), 3u) << info;
    EXPECT_EQ(rows[0].substr(0, rows[0].rfind(' ')), "DDS 1024 1024 DXT1");
    EXPECT_EQ(rows[1].substr(0, rows[1].rfind(' ')), "DDS 256 256 DXT1");
    EXPECT_EQ(rows[2].substr(0, 13), "PNG 1024 1024");
    // The program multiplies the colour by the detail: bright, yet with grain one can see.
    const std::string detail = file("terrain_detail.dds").string();
    std::istringstream stats(
        runAndCapture("convert " + detail +
                      " -colorspace gray -format '%[fx:mean] %[fx:standard_deviation]' info:"));
    double mean = 0, deviation = 0;
    stats >> mean >> deviation;
    EXPECT_GE(mean, 0.75);
    EXPECT_LE(mean, 0.9);
    EXPECT_GE(deviation, 0.08);
    // It repeats without a seam: opposite edges differ no more than neighbouring texels
    // across a block boundary inside it.
    auto apart = [&](const char* size, int a, int b) {
        auto crop = [&](int at) {
            return std::string(" \\( -clone 0 -crop ") + size + "+" +
                   (size[0] == '1' ? std::to_string(at) + "+0" : "0+" + std::to_string(at)) +
                   " +repage \\)";
        };
        return std::stod(runAndCapture("convert " + detail + " -colorspace gray" + crop(a) +
                                       crop(b) +
                                       " -delete 0 -compose difference -composite "
                                       "-format '%[fx:mean]' info:"));
    };
    EXPECT_LE(apart("1x256", 0, 255), 1.25 * apart("1x256", 127, 128));
    EXPECT_LE(apart("256x1", 0, 255), 1.25 * apart("256x1", 127, 128));
}

TEST_F(DataSet, DdsFilesCarryFullMipChains) {
    ASSERT_EQ(status_, 0);
    auto levelsBytes = [](int size) {
        size_t total = 0;
        for (; size >= 1; size /= 2)
            total += size_t(std::max(1, size / 4)) * size_t(std::max(1, size / 4)) * 8;
        return total;
    };
    auto texture = readAll(file("terrain_texture.dds")),
         detail = readAll(file("terrain_detail.dds"));
    EXPECT_EQ(texture.size(), 128 + levelsBytes(1024));
    EXPECT_EQ(detail.size(), 128 + levelsBytes(256));
    ASSERT_GE(detail.size(), 32u);
    EXPECT_EQ(uint8_t(texture[28]), 11); // mip count
    EXPECT_EQ(uint8_t(detail[28]), 9);
}

TEST_F(DataSet, GroundSuitsTheHeroAndTheOrbitCamera) {
    ASSERT_EQ(status_, 0);
    int w = 0, h = 0, channels = 0;
    uint8_t* pixels = stbi_load(file("terrain_heightmap.png").c_str(), &w, &h, &channels, 1);
    ASSERT_NE(pixels, nullptr);
    Ground ground(pixels, w);
    stbi_image_free(pixels);

    const float hero = ground.at(0, 0);
    // The hero stands on gentle ground: little rise within a stride around him.
    for (float a = 0; a < 6.283f; a += 0.5f)
        EXPECT_NEAR(ground.at(20 * std::cos(a), 20 * std::sin(a)), hero, 2.0f);
    // The first view (eye 15 above the hero's feet, 300 units towards -z, 5 units of clearance)
    // is not pushed in.
    EXPECT_LT(ground.at(0, -300) + 5, hero + 15);
    // Somewhere on the orbit the ground rises above the eye, so the clearance has work to do.
    float highestOnOrbit = 0;
    for (float a = 0; a < 6.283f; a += 0.05f)
        highestOnOrbit = std::max(highestOnOrbit, ground.at(280 * std::cos(a), 280 * std::sin(a)));
    EXPECT_GT(highestOnOrbit + 5, hero + 15 + 10);
}

TEST_F(DataSet, HeroLoadsInAssimp) {
    ASSERT_EQ(status_, 0);
    if (!haveCommand("assimp"))
        GTEST_SKIP() << "assimp not installed";
    std::string info = runAndCapture("assimp info " + file("model/hero.X").string());
    auto count = [&](const char* label) {
        std::smatch m;
        std::regex pattern(std::string(label) + R"(:\s+(\d+))");
        return std::regex_search(info, m, pattern) ? std::stoi(m[1]) : -1;
    };
    EXPECT_GE(count("Meshes"), 7) << info;
    EXPECT_GE(count("Bones"), 18);
    EXPECT_LE(count("Bones"), 30);
    EXPECT_EQ(count("Animations"), 5);
    for (const char* name : {"'idle'", "'walk'", "'run'", "'skill1'", "'skill2'"})
        EXPECT_NE(info.find(name), std::string::npos) << name;
}
