// D3DXMATRIXA16: a D3DXMATRIX on a 16-byte boundary, wherever it is declared or allocated.
// Included where D3DXMATRIX is defined: by the platform's D3DX math header, and by the
// Windows build's when the system's SDK lacks the type.
#pragma once

struct alignas(16) D3DXMATRIXA16 : public D3DXMATRIX {
    D3DXMATRIXA16() = default;
    explicit D3DXMATRIXA16(const FLOAT* pf) : D3DXMATRIX(pf) {}
    D3DXMATRIXA16(const D3DMATRIX& mat) : D3DXMATRIX(mat) {}
    D3DXMATRIXA16(FLOAT f11, FLOAT f12, FLOAT f13, FLOAT f14, FLOAT f21, FLOAT f22, FLOAT f23,
                  FLOAT f24, FLOAT f31, FLOAT f32, FLOAT f33, FLOAT f34, FLOAT f41, FLOAT f42,
                  FLOAT f43, FLOAT f44)
        : D3DXMATRIX(f11, f12, f13, f14, f21, f22, f23, f24, f31, f32, f33, f34, f41, f42, f43,
                     f44) {}
    D3DXMATRIXA16& operator=(const D3DXMATRIX& mat) {
        D3DXMATRIX::operator=(mat);
        return *this;
    }
};
typedef D3DXMATRIXA16* LPD3DXMATRIXA16;
static_assert(sizeof(D3DXMATRIXA16) == 64 && alignof(D3DXMATRIXA16) == 16);
