// CreateGlDevice for programs that only read files: linked in place of the GL device, so that
// such a program loads neither SDL nor OpenGL, and says so when asked for a device that draws.
#include "platform/d3d9/device_core.h"

namespace fw::d3d9 {

HRESULT CreateGlDevice(IDirect3D9*, HWND, D3DPRESENT_PARAMETERS&, std::unique_ptr<DeviceCore>&) {
    OutputDebugStringA("Direct3D9: this program has no OpenGL device; it can only make "
                       "D3DDEVTYPE_NULLREF devices\n");
    return D3DERR_NOTAVAILABLE;
}

} // namespace fw::d3d9
