// Kernel, multimedia-timer, COM and message-box services.
#include "platform/win32/host.h"
#include "platform/win32/window_impl.h"

#include <SDL.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

fw::MessageBoxHook& BoxHook() {
    static fw::MessageBoxHook hook;
    return hook;
}

// A box can only be shown on a real display; elsewhere it would fail or block forever.
bool CanShowBoxes() {
    if (fw::GetRunOptions().headless)
        return false;
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        return false;
    auto windowless = [](const char* driver) {
        return std::string(driver) == "offscreen" || std::string(driver) == "dummy";
    };
    // A box can come before any window, so the requested driver counts as well.
    if (const char* requested = std::getenv("SDL_VIDEODRIVER"); requested && windowless(requested))
        return false;
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        const char* driver = SDL_GetCurrentVideoDriver();
        if (!driver || windowless(driver))
            return false;
    }
    return true;
}

Uint32 BoxFlags(UINT type) {
    switch (type & 0xF0) {
    case MB_ICONERROR:
        return SDL_MESSAGEBOX_ERROR;
    case MB_ICONWARNING:
        return SDL_MESSAGEBOX_WARNING;
    default:
        return SDL_MESSAGEBOX_INFORMATION;
    }
}

} // namespace

namespace fw {

void SetMessageBoxHook(MessageBoxHook hook) {
    BoxHook() = std::move(hook);
}

} // namespace fw

void WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
    if (!lpOutputString)
        return;
    std::fputs(lpOutputString, stderr);
    std::fflush(stderr);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

DWORD WINAPI timeGetTime() {
    double fixedDt = fw::GetRunOptions().fixedDt;
    if (fixedDt >= 0.0) {
        // Reproducible runs: the clock moves only when a frame is presented.
        return (DWORD)(uint64_t)std::llround((double)fw::PresentedFrameCount() * fixedDt * 1000.0);
    }
    // Milliseconds since the process first asked, wrapping at 2^32 as the Windows clock
    // does. Counting from process start rather than boot keeps the float readings of the
    // frame clock exact to the millisecond for the first 4.6 hours of a run.
    static const auto start = std::chrono::steady_clock::now();
    auto elapsed = std::chrono::steady_clock::now() - start;
    return (DWORD)(uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

HRESULT WINAPI CoInitialize(LPVOID) {
    // Nothing here needs COM; the results follow Windows: S_OK once, then S_FALSE.
    static bool initialised = false;
    if (initialised)
        return S_FALSE;
    initialised = true;
    return S_OK;
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    const char* text = lpText ? lpText : "";
    const char* caption = lpCaption ? lpCaption : "Error";
    if (BoxHook())
        return BoxHook()(hWnd, text, caption, uType);
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    if (CanShowBoxes()) {
        fw::LibraryScope scope;
        SDL_Window* parent = fw::GetSdlWindow(hWnd);
        SDL_ShowSimpleMessageBox(BoxFlags(uType), caption, text, parent);
    }
    return IDOK;
}
