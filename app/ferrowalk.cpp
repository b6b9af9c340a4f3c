// Entry point: registers the window class, creates the window and the application object,
// then runs the message loop, one frame whenever no message waits.
#include "app/ferrowalk.h"

#include "app/frameclock.h"
#include "app/gameapp.h"
#include "core/zqmemory.h"

namespace {

constexpr UINT kTitleStringId = 103;
constexpr UINT kClassNameStringId = 109;
constexpr WORD kIconId = 107;
constexpr WORD kSmallIconId = 108;
constexpr int kWindowWidth = 800;
constexpr int kWindowHeight = 600;

// One frame: the seconds since the previous frame go to the update, then to the render.
void RunFrame() {
    static FrameClock clock; // holds lastFrameTime, read first on the first frame
    float dt = clock.Tick();
    UpdateFrame(dt);
    RenderFrame(dt);
}

} // namespace

HINSTANCE instanceHandle = nullptr;
HWND mainWindow = nullptr;
char windowTitle[100];
char windowClassName[100];
GameApp* theApp = nullptr;

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) {
    LoadStringA(hInstance, kTitleStringId, windowTitle, sizeof(windowTitle));
    LoadStringA(hInstance, kClassNameStringId, windowClassName, sizeof(windowClassName));
    RegisterWindowClass(hInstance);

    if (!CreateMainWindow(hInstance, nCmdShow))
        return 0;

    MSG msg;
    ZeroMemory(&msg, sizeof(msg));
    while (msg.message != WM_QUIT) {
        // Every waiting message is handled before the next frame runs.
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        RunFrame();
    }

    DestroyApplication();
    return (int)msg.wParam;
}

ATOM RegisterWindowClass(HINSTANCE hInstance) {
    WNDCLASSEXA wcex;
    wcex.cbSize = sizeof(WNDCLASSEXA);
    wcex.style = CS_HREDRAW | CS_VREDRAW;
    wcex.lpfnWndProc = MainWindowProc;
    wcex.cbClsExtra = 0;
    wcex.cbWndExtra = 0;
    wcex.hInstance = hInstance;
    wcex.hIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(kIconId));
    wcex.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wcex.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wcex.lpszMenuName = nullptr;
    wcex.lpszClassName = windowClassName;
    wcex.hIconSm = LoadIconA(hInstance, MAKEINTRESOURCEA(kSmallIconId));
    return RegisterClassExA(&wcex);
}

BOOL CreateMainWindow(HINSTANCE hInstance, int nCmdShow) {
    instanceHandle = hInstance;
    mainWindow = CreateWindowExA(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW, 0, 0,
                                 kWindowWidth, kWindowHeight, nullptr, nullptr, hInstance, nullptr);
    if (!mainWindow)
        return FALSE;

    // Stored before start-up so the window procedure forwards messages from now on.
    theApp = TRACKED_NEW GameApp();
    if (!theApp->Init(hInstance, mainWindow)) {
        // The window stays hidden; the object would otherwise be left allocated.
        DestroyApplication();
        return FALSE;
    }

    ShowWindow(mainWindow, nCmdShow);
    UpdateWindow(mainWindow);
    return TRUE;
}

LRESULT CALLBACK MainWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (theApp)
        theApp->HandleMessage(hWnd, message, wParam, lParam);
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

void UpdateFrame(float dt) {
    theApp->Update(dt);
}

void RenderFrame(float dt) {
    theApp->Render(dt);
}

void DestroyApplication() {
    if (theApp) {
        delete theApp;
        theApp = nullptr;
    }
}
