// The desktop's display mode, from SDL when its video is running (apart from the rest of
// the device so that programs that never ask load no SDL).
#include "platform/d3d9/device_core.h"
#include "platform/win32/host.h"

#include <SDL.h>

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

HRESULT IDirect3DDevice9::GetDisplayMode(UINT iSwapChain, D3DDISPLAYMODE* pMode) {
    if (iSwapChain != 0)
        return D3DERR_INVALIDCALL;
    return m_core->d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, pMode);
}
