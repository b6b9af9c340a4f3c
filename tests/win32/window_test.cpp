#include "platform/win32/host.h"
#include "platform/windows.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<UINT> seenMessages;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    seenMessages.push_back(message);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK RefusingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE)
        return -1;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

ATOM Register(const char* name, WNDPROC proc) {
    WNDCLASSEXA wcex{};
    wcex.cbSize = sizeof(WNDCLASSEXA);
    wcex.style = CS_HREDRAW | CS_VREDRAW;
    wcex.lpfnWndProc = proc;
    wcex.hInstance = GetModuleHandleA(nullptr);
    wcex.hIcon = LoadIconA(wcex.hInstance, MAKEINTRESOURCEA(107));
    wcex.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wcex.lpszClassName = name;
    return RegisterClassExA(&wcex);
}

HWND Create(const char* className, int width = 800, int height = 600) {
    return CreateWindowExA(0, className, "Window test", WS_OVERLAPPEDWINDOW, 0, 0, width, height,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

class WindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Register("WindowTestRecording", RecordingProc);
        Register("WindowTestRefusing", RefusingProc);
    }
    void SetUp() override { seenMessages.clear(); }
};

TEST_F(WindowTest, ClientAreaIsTheRequestedSizeAndStaysHiddenUntilShown) {
    HWND hwnd = Create("WindowTestRecording");
    ASSERT_NE(hwnd, nullptr);
    RECT rect{};
    ASSERT_TRUE(GetClientRect(hwnd, &rect));
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 800);
    EXPECT_EQ(rect.bottom, 600);

    SDL_Window* window = fw::GetSdlWindow(hwnd);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_HIDDEN);
    EXPECT_FALSE(ShowWindow(hwnd, SW_SHOWDEFAULT)); // was hidden
    EXPECT_FALSE(SDL_GetWindowFlags(window) & SDL_WINDOW_HIDDEN);
    EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE)); // was visible
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(fw::GetSdlWindow(hwnd), nullptr);
    EXPECT_FALSE(GetClientRect(hwnd, &rect));
}

TEST_F(WindowTest, WindowCarriesADoubleBufferedCompatibilityContextWithDepth) {
    HWND hwnd = Create("WindowTestRecording", 320, 200);
    ASSERT_NE(hwnd, nullptr);
    void* context = fw::GetGlContext(hwnd);
    ASSERT_NE(context, nullptr);
    ASSERT_EQ(SDL_GL_MakeCurrent(fw::GetSdlWindow(hwnd), context), 0);
    int depth = 0, doubleBuffer = 0;
    SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &depth);
    SDL_GL_GetAttribute(SDL_GL_DOUBLEBUFFER, &doubleBuffer);
    EXPECT_GE(depth, 16); // what D16, the usual device depth, needs
    // The offscreen driver renders into a single pbuffer; real displays flip two buffers.
    if (std::string(SDL_GetCurrentVideoDriver()) != "offscreen") {
        EXPECT_EQ(doubleBuffer, 1);
    }
    // Fixed-function calls work only in a compatibility context.
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    unsigned char pixel[4] = {};
    glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    EXPECT_EQ(pixel[1], 255);
    EXPECT_EQ(pixel[0], 0);
    DestroyWindow(hwnd);
}

TEST_F(WindowTest, CreationSendsCreateMessagesAndDestructionSendsDestroy) {
    HWND hwnd = Create("WindowTestRecording");
    ASSERT_NE(hwnd, nullptr);
    ASSERT_GE(seenMessages.size(), 2u);
    EXPECT_EQ(seenMessages[0], (UINT)WM_NCCREATE);
    EXPECT_EQ(seenMessages[1], (UINT)WM_CREATE);
    seenMessages.clear();
    DestroyWindow(hwnd);
    ASSERT_EQ(seenMessages.size(), 2u);
    EXPECT_EQ(seenMessages[0], (UINT)WM_DESTROY);
    EXPECT_EQ(seenMessages[1], (UINT)WM_NCDESTROY);
    EXPECT_FALSE(DestroyWindow(hwnd)); // a second destruction is refused, not repeated
}

TEST_F(WindowTest, BadRequestsFailCleanly) {
    EXPECT_EQ(Create("NoSuchClass"), nullptr);
    EXPECT_EQ(Create("WindowTestRefusing"), nullptr);             // WM_CREATE returned -1
    EXPECT_EQ(Register("WindowTestRecording", RecordingProc), 0); // already registered
    EXPECT_EQ(Register(nullptr, RecordingProc), 0);
    EXPECT_EQ(Register("NoProcedure", nullptr), 0);
    // Absurd sizes are clamped rather than handed to the window system.
    HWND huge = Create("WindowTestRecording", 1 << 30, -5);
    ASSERT_NE(huge, nullptr);
    RECT rect{};
    GetClientRect(huge, &rect);
    EXPECT_LE(rect.right, 16384);
    EXPECT_EQ(rect.bottom, 1);
    DestroyWindow(huge);
}

TEST_F(WindowTest, ClassNamesMatchWithoutRegardToCase) {
    HWND hwnd = Create("windowtestrecording");
    EXPECT_NE(hwnd, nullptr);
    DestroyWindow(hwnd);
}

} // namespace

namespace {

TEST_F(WindowTest, ProcessEndFreesOpenWindowsSilently) {
    HWND first = Create("WindowTestRecording");
    HWND second = Create("WindowTestRecording", 100, 100);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    PostMessageA(first, WM_USER, 0, 0);
    seenMessages.clear();
    fw::ReleaseAllWindows();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(IsWindow(second));
    EXPECT_TRUE(seenMessages.empty()); // no WM_DESTROY: nobody is left to answer it
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

} // namespace
