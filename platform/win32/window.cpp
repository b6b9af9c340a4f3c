// Window classes and windows on SDL2, each window with its own OpenGL 2.1 compatibility context.
#include "platform/win32/host.h"
#include "platform/win32/window_impl.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <strings.h>
#include <vector>

namespace {

struct WindowClass {
    WNDCLASSEXA info{};
    std::string name;
    ATOM atom = 0;
};

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

// A GL context with its SDL window, kept until both the window and every retaining user let go.
struct GlSurface {
    SDL_Window* window = nullptr;
    void* context = nullptr;
    int retains = 0;
    bool windowAlive = true;
};

std::map<std::string, WindowClass, CaseInsensitiveLess>& Classes() {
    static std::map<std::string, WindowClass, CaseInsensitiveLess> classes;
    return classes;
}
std::vector<HWND>& LiveWindows() {
    static std::vector<HWND> windows;
    return windows;
}
std::vector<GlSurface>& Surfaces() {
    static std::vector<GlSurface> surfaces;
    return surfaces;
}

constexpr int kMaxWindowSide = 16384;
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

const WindowClass* FindClass(LPCSTR name) {
    if (!name)
        return nullptr;
    if (IS_INTRESOURCE(name)) {
        for (const auto& [key, cls] : Classes())
            if (cls.atom == LOWORD(name))
                return &cls;
        return nullptr;
    }
    auto it = Classes().find(name);
    return it == Classes().end() ? nullptr : &it->second;
}

bool IsLive(HWND hwnd) {
    auto& windows = LiveWindows();
    return hwnd && std::find(windows.begin(), windows.end(), hwnd) != windows.end();
}

int ClampSide(int requested, int fallback) {
    if (requested == CW_USEDEFAULT)
        return fallback;
    return std::clamp(requested, 1, kMaxWindowSide);
}

void DestroySurface(const GlSurface& surface) {
    fw::LibraryScope scope;
    if (SDL_GL_GetCurrentContext() == surface.context)
        SDL_GL_MakeCurrent(surface.window, nullptr);
    SDL_GL_DeleteContext(surface.context);
    SDL_DestroyWindow(surface.window);
}

GlSurface* FindSurface(void* context) {
    for (auto& surface : Surfaces())
        if (surface.context == context)
            return &surface;
    return nullptr;
}

// A device may still draw with the context after its window is gone (on Windows a device
// outlives its window too), so the context is freed only when nobody can be using it.
void ReleaseWindowSurface(HWND hwnd) {
    GlSurface* surface = FindSurface(hwnd->glContext);
    if (!surface)
        return;
    surface->windowAlive = false;
    {
        fw::LibraryScope scope;
        SDL_HideWindow(surface->window);
    }
    bool inUse = surface->retains > 0 || SDL_GL_GetCurrentContext() == surface->context;
    if (inUse)
        return;
    DestroySurface(*surface);
    Surfaces().erase(Surfaces().begin() + (surface - Surfaces().data()));
}

bool CreateSurface(HWND hwnd, int x, int y, DWORD style) {
    fw::LibraryScope scope;
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // The depth buffer Direct3D programs most often ask for (D16), so that the window's own
    // can serve as theirs; a device that asks for another format gets an offscreen one.
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);

    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    if (style & WS_THICKFRAME)
        flags |= SDL_WINDOW_RESIZABLE;
    int sdlX = x == CW_USEDEFAULT ? SDL_WINDOWPOS_UNDEFINED : x;
    int sdlY = y == CW_USEDEFAULT ? SDL_WINDOWPOS_UNDEFINED : y;
    SDL_Window* window = SDL_CreateWindow(hwnd->title.c_str(), sdlX, sdlY, hwnd->clientWidth,
                                          hwnd->clientHeight, flags);
    if (!window && SDL_GetHintBoolean(SDL_HINT_VIDEO_X11_FORCE_EGL, SDL_FALSE)) {
        // No EGL here: GLX, as SDL would choose by itself.
        SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "0");
        window = SDL_CreateWindow(hwnd->title.c_str(), sdlX, sdlY, hwnd->clientWidth,
                                  hwnd->clientHeight, flags);
    }
    if (!window) {
        std::string line = "CreateWindowExA: SDL_CreateWindow failed: ";
        OutputDebugStringA((line + SDL_GetError() + "\n").c_str());
        return false;
    }
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) {
        std::string line = "CreateWindowExA: no OpenGL 2.1 compatibility context: ";
        OutputDebugStringA((line + SDL_GetError() + "\n").c_str());
        SDL_DestroyWindow(window);
        return false;
    }
    hwnd->sdlWindow = window;
    hwnd->glContext = context;
    hwnd->sdlWindowId = SDL_GetWindowID(window);
    Surfaces().push_back({window, context, 0, true});
    return true;
}

} // namespace

