// The whole program, started as a user starts it, on the default data set.
#include "scene_kit.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

Image LoadPng(const fs::path& file) {
    Image image;
    int channels = 0;
    uint8_t* pixels = stbi_load(file.c_str(), &image.width, &image.height, &channels, 3);
    if (pixels) {
        image.rgb.assign(pixels, pixels + size_t(image.width) * image.height * 3);
        stbi_image_free(pixels);
    }
    return image;
}

// Share of the pixels in the rectangle that are not black.
double Coverage(const Image& image, int x0, int y0, int x1, int y1) {
    int lit = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = image.At(x, y);
            lit += (p[0] + p[1] + p[2]) > 24;
        }
    return double(lit) / ((x1 - x0) * (y1 - y0));
}

// Mean absolute difference per channel between two images inside a rectangle.
double Difference(const Image& a, const Image& b, int x0, int y0, int x1, int y1) {
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c)
                sum += std::abs(int(a.At(x, y)[c]) - int(b.At(x, y)[c]));
    return sum / ((x1 - x0) * (y1 - y0) * 3);
}

#ifdef FERROWALK_EXE
// The program run headless on data with a fixed clock, then options (a shell command).
std::string Headless(const fs::path& data, const std::string& options) {
    return std::string("\"") + FERROWALK_EXE + "\" --data \"" + data.string() +
           "\" --headless --fixed-dt 0.016 " + options;
}
#endif

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Program, HeadlessRunShowsTheHeroAnimatedOnTheTerrainAndLeaksNothing) {
#ifndef FERROWALK_EXE
    GTEST_SKIP() << "the program or assetgen is not part of this build";
#else
    const fs::path& data = scenekit::DefaultDataSet();
    ASSERT_FALSE(data.empty()) << "assetgen failed";
    fs::path frames = data.parent_path() / "frames";
    fs::path report = data.parent_path() / "stderr.txt";
    fs::create_directories(frames);
    std::string command = Headless(data, "--frames 90 --capture \"" + frames.string() + "\" 2> \"" +
                                             report.string() + "\"");
    ASSERT_EQ(scenekit::Run(command), 0) << ReadFile(report);

    Image first = LoadPng(frames / "frame_00001.png");
    Image middle = LoadPng(frames / "frame_00045.png");
    Image last = LoadPng(frames / "frame_00090.png");
    ASSERT_EQ(last.width, 800);
    ASSERT_EQ(last.height, 600);
    EXPECT_FALSE(fs::exists(frames / "frame_00091.png"));

    // The ground fills the lower part of the picture; the sky stays black.
    EXPECT_GT(Coverage(last, 0, 400, 800, 600), 0.98);
    EXPECT_LT(Coverage(last, 0, 0, 800, 100), 0.02);
    // The lower part is textured, not one flat colour.
    int distinct = 0;
    for (int x = 0; x + 40 < 800; x += 40)
        distinct += std::abs(int(last.At(x, 500)[1]) - int(last.At(x + 40, 500)[1])) > 2;
    EXPECT_GT(distinct, 3);

    // The hero stands in the middle and moves: the frames differ around him, far more
    // than at the edges of the picture, where only the terrain is.
    double heroMotion = Difference(first, middle, 340, 180, 460, 360) +
                        Difference(middle, last, 340, 180, 460, 360);
    double edgeMotion =
        Difference(first, middle, 0, 450, 120, 600) + Difference(middle, last, 0, 450, 120, 600);
    EXPECT_GT(heroMotion, 1.0);
    EXPECT_LT(edgeMotion, heroMotion / 10);

    // The end-of-process report: the peak line, and no leak of the program's own.
    std::string text = ReadFile(report);
    EXPECT_NE(text.find("Max memory used : "), std::string::npos) << text;
    EXPECT_EQ(text.find("Memory leak"), std::string::npos) << text;
    EXPECT_EQ(text.find("Verify pointer"), std::string::npos) << text;
#endif
}

