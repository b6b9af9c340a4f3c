// MessageBoxA: standard error always, an SDL box where a display can show one. Apart from
// the kernel services so that programs which never show a box load no SDL.
#include "platform/win32/host.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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
