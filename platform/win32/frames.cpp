// What happens after each presented frame: screenshots, captures and the frame limit.
#include "platform/win32/host.h"
#include "platform/win32/window_impl.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

struct Frame {
    std::vector<uint8_t> rgba;
    int width = 0;
    int height = 0;
};

struct FrameState {
    uint64_t presented = 0;
    Frame last; // kept for --screenshot until it is written
    bool lastWritten = true;
    bool lastWriteFailed = false;
    bool closeRequested = false;
    int exitCode = 0;
};

std::function<void(HWND)>& PresentedHook() {
    static std::function<void(HWND)> hook;
    return hook;
}

FrameState& State() {
    static FrameState state;
    return state;
}

fw::win32::RunCloser& Closer() {
    static fw::win32::RunCloser close = nullptr; // no window yet: nothing to close
    return close;
}

bool ReadFrame(int width, int height,
               const std::function<void(std::vector<uint8_t>&)>& readBackBuffer, Frame& frame) {
    if (width <= 0 || height <= 0 || !readBackBuffer)
        return false;
    frame.width = width;
    frame.height = height;
    frame.rgba.assign((size_t)width * height * 4, 0);
    readBackBuffer(frame.rgba);
    if (frame.rgba.size() != (size_t)width * height * 4)
        return false;
    // The back buffer has no alpha channel the program can see: saved frames are opaque.
    for (size_t i = 3; i < frame.rgba.size(); i += 4)
        frame.rgba[i] = 255;
    return true;
}

} // namespace

namespace fw {

void win32::SetRunCloser(win32::RunCloser close) {
    Closer() = close;
}

bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba) {
    if (width <= 0 || height <= 0 || rgba.size() != (size_t)width * height * 4) {
        OutputDebugStringA(("Cannot save " + path + ": no frame\n").c_str());
        return false;
    }
    // Written beside the target and renamed, so a reader never sees half a file.
    std::string temporary = path + ".tmp";
    if (!stbi_write_png(temporary.c_str(), width, height, 4, rgba.data(), width * 4)) {
        OutputDebugStringA(("Cannot write " + path + "\n").c_str());
        std::remove(temporary.c_str());
        return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        OutputDebugStringA(("Cannot write " + path + ": " + error.message() + "\n").c_str());
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool FlushScreenshot() {
    FrameState& state = State();
    const std::string& path = GetRunOptions().screenshot;
    if (path.empty())
        return true;
    if (!state.lastWritten) {
        state.lastWritten = true;
        state.lastWriteFailed =
            !WritePng(path, state.last.width, state.last.height, state.last.rgba);
    }
    return !state.lastWriteFailed; // a failed write stays failed: the exit code says so
}

void EndRun(int exitCode) {
    FrameState& state = State();
    state.exitCode = std::max(state.exitCode, exitCode);
    if (Closer())
        Closer()(nullptr);
}

int RunExitCode() {
    return State().exitCode;
}

uint64_t PresentedFrameCount() {
    return State().presented;
}

void SetFramePresentedHook(std::function<void(HWND)> hook) {
    PresentedHook() = std::move(hook);
}

void ResetFrameState() {
    State() = FrameState{};
}

void OnFramePresented(HWND hwnd, int width, int height,
                      const std::function<void(std::vector<uint8_t>& rgba)>& readBackBuffer) {
    FrameState& state = State();
    const RunOptions& options = GetRunOptions();
    ++state.presented;

    if (!options.captureDir.empty() || !options.screenshot.empty()) {
        Frame frame;
        if (ReadFrame(width, height, readBackBuffer, frame)) {
            if (!options.captureDir.empty()) {
                char name[32];
                std::snprintf(name, sizeof name, "frame_%05llu.png",
                              (unsigned long long)state.presented);
                WritePng((std::filesystem::path(options.captureDir) / name).string(), width, height,
                         frame.rgba);
            }
            if (!options.screenshot.empty()) {
                state.last = std::move(frame);
                state.lastWritten = false;
            }
        }
    }

    if (options.frames > 0 && state.presented >= (uint64_t)options.frames &&
        !state.closeRequested) {
        state.closeRequested = true;
        FlushScreenshot();
        // Closed as a user would close it: WM_CLOSE through the queue.
        if (Closer())
            Closer()(hwnd);
    }
    if (PresentedHook())
        PresentedHook()(hwnd);
}

} // namespace fw