// The texture storage and the back buffer's place are the driver's business: forced either
// way, the default scene's picture is the same but for DXT decoders' rounding (a level or two)
// and the rare pixel where a fill-rule tie lands on the other side (a window's framebuffer is
// stored upside down).
TEST(Program, TextureStorageAndBackBufferPlacementLeaveThePictureAsItIs) {
#ifndef FERROWALK_EXE
    GTEST_SKIP() << "the program or assetgen is not part of this build";
#else
    const fs::path& data = scenekit::DefaultDataSet();
    ASSERT_FALSE(data.empty()) << "assetgen failed";
    auto frame = [&](const std::string& compressed, const std::string& window) {
        fs::path shot = data.parent_path() / ("placement_" + compressed + window + ".png");
        std::string command =
            "FERROWALK_GL_COMPRESSED_TEXTURES=" + compressed +
            " FERROWALK_GL_WINDOW_BACK_BUFFER=" + window + " " +
            Headless(data, "--frames 20 --screenshot \"" + shot.string() + "\" 2>/dev/null");
        EXPECT_EQ(scenekit::Run(command), 0) << command;
        return LoadPng(shot);
    };
    Image reference = frame("0", "0");
    ASSERT_EQ(reference.width, 800);
    for (const auto& [compressed, window] : {std::pair{"1", "0"}, {"0", "1"}, {"1", "1"}}) {
        Image other = frame(compressed, window);
        ASSERT_EQ(other.rgb.size(), reference.rgb.size()) << compressed << window;
        size_t apart = 0;
        for (size_t i = 0; i < other.rgb.size(); ++i)
            apart += std::abs(int(other.rgb[i]) - int(reference.rgb[i])) > 2;
        EXPECT_LT(apart, other.rgb.size() / 1000)
            << "compressed " << compressed << ", window " << window;
        EXPECT_LT(Difference(other, reference, 0, 0, 800, 600), 0.2) << compressed << window;
    }
#endif
}

// A box of side `side` standing on the ground at the origin, textured with skin.bmp, and the
// solid blue skin beside it.
fs::path WriteBoxModel(const fs::path& folder, float side) {
    fs::create_directories(folder);
    std::ofstream model(folder / "box.x");
    const float h = side / 2;
    model << "xof 0303txt 0032\nFrame Box {\n FrameTransformMatrix { 1,0,0,0,0,1,0,0,0,0,1,0,"
             "0,0,0,1;; }\n Mesh {\n  8;\n";
    for (int i = 0; i < 8; ++i)
        model << "  " << (i & 1 ? h : -h) << ";" << (i & 2 ? side : 0.0f) << ";" << (i & 4 ? h : -h)
              << (i < 7 ? ";," : ";;") << "\n";
    const int faces[12][3] = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                              {2, 6, 7}, {2, 7, 3}, {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};
    model << "  12;\n";
    for (int f = 0; f < 12; ++f)
        model << "  3;" << faces[f][0] << "," << faces[f][1] << "," << faces[f][2]
              << (f < 11 ? ";," : ";;") << "\n";
    model << "  MeshTextureCoords { 8;";
    for (int i = 0; i < 8; ++i)
        model << (i & 1) << ";" << (i >> 1 & 1) << (i < 7 ? ";," : ";;");
    model
        << " }\n  MeshMaterialList { 1; 12; 0,0,0,0,0,0,0,0,0,0,0,0;\n"
           "   Material { 1;1;1;1;; 10; 0;0;0;; 0.5;0.5;0.5;; TextureFilename { \"skin.bmp\"; } }\n"
           "  }\n }\n}\n";
    // 2 x 2, 24-bit, bottom-up rows padded to 8 bytes: blue.
    std::vector<uint8_t> bmp = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                                0,   0,   0,  2, 0, 0, 0, 2, 0, 0, 0,  1, 0, 24, 0};
    bmp.resize(54, 0);
    for (int row = 0; row < 2; ++row)
        bmp.insert(bmp.end(), {255, 0, 0, 255, 0, 0, 0, 0});
    std::ofstream(folder / "skin.bmp", std::ios::binary)
        .write(reinterpret_cast<const char*>(bmp.data()), std::streamsize(bmp.size()));
    return folder / "box.x";
}

