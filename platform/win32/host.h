// Services of the Linux host shared by the parts of platform/ (window, GL context,
// run options, frame hooks, library scopes). Nothing above platform/ includes this.
#pragma once

#include "platform/windows.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct SDL_Window;

namespace fw {

// Options of the platform's main(); all optional, none changes what the program does.
struct RunOptions {
    int frames = 0;             // --frames N: close the window after N presented frames (0: never)
    double fixedDt = -1.0;      // --fixed-dt S: timeGetTime advances S seconds per frame (<0: real)
    std::string screenshot;     // --screenshot FILE.png: the last presented frame
    std::string captureDir;     // --capture DIR: every frame as DIR/frame_00001.png, ...
    bool headless = false;      // --headless: offscreen video driver, no display needed
    bool simulateDeviceLoss = false; // --simulate-device-loss: debug the recovery path
    std::string dataDir;        // --data DIR: working directory
};
const RunOptions& GetRunOptions();
void SetRunOptions(const RunOptions& options); // main() and tests

// The SDL window and GL context behind a window handle (null when hwnd is not a window).
SDL_Window* GetSdlWindow(HWND hwnd);
void* GetGlContext(HWND hwnd);

// The device calls this after every Present. readBackBuffer fills RGBA8 pixels, rows
// top first, width x height. Handles --screenshot, --capture, --frames and --fixed-dt.
void OnFramePresented(HWND hwnd, int width, int height,
                      const std::function<void(std::vector<uint8_t>& rgba)>& readBackBuffer);

// Tests capture message boxes instead of showing them (a shown box blocks until
// dismissed). A hook, when set, receives every MessageBoxA and its result is returned.
using MessageBoxHook = std::function<int(HWND, const char* text, const char* caption, UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook); // empty function: show boxes again

// Marks the program's calls into SDL and GL on this thread: blocks allocated inside
// a scope belong to the libraries, not to the program (see core/ memory report).
class LibraryScope {
public:
    LibraryScope();
    ~LibraryScope();
    LibraryScope(const LibraryScope&) = delete;
    LibraryScope& operator=(const LibraryScope&) = delete;
};
bool InLibraryScope();

} // namespace fw
