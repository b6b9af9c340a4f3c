#include "app/ferrowalk.h"
#include "app/gameapp.h"
#include "platform/d3dx9math.h"
#include "platform/d3d9/testing.h"
#include "platform/win32/host.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// Runs the program's WinMain; onFrame sees each presented frame (1, 2, ...).
class WinMainTest : public ::testing::Test {
protected:
    void TearDown() override {
        fw::SetFramePresentedHook(nullptr);
        fw::SetRunOptions(fw::RunOptions{});
        fw::ResetFrameState();
        fw::d3d9test::FailCreateDevice(false);
        if (IsWindow(mainWindow))
            DestroyWindow(mainWindow);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    int Run(int frameLimit, std::function<void(int frame)> onFrame) {
        fw::RunOptions options;
        options.frames = frameLimit;
        fw::SetRunOptions(options);
        fw::ResetFrameState();
        int frame = 0;
        fw::SetFramePresentedHook([&](HWND) {
            if (onFrame)
                onFrame(++frame);
        });
        return WinMain(GetModuleHandleA(nullptr), nullptr, (LPSTR) "", SW_SHOWDEFAULT);
    }
};

TEST_F(WinMainTest, OpensTheTitledWindowRendersAndExitsWithZeroWhenClosed) {
    bool checked = false;
    int result = Run(3, [&](int frame) {
        if (frame != 1)
            return;
        checked = true;
        EXPECT_TRUE(IsWindowVisible(mainWindow));
        EXPECT_STREQ(SDL_GetWindowTitle(fw::GetSdlWindow(mainWindow)), "Ferrowalk");
        EXPECT_STREQ(windowClassName, "FERROWALK");
        RECT client{};
        GetClientRect(mainWindow, &client);
        EXPECT_EQ(client.right - client.left, 800);
        EXPECT_EQ(client.bottom - client.top, 600);
        EXPECT_NE(theApp, nullptr);
        EXPECT_EQ(instanceHandle, GetModuleHandleA(nullptr));
        // Each frame updates, then renders: the first picture has the camera's view already.
        D3DXMATRIX view;
        ASSERT_EQ(theApp->GetDevice()->GetTransform(D3DTS_VIEW, &view), D3D_OK);
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        EXPECT_NE(view, identity);
    });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(checked);
    EXPECT_EQ(fw::PresentedFrameCount(), 3u);
    EXPECT_FALSE(IsWindow(mainWindow)); // closing destroyed it
    EXPECT_EQ(theApp, nullptr);
}

TEST_F(WinMainTest, EveryWaitingMessageIsHandledBeforeTheNextFrame) {
    int leftOver = -1;
    Run(3, [&](int frame) {
        if (frame == 1) {
            for (int i = 0; i < 5; ++i)
                PostMessageA(mainWindow, WM_USER + i, 0, 0);
        } else if (frame == 2) {
            leftOver = 0;
            MSG msg;
            while (PeekMessageA(&msg, nullptr, WM_USER, WM_USER + 10, PM_REMOVE))
                ++leftOver;
        }
    });
    EXPECT_EQ(leftOver, 0);
}

TEST_F(WinMainTest, TheQuitMessageCodeIsTheExitCode) {
    int result = Run(0, [](int frame) {
        if (frame == 2)
            PostQuitMessage(5);
    });
    EXPECT_EQ(result, 5);
    EXPECT_EQ(fw::PresentedFrameCount(), 2u); // no frame after the quit message
    EXPECT_EQ(theApp, nullptr);
}

TEST_F(WinMainTest, DeviceFailureReturnsZeroAndNeverShowsTheWindow) {
    fw::d3d9test::FailCreateDevice(true);
    int result = Run(1, nullptr);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(fw::PresentedFrameCount(), 0u);
    ASSERT_TRUE(IsWindow(mainWindow));
    EXPECT_FALSE(IsWindowVisible(mainWindow));
    EXPECT_EQ(theApp, nullptr); // the half-started application object is not left behind
}

TEST_F(WinMainTest, WindowProcedureForwardsOnlyOnceTheApplicationExists) {
    // Before start-up the procedure still gives WM_DESTROY its quit message.
    GameApp* saved = theApp;
    theApp = nullptr;
    EXPECT_EQ(MainWindowProc(nullptr, WM_DESTROY, 0, 0), 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, 0u);
    theApp = saved;
}

} // namespace
