#include "platform/win32/host.h"
#include "platform/windows.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class KernelTest : public ::testing::Test {
protected:
    void TearDown() override {
        fw::SetRunOptions(fw::RunOptions{});
        fw::ResetFrameState();
        fw::SetMessageBoxHook(nullptr);
    }
};

void PresentFrames(int count) {
    for (int i = 0; i < count; ++i)
        fw::OnFramePresented(nullptr, 0, 0, nullptr);
}

TEST_F(KernelTest, FixedStepClockMovesOnlyWithPresentedFrames) {
    fw::RunOptions options;
    options.fixedDt = 1.0 / 60.0;
    fw::SetRunOptions(options);
    fw::ResetFrameState();
    EXPECT_EQ(timeGetTime(), 0u);
    EXPECT_EQ(timeGetTime(), 0u);
    PresentFrames(1);
    EXPECT_EQ(timeGetTime(), 17u); // 16.67 ms rounded
    PresentFrames(2);
    EXPECT_EQ(timeGetTime(), 50u); // rounded from the exact sum, so no drift
    PresentFrames(57);
    EXPECT_EQ(timeGetTime(), 1000u);
}

TEST_F(KernelTest, RealClockAdvancesAcrossSleep) {
    DWORD before = timeGetTime();
    Sleep(20);
    DWORD elapsed = timeGetTime() - before; // unsigned difference survives the wrap
    EXPECT_GE(elapsed, 20u);
    Sleep(0); // yields, returns
}

TEST_F(KernelTest, MessageBoxGoesToTheHookWhenOneIsSet) {
    std::string text, caption;
    UINT type = 0;
    fw::SetMessageBoxHook([&](HWND, const char* t, const char* c, UINT ty) {
        text = t;
        caption = c;
        type = ty;
        return 42;
    });
    EXPECT_EQ(MessageBoxA(nullptr, "The mouse is gone", "ERROR", MB_OK | MB_ICONERROR), 42);
    EXPECT_EQ(text, "The mouse is gone");
    EXPECT_EQ(caption, "ERROR");
    EXPECT_EQ(type, (UINT)(MB_OK | MB_ICONERROR));
}

TEST_F(KernelTest, WithoutADisplayAMessageBoxIsWrittenToStandardError) {
    fw::RunOptions options;
    options.headless = true;
    fw::SetRunOptions(options);
    ::testing::internal::CaptureStderr();
    int result = MessageBoxA(nullptr, "No keyboard", "ERROR", MB_OK);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, IDOK);
    EXPECT_NE(err.find("ERROR: No keyboard"), std::string::npos);
    EXPECT_EQ(MessageBoxA(nullptr, nullptr, nullptr, MB_OK), IDOK); // null texts are safe
}

TEST_F(KernelTest, DebugOutputGoesToStandardError) {
    ::testing::internal::CaptureStderr();
    OutputDebugStringA("Verify pointer\n");
    OutputDebugStringA(nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Verify pointer\n");
}

TEST_F(KernelTest, ComInitialisesOnceThenReportsAlreadyDone) {
    HRESULT first = CoInitialize(nullptr);
    EXPECT_TRUE(first == S_OK || first == S_FALSE);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
}

} // namespace
