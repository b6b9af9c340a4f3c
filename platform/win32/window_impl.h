// Window objects and the message queue shared by the files of platform/win32.
#pragma once

#include "platform/windows.h"

#include <string>
#include <vector>

struct SDL_Window;

// HWND points at one of these. A window lives from CreateWindowExA until DestroyWindow;
// its SDL window and GL context may outlive it while a device still uses them.
struct HWND__ {
    WNDPROC proc = nullptr;
    std::string className;
    std::string title;
    SDL_Window* sdlWindow = nullptr;
    void* glContext = nullptr;
    uint32_t sdlWindowId = 0;
    int clientWidth = 0;
    int clientHeight = 0;
    bool visible = false;
    bool paintPending = false;
    bool destroying = false;
};

namespace fw::win32 {

// The live window that SDL knows by this id, or null.
HWND FindWindowBySdlId(uint32_t windowId);
// The first live top-level window, or null; every live window, oldest first.
HWND FirstWindow();
const std::vector<HWND>& Windows();
// Starts SDL's video subsystem once (honours --headless). False when SDL cannot start.
bool EnsureVideo();
// Drops every queued message addressed to hwnd (the window is going away).
void ForgetQueuedMessages(HWND hwnd);
// How the frame state closes the run (EndRun, --frames): WM_CLOSE to window if it is a
// live window, else to the first one. Handed over when a window is made, so that the
// frame state links no window system in programs that never make one.
using RunCloser = void (*)(HWND window);
void SetRunCloser(RunCloser close);
// Sets the window's SDL icon from an icon handle.
void ApplyWindowIcon(SDL_Window* window, HICON icon);

} // namespace fw::win32
