// IDirect3D9: device creation, on a window's GL context or (D3DDEVTYPE_NULLREF) on none.
#include "platform/d3d9/device_core.h"
#include "platform/win32/host.h"

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

HRESULT IDirect3D9::CheckDeviceType(UINT Adapter, D3DDEVTYPE DevType, D3DFORMAT AdapterFormat,
                                    D3DFORMAT BackBufferFormat, BOOL) {
    if (Adapter != D3DADAPTER_DEFAULT)
        return D3DERR_INVALIDCALL;
    if (DevType == D3DDEVTYPE_NULLREF)
        return D3DERR_NOTAVAILABLE; // as documented: a NULLREF device has no display modes
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
        DeviceType > D3DDEVTYPE_NULLREF || !(BehaviorFlags & vertexProcessing))
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
    std::unique_ptr<d3d9::DeviceCore> core;
    if (DeviceType == D3DDEVTYPE_NULLREF) {
        // Nothing to draw into, so no window is needed and none is touched: tools that only
        // read files start neither a window system nor a GL driver.
        params.hDeviceWindow = window;
        d3d9::ResolvePresentParameters(1, 1, params);
        core = std::make_unique<d3d9::DeviceCore>(this, window, params);
    } else if (HRESULT hr = d3d9::CreateGlDevice(this, window, params, core); FAILED(hr)) {
        return hr;
    }
    *pPresentationParameters = core->params;
    *ppReturnedDeviceInterface = new IDirect3DDevice9(std::move(core));
    return D3D_OK;
}