// Share of the pixels in the rectangle that are clearly blue.
double BlueShare(const Image& image, int x0, int y0, int x1, int y1) {
    int blue = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = image.At(x, y);
            blue += p[2] > p[0] + 40 && p[2] > p[1] + 40;
        }
    return double(blue) / ((x1 - x0) * (y1 - y0));
}

// A user's own model: another file, its texture beside it, another set, another scale; and
// the errors, with exit code 2 and a line saying why.
TEST(Program, OwnModelsAnimationSetsAndFitting) {
#ifndef FERROWALK_EXE
    GTEST_SKIP() << "the program or assetgen is not part of this build";
#else
    const fs::path& data = scenekit::DefaultDataSet();
    ASSERT_FALSE(data.empty()) << "assetgen failed";
    const fs::path work = data.parent_path() / "own";
    fs::create_directories(work);
    auto run = [&](const std::string& options, const std::string& name, int expected) {
        std::string command = Headless(data, "--frames 30 " + options + " --screenshot \"" +
                                                 (work / (name + ".png")).string() + "\" > \"" +
                                                 (work / (name + ".out")).string() + "\" 2>&1");
        EXPECT_EQ(scenekit::Run(command), expected) << command;
        return std::pair{LoadPng(work / (name + ".png")), ReadFile(work / (name + ".out"))};
    };
    // The box stands where the hero would, textured from beside it, not from --data.
    const fs::path box = WriteBoxModel(work / "box", 40), huge = WriteBoxModel(work / "huge", 4000);
    auto [plain, plainText] = run("--model \"" + box.string() + "\"", "box", 0);
    ASSERT_EQ(plain.width, 800);
    EXPECT_GT(BlueShare(plain, 370, 250, 430, 320), 0.9) << plainText;
    EXPECT_LT(BlueShare(plain, 0, 0, 800, 600), 0.05);
    // A hundred times too large, fitted: about the same box on the screen.
    auto [fitted, fittedText] = run("--fit --model \"" + huge.string() + "\"", "huge", 0);
    EXPECT_NE(fittedText.find("--fit scales the model by 0.0"), std::string::npos) << fittedText;
    EXPECT_NEAR(BlueShare(fitted, 0, 0, 800, 600), BlueShare(plain, 0, 0, 800, 600), 0.01);

    // Another set: the same moment of "walk" is another pose than of "skill1".
    auto [skill1, skill1Text] = run("", "skill1", 0);
    auto [walk, walkText] = run("--animation walk", "walk", 0);
    EXPECT_GT(Difference(skill1, walk, 340, 180, 460, 360), 2.0);
    EXPECT_LT(Difference(skill1, walk, 0, 450, 120, 600), 0.1);
    auto [listed, list] = run("--animation list", "list", 0);
    EXPECT_NE(list.find("idle (3.00 s)\nwalk (1.20 s)\nrun (1.60 s)\nskill1 (2.40 s)\n"),
              std::string::npos)
        << list;

    auto [none, missingModel] = run("--model \"" + (work / "none.x").string() + "\"", "none", 2);
    EXPECT_NE(missingModel.find("none.x does not load"), std::string::npos) << missingModel;
    auto [other, missingSet] = run("--animation dance", "dance", 2);
    EXPECT_NE(missingSet.find("no animation set \"dance\""), std::string::npos) << missingSet;
    EXPECT_NE(missingSet.find("skill2 (2.00 s)"), std::string::npos) << missingSet;
#endif
}

} // namespace
