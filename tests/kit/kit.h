// Set-up shared by the test and benchmark programs: hidden windows, offscreen devices,
// references released at scope exit, and scratch files named per process.
#pragma once

#include "platform/d3d9.h"

#include <filesystem>
#include <memory>
#include <string>

namespace kit {

// Releases an interface when its owner goes out of scope.
struct Releaser {
    template <typename T> void operator()(T* object) const { object->Release(); }
};
template <typename T> using Ref = std::unique_ptr<T, Releaser>;

// A hidden width x height window with the default window procedure; null when none can be
// made. The offscreen video driver is used unless the environment names another.
HWND CreateTestWindow(const char* title, int width, int height);

// Dispatches every queued message, as the program's loop does between frames.
void PumpMessages();

// Windowed, discarding, X8R8G8B8 and presenting immediately; a depth buffer of depthFormat
// unless it is D3DFMT_UNKNOWN.
D3DPRESENT_PARAMETERS WindowedParams(UINT width, UINT height,
                                     D3DFORMAT depthFormat = D3DFMT_UNKNOWN);

// A hidden window and a device on it, released in reverse order. device is null (and
// result says why) when it could not be made.
class OffscreenDevice {
public:
    OffscreenDevice(const char* title, UINT width, UINT height,
                    D3DFORMAT depthFormat = D3DFMT_UNKNOWN);
    ~OffscreenDevice();
    OffscreenDevice(const OffscreenDevice&) = delete;
    OffscreenDevice& operator=(const OffscreenDevice&) = delete;

    HWND window = nullptr;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    D3DPRESENT_PARAMETERS params{};
    HRESULT result = E_FAIL; // of CreateDevice
};

// name inside this process's scratch folder, which is made on first use and removed when
// the process exits. The process id keeps programs that run side by side (ctest -j) off
// each other's files.
std::filesystem::path ScratchPath(const std::string& name);

// Writes size bytes to ScratchPath(name) and returns that path; empty when it cannot be
// written.
std::string WriteScratchFile(const std::string& name, const void* data, size_t size);

// Runs the data-set generator at assetgen into ScratchPath(name); the folder, or an empty
// path when the generator failed.
std::filesystem::path GenerateDataSet(const char* assetgen, const std::string& name);

} // namespace kit
