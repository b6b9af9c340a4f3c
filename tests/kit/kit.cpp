#include "kit.h"

#include <cstdlib>

namespace kit {

namespace {

constexpr const char* kWindowClass = "FerrowalkTestWindow";

} // namespace

HWND CreateTestWindow(const char* title, int width, int height) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    static const bool registered = [] {
        WNDCLASSEXA cls{};
        cls.cbSize = sizeof(cls);
        cls.lpfnWndProc = DefWindowProcA;
        cls.lpszClassName = kWindowClass;
        return RegisterClassExA(&cls) != 0;
    }();
    if (!registered)
        return nullptr;
    return CreateWindowExA(0, kWindowClass, title, WS_OVERLAPPEDWINDOW, 0, 0, width, height,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

D3DPRESENT_PARAMETERS WindowedParams(UINT width, UINT height, D3DFORMAT depthFormat) {
    D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = width;
    params.BackBufferHeight = height;
    params.BackBufferFormat = D3DFMT_X8R8G8B8;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.Windowed = TRUE;
    params.EnableAutoDepthStencil = depthFormat != D3DFMT_UNKNOWN;
    params.AutoDepthStencilFormat = depthFormat;
    params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    return params;
}

OffscreenDevice::OffscreenDevice(const char* title, UINT width, UINT height, D3DFORMAT depthFormat)
    : params(WindowedParams(width, height, depthFormat)) {
    window = CreateTestWindow(title, int(width), int(height));
    d3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (!window || !d3d)
        return;
    result = d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                               D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device);
    if (FAILED(result))
        device = nullptr;
}

OffscreenDevice::~OffscreenDevice() {
    if (device)
        device->Release();
    if (d3d)
        d3d->Release();
    if (window)
        DestroyWindow(window);
}

} // namespace kit
