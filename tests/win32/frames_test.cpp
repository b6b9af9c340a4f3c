#include "platform/win32/host.h"
#include "platform/windows.h"
#include "tests/kit/kit.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A 4 x 2 frame: top row red, bottom row blue, alpha 0 as an alpha-less buffer may give.
void FillTestFrame(std::vector<uint8_t>& rgba) {
    for (size_t i = 0; i < rgba.size(); i += 4) {
        bool top = i < rgba.size() / 2;
        rgba[i] = top ? 255 : 0;
        rgba[i + 1] = 0;
        rgba[i + 2] = top ? 0 : 255;
        rgba[i + 3] = 0;
    }
}

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

Image Load(const fs::path& path) {
    Image image;
    int channels = 0;
    stbi_uc* pixels = stbi_load(path.c_str(), &image.width, &image.height, &channels, 4);
    if (pixels) {
        image.rgba.assign(pixels, pixels + image.width * image.height * 4);
        stbi_image_free(pixels);
    }
    return image;
}

class FrameHookTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = kit::ScratchPath(std::string("frames_") +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        fw::ResetFrameState();
    }
    void TearDown() override {
        fw::SetRunOptions(fw::RunOptions{});
        fw::ResetFrameState();
        fs::remove_all(dir);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    void Present(HWND hwnd = nullptr) { fw::OnFramePresented(hwnd, 4, 2, FillTestFrame); }
    fs::path dir;
};

TEST_F(FrameHookTest, ScreenshotKeepsTheLastFrameOpaqueWithTheTopRowFirst) {
    fw::RunOptions options;
    options.screenshot = (dir / "shot.png").string();
    fw::SetRunOptions(options);
    Present();
    Present();
    EXPECT_FALSE(fs::exists(dir / "shot.png")); // written once, at the end
    ASSERT_TRUE(fw::FlushScreenshot());
    Image image = Load(dir / "shot.png");
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.height, 2);
    EXPECT_EQ(image.rgba[0], 255); // top-left red
    EXPECT_EQ(image.rgba[2], 0);
    EXPECT_EQ(image.rgba[3], 255);      // forced opaque
    EXPECT_EQ(image.rgba[16 + 2], 255); // bottom-left blue
    EXPECT_FALSE(fs::exists(dir / "shot.png.tmp"));
}

TEST_F(FrameHookTest, CaptureWritesEveryFrameNumberedFromOne) {
    fw::RunOptions options;
    options.captureDir = dir.string();
    fw::SetRunOptions(options);
    Present();
    Present();
    Present();
    EXPECT_TRUE(fs::exists(dir / "frame_00001.png"));
    EXPECT_TRUE(fs::exists(dir / "frame_00003.png"));
    EXPECT_FALSE(fs::exists(dir / "frame_00004.png"));
    EXPECT_EQ(Load(dir / "frame_00002.png").width, 4);
}

TEST_F(FrameHookTest, FrameLimitClosesTheWindowOnceThroughTheQueue) {
    HWND hwnd = kit::CreateTestWindow("frames", 4, 2);
    ASSERT_NE(hwnd, nullptr);
    fw::RunOptions options;
    options.frames = 2;
    fw::SetRunOptions(options);
    MSG msg{};
    Present(hwnd);
    EXPECT_FALSE(PeekMessageA(&msg, hwnd, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    Present(hwnd);
    Present(hwnd);
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&msg, hwnd, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    DispatchMessageA(&msg);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(FrameHookTest, UnwritableScreenshotIsReportedNotFatal) {
    fw::RunOptions options;
    options.screenshot = (dir / "missing" / "shot.png").string();
    options.frames = 1; // the last frame is written as the window closes, and fails
    fw::SetRunOptions(options);
    ::testing::internal::CaptureStderr();
    Present();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("shot.png"), std::string::npos);
    EXPECT_FALSE(fw::FlushScreenshot()); // still missing when the program ends
    EXPECT_FALSE(fw::FlushScreenshot());
    EXPECT_FALSE(fw::WritePng((dir / "x.png").string(), 4, 2, {})); // no pixels
}

TEST_F(FrameHookTest, AReaderThatResizesTheBufferSavesNothing) {
    fw::RunOptions options;
    options.captureDir = dir.string();
    fw::SetRunOptions(options);
    fw::OnFramePresented(nullptr, 4, 2, [](std::vector<uint8_t>& rgba) { rgba.resize(3); });
    EXPECT_FALSE(fs::exists(dir / "frame_00001.png"));
    EXPECT_EQ(fw::PresentedFrameCount(), 1u);
}

} // namespace
