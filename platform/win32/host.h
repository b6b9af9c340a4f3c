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
    int frames = 0;         // --frames N: close the window after N presented frames (0: never)
    double fixedDt = -1.0;  // --fixed-dt S: timeGetTime advances S seconds per frame (<0: real)
    std::string screenshot; // --screenshot FILE.png: the last presented frame
    std::string captureDir; // --capture DIR: every frame as DIR/frame_00001.png, ...
    bool headless = false;  // --headless: offscreen video driver, no display needed
    bool simulateDeviceLoss = false; // --simulate-device-loss: debug the recovery path
    std::string dataDir;             // --data DIR: working directory
    std::string model;     // --model FILE: the .X hierarchy loaded in place of the program's
    std::string animation; // --animation NAME: the set played whatever the program asks for
    bool fit = false;      // --fit: the model scaled to the default hero's size
};
const RunOptions& GetRunOptions();
void SetRunOptions(const RunOptions& options); // main() and tests

// True while WinMain runs under main(): a process that ends then was ended from inside (a
// library calling exit()), and the blocks still in use are not leaks.
bool ProgramRunning();
void SetProgramRunning(bool running); // main() and tests

// The SDL window and GL context behind a window handle (null when hwnd is not a window).
SDL_Window* GetSdlWindow(HWND hwnd);
void* GetGlContext(HWND hwnd);

// At process end (main() after WinMain): frees every window still open and every GL
// context, without sending messages, as Windows does for a process that ends.
void ReleaseAllWindows();

// A device keeps its window's GL context (and SDL window) alive past DestroyWindow, as a
// Direct3D device outlives its window. Returns the context (null when hwnd is not a window);
// pair every call with ReleaseGlContext. A context that is current when its window is
// destroyed and was never retained stays alive until the process ends.
void* RetainGlContext(HWND hwnd);
void ReleaseGlContext(void* glContext);

// The file a name written for Windows means here: '\' separates folders, and where the exact
// name does not exist, the path that matches it without regard to case (the exact name
// always wins). The name as given, with '/' for '\', when nothing matches.
std::string ResolveWindowsPath(const std::string& name);

// Reads a whole file that users bring (a model, a texture), named as on Windows. It must be a
// regular file of at most kMaxUserFileBytes; nothing blocks on a pipe or a device. False with
// a reason (naming the limit when the file is larger) otherwise.
constexpr size_t kMaxUserFileBytes = 256u << 20; // far beyond any real model or texture
bool ReadUserFile(const std::string& name, std::vector<uint8_t>& bytes, std::string& error);

// The device calls this after every Present. readBackBuffer fills RGBA8 pixels, rows
// top first, width x height. Handles --screenshot, --capture, --frames and --fixed-dt.
void OnFramePresented(HWND hwnd, int width, int height,
                      const std::function<void(std::vector<uint8_t>& rgba)>& readBackBuffer);

// Saves RGBA8 pixels (rows top first) as a PNG; false, with a line on the debug stream,
// when the file cannot be written.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba);
// Writes the last frame kept for --screenshot if it is not on disk yet (main() calls it
// after WinMain returns). True when nothing was pending or the file was written.
bool FlushScreenshot();
// Tests observe the frame loop here: called at the end of every OnFramePresented with the
// presenting window (empty function: none).
void SetFramePresentedHook(std::function<void(HWND)> hook);
// Ends the run as a user would close the window, with exitCode for main() to return (the
// larger one when called more than once). For run options that cannot be honoured.
void EndRun(int exitCode);
int RunExitCode();

// Milliseconds asked of Sleep by the program's thread since start: tests check a wait by
// what was asked, not by a clock.
uint64_t SleptMilliseconds();

// Frames presented since start (or since ResetFrameState, for tests).
uint64_t PresentedFrameCount();
void ResetFrameState();

// Tests capture message boxes instead of showing them (a shown box blocks until
// dismissed). A hook, when set, receives every MessageBoxA and its result is returned.
using MessageBoxHook = std::function<int(HWND, const char* text, const char* caption, UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook); // empty function: show boxes again

// The images of an icon group from the program's resources (for checks; null: none).
struct IconImageInfo {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
};
std::vector<IconImageInfo> DescribeIcon(HICON icon);

// Marks the program's calls into SDL and GL on this thread: blocks allocated inside
// a scope belong to the libraries, not to the program (see core/ memory report).
// Inline, because the tracker asks on every allocation: a read of a thread-local counter,
// with no guard function (constinit) and no call into another file.
namespace detail {
extern constinit thread_local int libraryScopeDepth; // scopes nest: SDL may call back into GL
}
class LibraryScope {
public:
    LibraryScope() { ++detail::libraryScopeDepth; }
    ~LibraryScope() { --detail::libraryScopeDepth; }
    LibraryScope(const LibraryScope&) = delete;
    LibraryScope& operator=(const LibraryScope&) = delete;
};
inline bool InLibraryScope() {
    return detail::libraryScopeDepth > 0;
}

} // namespace fw
