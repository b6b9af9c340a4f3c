// Runs the built program as a user would, headless.
#include "tests/kit/kit.h"

#include <gtest/gtest.h>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

#ifdef FERROWALK_EXE

namespace {

namespace fs = std::filesystem;

int RunProgram(const std::string& arguments, std::string* output = nullptr) {
    fs::path log = kit::ScratchPath("ferrowalk.log");
    std::string command =
        std::string("\"") + FERROWALK_EXE + "\" " + arguments + " >\"" + log.string() + "\" 2>&1";
    int status = std::system(command.c_str());
    if (output) {
        FILE* file = std::fopen(log.c_str(), "rb");
        output->clear();
        if (file) {
            char buffer[4096];
            size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
                output->append(buffer, n);
            std::fclose(file);
        }
    }
    fs::remove(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ExecutableTest, HeadlessRunSavesAFullSizeOpaqueScreenshotAndExitsCleanly) {
    fs::path dir = kit::ScratchPath("shot");
    fs::create_directories(dir);
    fs::path shot = dir / "out.png";
    std::string output;
    EXPECT_EQ(RunProgram("--headless --frames 60 --fixed-dt 0.0166 --data \"" + dir.string() +
                             "\" --screenshot \"" + shot.string() + "\"",
                         &output),
              0)
        << output;
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(shot.c_str(), &width, &height, &channels, 4);
    ASSERT_NE(pixels, nullptr) << output;
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 600);
    bool opaque = true;
    for (int i = 0; i < width * height; ++i)
        opaque &= pixels[i * 4 + 3] == 255;
    EXPECT_TRUE(opaque);
    stbi_image_free(pixels);
    EXPECT_NE(output.find(shot.string()), std::string::npos); // tells the user where
    fs::remove_all(dir);
}

TEST(ExecutableTest, BadOptionsPrintUsageAndExitWithTwo) {
    std::string output;
    EXPECT_EQ(RunProgram("--no-such-option", &output), 2);
    EXPECT_NE(output.find("Usage"), std::string::npos);
    EXPECT_EQ(RunProgram("--frames"), 2);
    EXPECT_EQ(RunProgram("--frames 0"), 2);
    EXPECT_EQ(RunProgram("--frames 12abc"), 2);
    EXPECT_EQ(RunProgram("--fixed-dt -1"), 2);
    EXPECT_EQ(RunProgram("--fixed-dt nan"), 2);
    EXPECT_EQ(RunProgram("--headless --screenshot /nonexistent/ferrowalk/shot.png"), 2);
    EXPECT_EQ(RunProgram("--help", &output), 0);
    EXPECT_NE(output.find("--screenshot"), std::string::npos);
}

TEST(ExecutableTest, MissingDataFolderIsABadValue) {
    std::string output;
    EXPECT_EQ(RunProgram("--headless --frames 1 --data /nonexistent/ferrowalk", &output), 2);
    EXPECT_NE(output.find("/nonexistent/ferrowalk"), std::string::npos);
}

} // namespace

#endif
