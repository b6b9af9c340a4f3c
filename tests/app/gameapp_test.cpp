#include "app/gameapp.h"
#include "platform/d3d9/testing.h"
#include "platform/win32/host.h"
#include "tests/kit/kit.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class GameAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = kit::CreateTestWindow("GameApp test", 800, 600);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        fw::d3d9test::FailDirect3DCreate(false);
        fw::d3d9test::FailCreateDevice(false);
        delete app;
        DestroyWindow(window);
    }
    void Start() {
        app = new GameApp();
        ASSERT_TRUE(app->Init(GetModuleHandleA(nullptr), window));
        fw::d3d9test::EnableCallTrace(app->GetDevice(), true);
    }
    // The frame-level calls of one Render, in order.
    std::vector<std::string> RenderAndTrace() {
        fw::d3d9test::ClearCallTrace(app->GetDevice());
        app->Render(0.016f);
        std::vector<std::string> names;
        for (const auto& call : fw::d3d9test::GetCallTrace(app->GetDevice())) {
            const std::string& name = call.name;
            if (name == "Clear" || name == "BeginScene" || name == "EndScene" ||
                name == "Present" || name == "TestCooperativeLevel" || name == "Reset" ||
                name == "CreateVertexBuffer")
                names.push_back(name);
        }
        return names;
    }

    HWND window = nullptr;
    GameApp* app = nullptr;
    const std::vector<std::string> drawnFrame = {"Clear", "BeginScene", "EndScene", "Present"};
};

TEST_F(GameAppTest, StartUpMakesAWindowedDeviceForTheClientAreaAndABoldArialFont) {
    Start();
    const D3DPRESENT_PARAMETERS& pp = app->GetPresentParams();
    EXPECT_EQ(pp.BackBufferWidth, 800u);
    EXPECT_EQ(pp.BackBufferHeight, 600u);
    EXPECT_EQ(pp.BackBufferCount, 1u);
    EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(pp.hDeviceWindow, window);
    EXPECT_TRUE(pp.Windowed);
    EXPECT_TRUE(pp.EnableAutoDepthStencil);
    EXPECT_EQ(pp.AutoDepthStencilFormat, D3DFMT_D16);
    EXPECT_EQ(pp.PresentationInterval, (UINT)D3DPRESENT_INTERVAL_ONE);
    EXPECT_FALSE(app->IsDeviceLost());

    ASSERT_NE(app->GetFont(), nullptr);
    D3DXFONT_DESCA desc{};
    app->GetFont()->GetDescA(&desc);
    EXPECT_STREQ(desc.FaceName, "Arial");
    EXPECT_EQ(desc.Height, 15);
    EXPECT_EQ(desc.Weight, 700u);
}

TEST_F(GameAppTest, StartUpFailsWithoutADeviceAndCreatesNothingElse) {
    fw::d3d9test::FailCreateDevice(true);
    app = new GameApp();
    EXPECT_FALSE(app->Init(GetModuleHandleA(nullptr), window));
    EXPECT_EQ(app->GetDevice(), nullptr);
    EXPECT_EQ(app->GetFont(), nullptr);
    delete app; // a half-started object is released cleanly
    app = nullptr;

    fw::d3d9test::FailCreateDevice(false);
    fw::d3d9test::FailDirect3DCreate(true);
    app = new GameApp();
    EXPECT_FALSE(app->Init(GetModuleHandleA(nullptr), window));
    EXPECT_EQ(app->GetDevice(), nullptr);
}

TEST_F(GameAppTest, EachFrameClearsToOpaqueBlackAndPresents) {
    Start();
    fw::d3d9test::ClearCallTrace(app->GetDevice());
    app->Render(0.0f);
    std::vector<std::string> calls = fw::d3d9test::CallTraceTexts(app->GetDevice());
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "Clear(0, null, 3, 4278190080, 1, 0)");
    EXPECT_EQ(calls.back().rfind("Present(", 0), 0u);

    // The cleared back buffer, read before the next Present, is black and opaque.
    app->GetDevice()->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(fw::d3d9test::ReadBackBuffer(app->GetDevice(), &width, &height, &rgba));
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 600);
    EXPECT_EQ(rgba[0], 0);
    EXPECT_EQ(rgba[(300 * 800 + 400) * 4 + 1], 0);
}