namespace fw::win32 {

HWND FindWindowBySdlId(uint32_t windowId) {
    for (HWND hwnd : LiveWindows())
        if (hwnd->sdlWindowId == windowId)
            return hwnd;
    return nullptr;
}

const std::vector<HWND>& Windows() {
    return LiveWindows();
}

HWND FirstWindow() {
    return LiveWindows().empty() ? nullptr : LiveWindows().front();
}

namespace {
void CloseRun(HWND window) {
    HWND target = IsWindow(window) ? window : FirstWindow();
    if (target)
        PostMessageA(target, WM_CLOSE, 0, 0);
}
} // namespace

bool EnsureVideo() {
    static bool started = false;
    if (started)
        return true;
    fw::LibraryScope scope;
    bool noDisplay = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") &&
                     !std::getenv("SDL_VIDEODRIVER");
    if (fw::GetRunOptions().headless) {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
    } else if (noDisplay) {
        // SDL would end up offscreen anyway, after failed attempts that print noise; say
        // what happens instead, since nothing will appear.
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        OutputDebugStringA("No display found: rendering offscreen. Use --headless --frames N "
                           "--screenshot FILE.png to keep a frame.\n");
    }
    // On X11, EGL starts the GL driver once; GLX first makes and drops a context of its own
    // to read the extensions, a fifth of the start-up with a software rasteriser. The
    // environment variable SDL_VIDEO_X11_FORCE_EGL still decides.
    SDL_SetHintWithPriority(SDL_HINT_VIDEO_X11_FORCE_EGL, "1", SDL_HINT_DEFAULT);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        std::string line = "SDL video could not start: ";
        OutputDebugStringA((line + SDL_GetError() + "\n").c_str());
        return false;
    }
    started = true;
    return true;
}

} // namespace fw::win32

