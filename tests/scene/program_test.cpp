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
    std::string command = std::string("\"") + FERROWALK_EXE + "\" --data \"" + data.string() +
                          "\" --headless --fixed-dt 0.016 --frames 90 --capture \"" +
                          frames.string() + "\" 2> \"" + report.string() + "\"";
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
        std::string command = "FERROWALK_GL_COMPRESSED_TEXTURES=" + compressed +
                              " FERROWALK_GL_WINDOW_BACK_BUFFER=" + window + " \"" + FERROWALK_EXE +
                              "\" --data \"" + data.string() +
                              "\" --headless --fixed-dt 0.016 --frames 20 --screenshot \"" +
                              shot.string() + "\" 2>/dev/null";
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

} // namespace
