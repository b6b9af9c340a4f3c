#include "platform/win32/host.h"
#include "platform/windows.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

struct Seen {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> seen;

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    seen.push_back({hwnd, message, wParam, lParam});
    if (message == WM_USER + 50)
        return 1234;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

class MessageQueueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSEXA wcex{};
        wcex.cbSize = sizeof(wcex);
        wcex.lpfnWndProc = Proc;
        wcex.lpszClassName = "MessageQueueTest";
        RegisterClassExA(&wcex);
    }
    void SetUp() override {
        hwnd = CreateWindowExA(0, "MessageQueueTest", "queue", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                               nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
        Drain();
        seen.clear();
    }
    void TearDown() override {
        if (IsWindow(hwnd))
            DestroyWindow(hwnd);
        Drain();
    }
    // Takes everything waiting, WM_QUIT included, without dispatching.
    static void Drain() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    std::vector<UINT> TakeAll() {
        std::vector<UINT> messages;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            messages.push_back(msg.message);
            DispatchMessageA(&msg);
        }
        return messages;
    }
    HWND hwnd = nullptr;
};

TEST_F(MessageQueueTest, PostedMessagesComeOutInOrderAndPeekingLeavesThem) {
    PostMessageA(hwnd, WM_USER + 1, 11, 12);
    PostMessageA(hwnd, WM_USER + 2, 21, 22);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_USER + 1);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_USER + 1);
    EXPECT_EQ(msg.hwnd, hwnd);
    EXPECT_EQ(msg.wParam, 11u);
    EXPECT_EQ(msg.lParam, 12);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_USER + 2);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, FiltersSelectByWindowAndRange) {
    PostMessageA(hwnd, WM_USER + 1, 0, 0);
    PostMessageA(hwnd, WM_USER + 9, 0, 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, WM_USER + 5, WM_USER + 10, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_USER + 9);
    HWND other = CreateWindowExA(0, "MessageQueueTest", "other", 0, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    EXPECT_FALSE(PeekMessageA(&msg, other, 0, 0, PM_REMOVE));
    DestroyWindow(other);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_USER + 1);
}

TEST_F(MessageQueueTest, QuitComesAfterWaitingMessagesAndCarriesTheCode) {
    PostQuitMessage(7);
    PostMessageA(hwnd, WM_USER + 1, 0, 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_USER + 1);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)); // taken once only
}

TEST_F(MessageQueueTest, DispatchCallsTheWindowProcedureAndReturnsItsResult) {
    MSG msg{hwnd, WM_USER + 50, 3, 4, 0, {0, 0}};
    EXPECT_EQ(DispatchMessageA(&msg), 1234);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].wParam, 3u);
    EXPECT_EQ(seen[0].lParam, 4);
    EXPECT_EQ(SendMessageA(nullptr, WM_USER, 0, 0), 0); // no window: nothing called
    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(&seen), WM_USER, 0, 0));
}

TEST_F(MessageQueueTest, ClosingTheWindowDestroysItAndDropsItsMessages) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = SDL_WINDOWEVENT_CLOSE;
    event.window.windowID = SDL_GetWindowID(fw::GetSdlWindow(hwnd));
    ASSERT_EQ(SDL_PushEvent(&event), 1);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_CLOSE);
    PostMessageA(hwnd, WM_USER + 3, 0, 0);
    DispatchMessageA(&msg); // default handling destroys the window
    EXPECT_FALSE(IsWindow(hwnd));
    bool sawDestroy = false;
    for (const Seen& s : seen)
        sawDestroy |= s.message == WM_DESTROY;
    EXPECT_TRUE(sawDestroy);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)); // WM_USER + 3 went with it
}

TEST_F(MessageQueueTest, InterruptFromTheTerminalClosesTheWindow) {
    SDL_Event event{};
    event.type = SDL_QUIT;
    SDL_PushEvent(&event);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_CLOSE);
}

TEST_F(MessageQueueTest, InputEventsBecomeWindowsInputMessages) {
    Uint32 id = SDL_GetWindowID(fw::GetSdlWindow(hwnd));
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.windowID = id;
    key.key.keysym.scancode = SDL_SCANCODE_A;
    SDL_PushEvent(&key);
    key.type = SDL_KEYUP;
    key.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
    SDL_PushEvent(&key);
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.windowID = id;
    wheel.wheel.y = -2;
    SDL_PushEvent(&wheel);
    SDL_Event button{};
    button.type = SDL_MOUSEBUTTONDOWN;
    button.button.windowID = id;
    button.button.button = SDL_BUTTON_RIGHT;
    button.button.x = 30;
    button.button.y = 40;
    SDL_PushEvent(&button);

    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
    EXPECT_EQ(msg.wParam, (WPARAM)'A');
    EXPECT_EQ((msg.lParam >> 31) & 1, 0); // pressed
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, WM_KEYUP, WM_KEYUP, PM_REMOVE));
    EXPECT_EQ(msg.wParam, (WPARAM)VK_ESCAPE);
    EXPECT_EQ((msg.lParam >> 31) & 1, 1); // released
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, WM_MOUSEWHEEL, WM_MOUSEWHEEL, PM_REMOVE));
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(msg.wParam), -2 * WHEEL_DELTA);
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, WM_RBUTTONDOWN, WM_RBUTTONDOWN, PM_REMOVE));
    EXPECT_EQ(GET_X_LPARAM(msg.lParam), 30);
    EXPECT_EQ(GET_Y_LPARAM(msg.lParam), 40);
    EXPECT_TRUE(TranslateMessage(&msg) == FALSE); // only key messages translate
}

TEST_F(MessageQueueTest, AShownWindowIsPaintedOnceByUpdateWindow) {
    UpdateWindow(hwnd); // hidden: nothing to paint
    EXPECT_TRUE(seen.empty());
    ShowWindow(hwnd, SW_SHOWDEFAULT);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    seen.clear();
    UpdateWindow(hwnd);
    UpdateWindow(hwnd);
    int paints = 0;
    for (const Seen& s : seen)
        paints += s.message == WM_PAINT;
    EXPECT_EQ(paints, 1);
}

} // namespace