namespace fw {

SDL_Window* GetSdlWindow(HWND hwnd) {
    return IsLive(hwnd) ? hwnd->sdlWindow : nullptr;
}
void* GetGlContext(HWND hwnd) {
    return IsLive(hwnd) ? hwnd->glContext : nullptr;
}

void ReleaseAllWindows() {
    for (HWND hwnd : LiveWindows()) {
        win32::ForgetQueuedMessages(hwnd);
        delete hwnd;
    }
    LiveWindows().clear();
    for (const GlSurface& surface : Surfaces())
        DestroySurface(surface);
    Surfaces().clear();
}

void* RetainGlContext(HWND hwnd) {
    if (!IsLive(hwnd))
        return nullptr;
    GlSurface* surface = FindSurface(hwnd->glContext);
    if (!surface)
        return nullptr;
    ++surface->retains;
    return surface->context;
}

void ReleaseGlContext(void* glContext) {
    GlSurface* surface = FindSurface(glContext);
    if (!surface || surface->retains == 0)
        return;
    if (--surface->retains > 0 || surface->windowAlive)
        return;
    DestroySurface(*surface);
    Surfaces().erase(Surfaces().begin() + (surface - Surfaces().data()));
}

} // namespace fw

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* lpwcx) {
    if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXA) || !lpwcx->lpszClassName ||
        !lpwcx->lpfnWndProc) {
        OutputDebugStringA("RegisterClassExA: invalid class description\n");
        return 0;
    }
    if (IS_INTRESOURCE(lpwcx->lpszClassName) || lpwcx->lpszClassName[0] == '\0') {
        OutputDebugStringA("RegisterClassExA: the class needs a name\n");
        return 0;
    }
    if (FindClass(lpwcx->lpszClassName)) {
        OutputDebugStringA("RegisterClassExA: class already registered\n");
        return 0;
    }
    static ATOM nextAtom = 0xC000;
    WindowClass cls;
    cls.info = *lpwcx;
    cls.name = lpwcx->lpszClassName;
    cls.atom = nextAtom++;
    cls.info.lpszClassName = nullptr; // the caller's string may not outlive the class
    cls.info.lpszMenuName = nullptr;
    auto& stored = Classes()[cls.name] = cls;
    return stored.atom;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                            int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                            HINSTANCE hInstance, LPVOID lpParam) {
    const WindowClass* cls = FindClass(lpClassName);
    if (!cls) {
        OutputDebugStringA("CreateWindowExA: window class not registered\n");
        return nullptr;
    }
    if (!fw::win32::EnsureVideo())
        return nullptr;

    HWND hwnd = new HWND__;
    hwnd->proc = cls->info.lpfnWndProc;
    hwnd->className = cls->name;
    hwnd->title = lpWindowName ? lpWindowName : "";
    // The window manager draws the frame on Linux, so the outer size is the client size.
    hwnd->clientWidth = ClampSide(nWidth, kDefaultWidth);
    hwnd->clientHeight = ClampSide(nHeight, kDefaultHeight);
    if (!CreateSurface(hwnd, X, Y, dwStyle)) {
        delete hwnd;
        return nullptr;
    }
    if (cls->info.hIcon)
        fw::win32::ApplyWindowIcon(hwnd->sdlWindow, cls->info.hIcon);
    LiveWindows().push_back(hwnd);
    fw::win32::SetRunCloser(fw::win32::CloseRun);

    CREATESTRUCTA create{lpParam,
                         hInstance,
                         hMenu,
                         hWndParent,
                         hwnd->clientHeight,
                         hwnd->clientWidth,
                         Y == CW_USEDEFAULT ? 0 : Y,
                         X == CW_USEDEFAULT ? 0 : X,
                         (LONG)dwStyle,
                         lpWindowName,
                         cls->name.c_str(),
                         dwExStyle};
    LPARAM createParam = reinterpret_cast<LPARAM>(&create);
    if (!SendMessageA(hwnd, WM_NCCREATE, 0, createParam) ||
        SendMessageA(hwnd, WM_CREATE, 0, createParam) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    if (!IsLive(hwnd)) // the window procedure destroyed it
        return nullptr;
    SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED,
                 (LPARAM)(hwnd->clientWidth | (hwnd->clientHeight << 16)));
    if (dwStyle & WS_VISIBLE)
        ShowWindow(hwnd, SW_SHOW);
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    if (!IsLive(hWnd) || hWnd->destroying)
        return FALSE;
    hWnd->destroying = true;
    SendMessageA(hWnd, WM_DESTROY, 0, 0);
    SendMessageA(hWnd, WM_NCDESTROY, 0, 0);
    auto& windows = LiveWindows();
    windows.erase(std::find(windows.begin(), windows.end(), hWnd));
    fw::win32::ForgetQueuedMessages(hWnd);
    ReleaseWindowSurface(hWnd);
    delete hWnd;
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    return IsLive(hWnd) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
    return IsLive(hWnd) && hWnd->visible ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    if (!IsLive(hWnd))
        return FALSE;
    BOOL wasVisible = hWnd->visible ? TRUE : FALSE;
    bool show = nCmdShow != SW_HIDE;
    if (show != hWnd->visible)
        SendMessageA(hWnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    if (!IsLive(hWnd))
        return wasVisible;
    {
        fw::LibraryScope scope;
        if (!show)
            SDL_HideWindow(hWnd->sdlWindow);
        else if (nCmdShow == SW_MINIMIZE)
            SDL_MinimizeWindow(hWnd->sdlWindow);
        else
            SDL_ShowWindow(hWnd->sdlWindow);
    }
    if (show && !hWnd->visible)
        hWnd->paintPending = true;
    hWnd->visible = show;
    return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
    if (!IsLive(hWnd))
        return FALSE;
    if (hWnd->paintPending && hWnd->visible) {
        hWnd->paintPending = false;
        SendMessageA(hWnd, WM_PAINT, 0, 0);
    }
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    if (!IsLive(hWnd) || !lpRect)
        return FALSE;
    *lpRect = RECT{0, 0, hWnd->clientWidth, hWnd->clientHeight};
    return TRUE;
}

HWND WINAPI GetForegroundWindow() {
    fw::LibraryScope scope;
    SDL_Window* focused = SDL_GetKeyboardFocus();
    return focused ? fw::win32::FindWindowBySdlId(SDL_GetWindowID(focused)) : nullptr;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR lpCursorName) {
    // Only the arrow exists; SDL shows it by default, so the handle is a marker.
    static int arrowCursor;
    if (lpCursorName != IDC_ARROW)
        return nullptr;
    return reinterpret_cast<HCURSOR>(&arrowCursor);
}