TEST_F(GameAppTest, DeviceLossRecoversThroughSleepingResetAndRedraw) {
    Start();
    fw::d3d9test::LoseDevice(app->GetDevice(), 2);

    // The frame whose Present reports the loss ran and drew normally.
    EXPECT_EQ(RenderAndTrace(), drawnFrame);
    EXPECT_TRUE(app->IsDeviceLost());

    // While the device stays lost, each frame waits 100 ms and draws nothing.
    for (int i = 0; i < 2; ++i) {
        const uint64_t slept = fw::SleptMilliseconds();
        EXPECT_EQ(RenderAndTrace(), std::vector<std::string>{"TestCooperativeLevel"});
        EXPECT_EQ(fw::SleptMilliseconds() - slept, 100u);
        EXPECT_TRUE(app->IsDeviceLost());
    }

    // Resetting takes a frame of its own; the font gave up its device resources first, or
    // the Reset would have been refused, and takes them back after it (its glyph quads).
    const uint64_t slept = fw::SleptMilliseconds();
    EXPECT_EQ(RenderAndTrace(),
              (std::vector<std::string>{"TestCooperativeLevel", "Reset", "CreateVertexBuffer"}));
    EXPECT_EQ(fw::SleptMilliseconds() - slept, 100u);
    EXPECT_TRUE(app->IsDeviceLost());

    // The next frame waits once more, finds the device well and draws.
    std::vector<std::string> expected = {"TestCooperativeLevel"};
    expected.insert(expected.end(), drawnFrame.begin(), drawnFrame.end());
    EXPECT_EQ(RenderAndTrace(), expected);
    EXPECT_FALSE(app->IsDeviceLost());
    EXPECT_EQ(RenderAndTrace(), drawnFrame);

    // The font has its device resources back: another loss recovers the same way.
    fw::d3d9test::LoseDevice(app->GetDevice(), 0);
    RenderAndTrace();
    EXPECT_EQ(RenderAndTrace(),
              (std::vector<std::string>{"TestCooperativeLevel", "Reset", "CreateVertexBuffer"}));
    RenderAndTrace();
    EXPECT_FALSE(app->IsDeviceLost());
}

TEST_F(GameAppTest, RefusedResetIsRetriedOnLaterFrames) {
    Start();
    // A device-pool resource that the program does not know about blocks the Reset.
    IDirect3DVertexBuffer9* blocker = nullptr;
    ASSERT_EQ(app->GetDevice()->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT,
                                                   &blocker, nullptr),
              D3D_OK);
    fw::d3d9test::LoseDevice(app->GetDevice(), 0);
    RenderAndTrace();
    EXPECT_EQ(RenderAndTrace(), (std::vector<std::string>{"TestCooperativeLevel", "Reset"}));
    EXPECT_EQ(RenderAndTrace(), (std::vector<std::string>{"TestCooperativeLevel", "Reset"}));
    EXPECT_TRUE(app->IsDeviceLost());

    blocker->Release(); // only the accepted Reset gives the font its device resources back
    EXPECT_EQ(RenderAndTrace(),
              (std::vector<std::string>{"TestCooperativeLevel", "Reset", "CreateVertexBuffer"}));
    RenderAndTrace();
    EXPECT_FALSE(app->IsDeviceLost());
}

TEST_F(GameAppTest, BackBufferKeepsItsStartUpSizeWhenTheWindowChangesAndAcrossReset) {
    Start();
    SDL_SetWindowSize(fw::GetSdlWindow(window), 640, 480);
    SDL_Event resized{};
    resized.type = SDL_WINDOWEVENT;
    resized.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
    resized.window.windowID = SDL_GetWindowID(fw::GetSdlWindow(window));
    resized.window.data1 = 640;
    resized.window.data2 = 480;
    SDL_PushEvent(&resized);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 640);

    fw::d3d9test::LoseDevice(app->GetDevice(), 0);
    for (int i = 0; i < 3; ++i)
        app->Render(0.0f);
    ASSERT_FALSE(app->IsDeviceLost());

    IDirect3DSurface9* backBuffer = nullptr;
    ASSERT_EQ(app->GetDevice()->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer), D3D_OK);
    D3DSURFACE_DESC desc{};
    backBuffer->GetDesc(&desc);
    backBuffer->Release();
    EXPECT_EQ(desc.Width, 800u);
    EXPECT_EQ(desc.Height, 600u);
    EXPECT_EQ(app->GetPresentParams().BackBufferWidth, 800u);
}

TEST_F(GameAppTest, MessagesChangeNothing) {
    Start();
    app->HandleMessage(window, WM_KEYDOWN, VK_ESCAPE, 0);
    app->HandleMessage(window, WM_SIZE, SIZE_MINIMIZED, 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(app->IsDeviceLost());
    EXPECT_EQ(app->GetPresentParams().BackBufferWidth, 800u);
}

} // namespace
