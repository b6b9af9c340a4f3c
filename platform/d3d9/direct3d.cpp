// IDirect3D9: the adapter (the desktop) and device creation on a window's GL context.
#include "platform/d3d9/device_core.h"
#include "platform/d3d9/gl.h"
#include "platform/win32/host.h"

#include <SDL.h>

namespace fw::d3d9 {
bool failDirect3DCreate = false;
bool failCreateDevice = false;
} // namespace fw::d3d9

namespace d3d9 = fw::d3d9;

IDirect3D9* WINAPI Direct3DCreate9(UINT SDKVersion) {
    if (SDKVersion != D3D_SDK_VERSION || d3d9::failDirect3DCreate)
        return nullptr;
    return new IDirect3D9();
}

IDirect3D9::IDirect3D9() = default;

ULONG IDirect3D9::AddRef() {
    return ++refCount;
}

ULONG IDirect3D9::Release() {
    ULONG count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

UINT IDirect3D9::GetAdapterCount() {
    return 1;
}

HRESULT IDirect3D9::GetAdapterDisplayMode(UINT Adapter, D3DDISPLAYMODE* pMode) {
    if (Adapter != D3DADAPTER_DEFAULT || !pMode)
        return D3DERR_INVALIDCALL;
    SDL_DisplayMode mode{};
    {
        fw::LibraryScope scope;
        if (!SDL_WasInit(SDL_INIT_VIDEO) || SDL_GetDesktopDisplayMode(0, &mode) != 0)
            mode = {0, 1024, 768, 60, nullptr};
    }
    *pMode = {UINT(mode.w), UINT(mode.h), UINT(mode.refresh_rate), D3DFMT_X8R8G8B8};
    return D3D_OK;
}

HRESULT IDirect3D9::CheckDeviceType(UINT Adapter, D3DDEVTYPE, D3DFORMAT AdapterFormat,
                                    D3DFORMAT BackBufferFormat, BOOL) {
    if (Adapter != D3DADAPTER_DEFAULT)
        return D3DERR_INVALIDCALL;
    bool adapterOk = AdapterFormat == D3DFMT_X8R8G8B8;
    bool backOk = BackBufferFormat == D3DFMT_X8R8G8B8 || BackBufferFormat == D3DFMT_A8R8G8B8 ||
                  BackBufferFormat == D3DFMT_UNKNOWN;
    return adapterOk && backOk ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT IDirect3D9::CreateDevice(UINT Adapter, D3DDEVTYPE DeviceType, HWND hFocusWindow,
                                 DWORD BehaviorFlags,
                                 D3DPRESENT_PARAMETERS* pPresentationParameters,
                                 IDirect3DDevice9** ppReturnedDeviceInterface) {
    if (!ppReturnedDeviceInterface)
        return D3DERR_INVALIDCALL;
    *ppReturnedDeviceInterface = nullptr;
    if (d3d9::failCreateDevice)
        return D3DERR_NOTAVAILABLE;
    const DWORD vertexProcessing = D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                   D3DCREATE_HARDWARE_VERTEXPROCESSING |
                                   D3DCREATE_MIXED_VERTEXPROCESSING;
    if (Adapter != D3DADAPTER_DEFAULT || !pPresentationParameters || DeviceType < D3DDEVTYPE_HAL ||
        DeviceType > D3DDEVTYPE_SW || !(BehaviorFlags & vertexProcessing))
        return D3DERR_INVALIDCALL;
    D3DPRESENT_PARAMETERS params = *pPresentationParameters;
    HWND window = params.hDeviceWindow ? params.hDeviceWindow : hFocusWindow;
    if (params.EnableAutoDepthStencil && params.AutoDepthStencilFormat != D3DFMT_D16 &&
        params.AutoDepthStencilFormat != D3DFMT_D24X8 &&
        params.AutoDepthStencilFormat != D3DFMT_D24S8 &&
        params.AutoDepthStencilFormat != D3DFMT_D16_LOCKABLE)
        return D3DERR_INVALIDCALL;
    if (params.MultiSampleType != D3DMULTISAMPLE_NONE) {
        d3d9::WarnOnce("multisampled back buffers are not available");
        return D3DERR_NOTAVAILABLE;
    }
    SDL_Window* sdlWindow = fw::GetSdlWindow(window);
    void* context = sdlWindow ? fw::RetainGlContext(window) : nullptr;
    if (!context) {
        OutputDebugStringA("Direct3D9: CreateDevice needs a window made by CreateWindowExA\n");
        return D3DERR_INVALIDCALL;
    }
    if (!params.Windowed)
        d3d9::WarnOnce("full-screen presentation is shown in a window");
    {
        fw::LibraryScope scope;
        SDL_GL_MakeCurrent(sdlWindow, context);
        if (!d3d9::Gl().complete) {
            OutputDebugStringA("Direct3D9: the OpenGL driver lacks multitexture or buffer "
                               "objects; no device\n");
            fw::ReleaseGlContext(context);
            return D3DERR_NOTAVAILABLE;
        }
    }
    params.hDeviceWindow = window;
    d3d9::ResolvePresentParameters(window, params);
    *pPresentationParameters = params;
    auto core = std::make_unique<d3d9::DeviceCore>(this, window, sdlWindow, context, params);
    *ppReturnedDeviceInterface = new IDirect3DDevice9(std::move(core));
    return D3D_OK;
}
