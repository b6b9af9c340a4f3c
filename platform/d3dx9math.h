// D3DX math: vectors, matrices, quaternions, planes and colours with the SDK's
// layouts, operators and functions.
//
// Conventions: row vectors (v' = v * M), left-handed, y up; a matrix product
// A * B applies A first. Every function computes into a temporary before it
// writes its output, so the output may alias an input. Default constructors
// zero the record, so no math value is ever left uninitialised.
#pragma once

#include "platform/d3d9.h"

#include <cmath>

#define D3DX_PI ((FLOAT)3.141592654f)
#define D3DX_1BYPI ((FLOAT)0.318309886f)
#define D3DXToRadian(degree) ((degree) * (D3DX_PI / 180.0f))
#define D3DXToDegree(radian) ((radian) * (180.0f / D3DX_PI))

struct D3DXMATRIX;

struct D3DXVECTOR2 {
    FLOAT x = 0.0f;
    FLOAT y = 0.0f;

    D3DXVECTOR2() = default;
    explicit D3DXVECTOR2(const FLOAT* pf) : x(pf[0]), y(pf[1]) {}
    D3DXVECTOR2(FLOAT fx, FLOAT fy) : x(fx), y(fy) {}

    operator FLOAT*() { return &x; }
    operator const FLOAT*() const { return &x; }

    D3DXVECTOR2& operator+=(const D3DXVECTOR2& v) { return x += v.x, y += v.y, *this; }
    D3DXVECTOR2& operator-=(const D3DXVECTOR2& v) { return x -= v.x, y -= v.y, *this; }
    D3DXVECTOR2& operator*=(FLOAT f) { return x *= f, y *= f, *this; }
    D3DXVECTOR2& operator/=(FLOAT f) { return *this *= 1.0f / f; }

    D3DXVECTOR2 operator+() const { return *this; }
    D3DXVECTOR2 operator-() const { return {-x, -y}; }
    D3DXVECTOR2 operator+(const D3DXVECTOR2& v) const { return {x + v.x, y + v.y}; }
    D3DXVECTOR2 operator-(const D3DXVECTOR2& v) const { return {x - v.x, y - v.y}; }
    D3DXVECTOR2 operator*(FLOAT f) const { return {x * f, y * f}; }
    D3DXVECTOR2 operator/(FLOAT f) const { return *this * (1.0f / f); }
    friend D3DXVECTOR2 operator*(FLOAT f, const D3DXVECTOR2& v) { return v * f; }

    bool operator==(const D3DXVECTOR2& v) const { return x == v.x && y == v.y; }
    bool operator!=(const D3DXVECTOR2& v) const { return !(*this == v); }
};
typedef D3DXVECTOR2* LPD3DXVECTOR2;

struct D3DXVECTOR3 : public D3DVECTOR {
    D3DXVECTOR3() : D3DVECTOR() {}
    explicit D3DXVECTOR3(const FLOAT* pf) : D3DVECTOR() { x = pf[0], y = pf[1], z = pf[2]; }
    D3DXVECTOR3(const D3DVECTOR& v) : D3DVECTOR(v) {}
    D3DXVECTOR3(FLOAT fx, FLOAT fy, FLOAT fz) : D3DVECTOR() { x = fx, y = fy, z = fz; }

    operator FLOAT*() { return &x; }
    operator const FLOAT*() const { return &x; }

    D3DXVECTOR3& operator+=(const D3DXVECTOR3& v) { return x += v.x, y += v.y, z += v.z, *this; }
    D3DXVECTOR3& operator-=(const D3DXVECTOR3& v) { return x -= v.x, y -= v.y, z -= v.z, *this; }
    D3DXVECTOR3& operator*=(FLOAT f) { return x *= f, y *= f, z *= f, *this; }
    D3DXVECTOR3& operator/=(FLOAT f) { return *this *= 1.0f / f; }

    D3DXVECTOR3 operator+() const { return *this; }
    D3DXVECTOR3 operator-() const { return {-x, -y, -z}; }
    D3DXVECTOR3 operator+(const D3DXVECTOR3& v) const { return {x + v.x, y + v.y, z + v.z}; }
    D3DXVECTOR3 operator-(const D3DXVECTOR3& v) const { return {x - v.x, y - v.y, z - v.z}; }
    D3DXVECTOR3 operator*(FLOAT f) const { return {x * f, y * f, z * f}; }
    D3DXVECTOR3 operator/(FLOAT f) const { return *this * (1.0f / f); }
    friend D3DXVECTOR3 operator*(FLOAT f, const D3DXVECTOR3& v) { return v * f; }

    bool operator==(const D3DXVECTOR3& v) const { return x == v.x && y == v.y && z == v.z; }
    bool operator!=(const D3DXVECTOR3& v) const { return !(*this == v); }
};
typedef D3DXVECTOR3* LPD3DXVECTOR3;

struct D3DXVECTOR4 {
    FLOAT x = 0.0f;
    FLOAT y = 0.0f;
    FLOAT z = 0.0f;
    FLOAT w = 0.0f;

    D3DXVECTOR4() = default;
    explicit D3DXVECTOR4(const FLOAT* pf) : x(pf[0]), y(pf[1]), z(pf[2]), w(pf[3]) {}
    D3DXVECTOR4(const D3DVECTOR& v, FLOAT fw) : x(v.x), y(v.y), z(v.z), w(fw) {}
    D3DXVECTOR4(FLOAT fx, FLOAT fy, FLOAT fz, FLOAT fw) : x(fx), y(fy), z(fz), w(fw) {}

    operator FLOAT*() { return &x; }
    operator const FLOAT*() const { return &x; }

    D3DXVECTOR4& operator+=(const D3DXVECTOR4& v) {
        return x += v.x, y += v.y, z += v.z, w += v.w, *this;
    }
    D3DXVECTOR4& operator-=(const D3DXVECTOR4& v) {
        return x -= v.x, y -= v.y, z -= v.z, w -= v.w, *this;
    }
    D3DXVECTOR4& operator*=(FLOAT f) { return x *= f, y *= f, z *= f, w *= f, *this; }
    D3DXVECTOR4& operator/=(FLOAT f) { return *this *= 1.0f / f; }

    D3DXVECTOR4 operator+() const { return *this; }
    D3DXVECTOR4 operator-() const { return {-x, -y, -z, -w}; }
    D3DXVECTOR4 operator+(const D3DXVECTOR4& v) const {
        return {x + v.x, y + v.y, z + v.z, w + v.w};
    }
    D3DXVECTOR4 operator-(const D3DXVECTOR4& v) const {
        return {x - v.x, y - v.y, z - v.z, w - v.w};
    }
    D3DXVECTOR4 operator*(FLOAT f) const { return {x * f, y * f, z * f, w * f}; }
    D3DXVECTOR4 operator/(FLOAT f) const { return *this * (1.0f / f); }
    friend D3DXVECTOR4 operator*(FLOAT f, const D3DXVECTOR4& v) { return v * f; }

    bool operator==(const D3DXVECTOR4& v) const {
        return x == v.x && y == v.y && z == v.z && w == v.w;
    }
    bool operator!=(const D3DXVECTOR4& v) const { return !(*this == v); }
};
typedef D3DXVECTOR4* LPD3DXVECTOR4;

struct D3DXMATRIX : public D3DMATRIX {
    D3DXMATRIX() : D3DMATRIX() {}
    explicit D3DXMATRIX(const FLOAT* pf);
    D3DXMATRIX(const D3DMATRIX& mat) : D3DMATRIX(mat) {}
    D3DXMATRIX(FLOAT f11, FLOAT f12, FLOAT f13, FLOAT f14, FLOAT f21, FLOAT f22, FLOAT f23,
               FLOAT f24, FLOAT f31, FLOAT f32, FLOAT f33, FLOAT f34, FLOAT f41, FLOAT f42,
               FLOAT f43, FLOAT f44);

    FLOAT& operator()(UINT row, UINT col) { return m[row][col]; }
    FLOAT operator()(UINT row, UINT col) const { return m[row][col]; }

    operator FLOAT*() { return &_11; }
    operator const FLOAT*() const { return &_11; }

    D3DXMATRIX& operator*=(const D3DXMATRIX& mat);
    D3DXMATRIX& operator+=(const D3DXMATRIX& mat);
    D3DXMATRIX& operator-=(const D3DXMATRIX& mat);
    D3DXMATRIX& operator*=(FLOAT f);
    D3DXMATRIX& operator/=(FLOAT f) { return *this *= 1.0f / f; }

    D3DXMATRIX operator+() const { return *this; }
    D3DXMATRIX operator-() const { return *this * -1.0f; }
    D3DXMATRIX operator*(const D3DXMATRIX& mat) const { return D3DXMATRIX(*this) *= mat; }
    D3DXMATRIX operator+(const D3DXMATRIX& mat) const { return D3DXMATRIX(*this) += mat; }
    D3DXMATRIX operator-(const D3DXMATRIX& mat) const { return D3DXMATRIX(*this) -= mat; }
    D3DXMATRIX operator*(FLOAT f) const { return D3DXMATRIX(*this) *= f; }
    D3DXMATRIX operator/(FLOAT f) const { return D3DXMATRIX(*this) /= f; }
    friend D3DXMATRIX operator*(FLOAT f, const D3DXMATRIX& mat) { return mat * f; }

    bool operator==(const D3DXMATRIX& mat) const;
    bool operator!=(const D3DXMATRIX& mat) const { return !(*this == mat); }
};
typedef D3DXMATRIX* LPD3DXMATRIX;

#include "platform/d3dxmatrixa16.h"

struct D3DXQUATERNION {
    FLOAT x = 0.0f;
    FLOAT y = 0.0f;
    FLOAT z = 0.0f;
    FLOAT w = 0.0f;

    D3DXQUATERNION() = default;
    explicit D3DXQUATERNION(const FLOAT* pf) : x(pf[0]), y(pf[1]), z(pf[2]), w(pf[3]) {}
    D3DXQUATERNION(FLOAT fx, FLOAT fy, FLOAT fz, FLOAT fw) : x(fx), y(fy), z(fz), w(fw) {}

    operator FLOAT*() { return &x; }
    operator const FLOAT*() const { return &x; }

    D3DXQUATERNION& operator+=(const D3DXQUATERNION& q) {
        return x += q.x, y += q.y, z += q.z, w += q.w, *this;
    }
    D3DXQUATERNION& operator-=(const D3DXQUATERNION& q) {
        return x -= q.x, y -= q.y, z -= q.z, w -= q.w, *this;
    }
    D3DXQUATERNION& operator*=(const D3DXQUATERNION& q); // D3DXQuaternionMultiply(this, q)
    D3DXQUATERNION& operator*=(FLOAT f) { return x *= f, y *= f, z *= f, w *= f, *this; }
    D3DXQUATERNION& operator/=(FLOAT f) { return *this *= 1.0f / f; }

    D3DXQUATERNION operator+() const { return *this; }
    D3DXQUATERNION operator-() const { return {-x, -y, -z, -w}; }
    D3DXQUATERNION operator+(const D3DXQUATERNION& q) const {
        return {x + q.x, y + q.y, z + q.z, w + q.w};
    }
    D3DXQUATERNION operator-(const D3DXQUATERNION& q) const {
        return {x - q.x, y - q.y, z - q.z, w - q.w};
    }
    D3DXQUATERNION operator*(const D3DXQUATERNION& q) const { return D3DXQUATERNION(*this) *= q; }
    D3DXQUATERNION operator*(FLOAT f) const { return {x * f, y * f, z * f, w * f}; }
    D3DXQUATERNION operator/(FLOAT f) const { return *this * (1.0f / f); }
    friend D3DXQUATERNION operator*(FLOAT f, const D3DXQUATERNION& q) { return q * f; }

    bool operator==(const D3DXQUATERNION& q) const {
        return x == q.x && y == q.y && z == q.z && w == q.w;
    }
    bool operator!=(const D3DXQUATERNION& q) const { return !(*this == q); }
};
typedef D3DXQUATERNION* LPD3DXQUATERNION;

struct D3DXPLANE {
    FLOAT a = 0.0f;
    FLOAT b = 0.0f;
    FLOAT c = 0.0f;
    FLOAT d = 0.0f;

    D3DXPLANE() = default;
    explicit D3DXPLANE(const FLOAT* pf) : a(pf[0]), b(pf[1]), c(pf[2]), d(pf[3]) {}
    D3DXPLANE(FLOAT fa, FLOAT fb, FLOAT fc, FLOAT fd) : a(fa), b(fb), c(fc), d(fd) {}

    operator FLOAT*() { return &a; }
    operator const FLOAT*() const { return &a; }

    bool operator==(const D3DXPLANE& p) const {
        return a == p.a && b == p.b && c == p.c && d == p.d;
    }
    bool operator!=(const D3DXPLANE& p) const { return !(*this == p); }
};
typedef D3DXPLANE* LPD3DXPLANE;

// Floating-point colour; converts to and from a packed 0xAARRGGBB D3DCOLOR.
struct D3DXCOLOR {
    FLOAT r = 0.0f;
    FLOAT g = 0.0f;
    FLOAT b = 0.0f;
    FLOAT a = 0.0f;

    D3DXCOLOR() = default;
    D3DXCOLOR(DWORD argb);
    explicit D3DXCOLOR(const FLOAT* pf) : r(pf[0]), g(pf[1]), b(pf[2]), a(pf[3]) {}
    D3DXCOLOR(const D3DCOLORVALUE& c) : r(c.r), g(c.g), b(c.b), a(c.a) {}
    D3DXCOLOR(FLOAT fr, FLOAT fg, FLOAT fb, FLOAT fa) : r(fr), g(fg), b(fb), a(fa) {}

    operator DWORD() const; // each channel clamped to 0..1
    operator FLOAT*() { return &r; }
    operator const FLOAT*() const { return &r; }
    operator D3DCOLORVALUE&() { return *reinterpret_cast<D3DCOLORVALUE*>(&r); }
    operator const D3DCOLORVALUE&() const { return *reinterpret_cast<const D3DCOLORVALUE*>(&r); }

    D3DXCOLOR& operator+=(const D3DXCOLOR& c) {
        return r += c.r, g += c.g, b += c.b, a += c.a, *this;
    }
    D3DXCOLOR& operator-=(const D3DXCOLOR& c) {
        return r -= c.r, g -= c.g, b -= c.b, a -= c.a, *this;
    }
    D3DXCOLOR& operator*=(FLOAT f) { return r *= f, g *= f, b *= f, a *= f, *this; }
    D3DXCOLOR& operator/=(FLOAT f) { return *this *= 1.0f / f; }

    D3DXCOLOR operator+() const { return *this; }
    D3DXCOLOR operator-() const { return {-r, -g, -b, -a}; }
    D3DXCOLOR operator+(const D3DXCOLOR& c) const { return {r + c.r, g + c.g, b + c.b, a + c.a}; }
    D3DXCOLOR operator-(const D3DXCOLOR& c) const { return {r - c.r, g - c.g, b - c.b, a - c.a}; }
    D3DXCOLOR operator*(FLOAT f) const { return {r * f, g * f, b * f, a * f}; }
    D3DXCOLOR operator/(FLOAT f) const { return *this * (1.0f / f); }
    friend D3DXCOLOR operator*(FLOAT f, const D3DXCOLOR& c) { return c * f; }

    bool operator==(const D3DXCOLOR& c) const {
        return r == c.r && g == c.g && b == c.b && a == c.a;
    }
    bool operator!=(const D3DXCOLOR& c) const { return !(*this == c); }
};
typedef D3DXCOLOR* LPD3DXCOLOR;

static_assert(sizeof(D3DXVECTOR3) == 12 && sizeof(D3DXVECTOR4) == 16);
static_assert(sizeof(D3DXMATRIX) == 64 && sizeof(D3DXMATRIXA16) == 64);
static_assert(alignof(D3DXMATRIXA16) == 16);
static_assert(sizeof(D3DXQUATERNION) == 16 && sizeof(D3DXCOLOR) == 16);

// ---- 2D vectors ----
inline FLOAT D3DXVec2Length(const D3DXVECTOR2* pV) {
    return std::sqrt(pV->x * pV->x + pV->y * pV->y);
}
inline FLOAT D3DXVec2LengthSq(const D3DXVECTOR2* pV) {
    return pV->x * pV->x + pV->y * pV->y;
}
inline FLOAT D3DXVec2Dot(const D3DXVECTOR2* pV1, const D3DXVECTOR2* pV2) {
    return pV1->x * pV2->x + pV1->y * pV2->y;
}
inline D3DXVECTOR2* D3DXVec2Add(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV1, const D3DXVECTOR2* pV2) {
    *pOut = *pV1 + *pV2;
    return pOut;
}
inline D3DXVECTOR2* D3DXVec2Subtract(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV1,
                                     const D3DXVECTOR2* pV2) {
    *pOut = *pV1 - *pV2;
    return pOut;
}
inline D3DXVECTOR2* D3DXVec2Scale(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV, FLOAT s) {
    *pOut = *pV * s;
    return pOut;
}
inline D3DXVECTOR2* D3DXVec2Lerp(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV1, const D3DXVECTOR2* pV2,
                                 FLOAT s) {
    *pOut = *pV1 + (*pV2 - *pV1) * s;
    return pOut;
}
D3DXVECTOR2* WINAPI D3DXVec2Normalize(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV);

// ---- 3D vectors ----
inline FLOAT D3DXVec3LengthSq(const D3DXVECTOR3* pV) {
    return pV->x * pV->x + pV->y * pV->y + pV->z * pV->z;
}
inline FLOAT D3DXVec3Length(const D3DXVECTOR3* pV) {
    return std::sqrt(D3DXVec3LengthSq(pV));
}
inline FLOAT D3DXVec3Dot(const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2) {
    return pV1->x * pV2->x + pV1->y * pV2->y + pV1->z * pV2->z;
}
inline D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1,
                                  const D3DXVECTOR3* pV2) {
    D3DXVECTOR3 v(pV1->y * pV2->z - pV1->z * pV2->y, pV1->z * pV2->x - pV1->x * pV2->z,
                  pV1->x * pV2->y - pV1->y * pV2->x);
    *pOut = v;
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2) {
    *pOut = *pV1 + *pV2;
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1,
                                     const D3DXVECTOR3* pV2) {
    *pOut = *pV1 - *pV2;
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, FLOAT s) {
    *pOut = *pV * s;
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2,
                                 FLOAT s) {
    *pOut = *pV1 + (*pV2 - *pV1) * s;
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Minimize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1,
                                     const D3DXVECTOR3* pV2) {
    *pOut = D3DXVECTOR3(std::fmin(pV1->x, pV2->x), std::fmin(pV1->y, pV2->y),
                        std::fmin(pV1->z, pV2->z));
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Maximize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1,
                                     const D3DXVECTOR3* pV2) {
    *pOut = D3DXVECTOR3(std::fmax(pV1->x, pV2->x), std::fmax(pV1->y, pV2->y),
                        std::fmax(pV1->z, pV2->z));
    return pOut;
}
// A zero vector normalises to zero.
D3DXVECTOR3* WINAPI D3DXVec3Normalize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV);
// (x, y, z, 1) * M, then divided by the resulting w.
D3DXVECTOR3* WINAPI D3DXVec3TransformCoord(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV,
                                           const D3DXMATRIX* pM);
// (x, y, z, 0) * M: the upper 3x3 only, no translation.
D3DXVECTOR3* WINAPI D3DXVec3TransformNormal(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV,
                                            const D3DXMATRIX* pM);
// (x, y, z, 1) * M, all four components kept.
D3DXVECTOR4* WINAPI D3DXVec3Transform(D3DXVECTOR4* pOut, const D3DXVECTOR3* pV,
                                      const D3DXMATRIX* pM);
// Strided array forms; strides are in bytes.
D3DXVECTOR3* WINAPI D3DXVec3TransformCoordArray(D3DXVECTOR3* pOut, UINT OutStride,
                                                const D3DXVECTOR3* pV, UINT VStride,
                                                const D3DXMATRIX* pM, UINT n);
D3DXVECTOR3* WINAPI D3DXVec3TransformNormalArray(D3DXVECTOR3* pOut, UINT OutStride,
                                                 const D3DXVECTOR3* pV, UINT VStride,
                                                 const D3DXMATRIX* pM, UINT n);

// ---- 4D vectors ----
inline FLOAT D3DXVec4Dot(const D3DXVECTOR4* pV1, const D3DXVECTOR4* pV2) {
    return pV1->x * pV2->x + pV1->y * pV2->y + pV1->z * pV2->z + pV1->w * pV2->w;
}
inline FLOAT D3DXVec4Length(const D3DXVECTOR4* pV) {
    return std::sqrt(D3DXVec4Dot(pV, pV));
}
inline FLOAT D3DXVec4LengthSq(const D3DXVECTOR4* pV) {
    return D3DXVec4Dot(pV, pV);
}
inline D3DXVECTOR4* D3DXVec4Lerp(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV1, const D3DXVECTOR4* pV2,
                                 FLOAT s) {
    *pOut = *pV1 + (*pV2 - *pV1) * s;
    return pOut;
}
D3DXVECTOR4* WINAPI D3DXVec4Normalize(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV);
D3DXVECTOR4* WINAPI D3DXVec4Transform(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV,
                                      const D3DXMATRIX* pM);

// ---- Matrices ----
inline D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* pOut) {
    *pOut = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    return pOut;
}
inline BOOL D3DXMatrixIsIdentity(const D3DXMATRIX* pM) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (pM->m[r][c] != (r == c ? 1.0f : 0.0f))
                return FALSE;
    return TRUE;
}
FLOAT WINAPI D3DXMatrixDeterminant(const D3DXMATRIX* pM);
D3DXMATRIX* WINAPI D3DXMatrixTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM);
// pM1 * pM2: pM1 applies first.
D3DXMATRIX* WINAPI D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1,
                                      const D3DXMATRIX* pM2);
// transpose(pM1 * pM2)
D3DXMATRIX* WINAPI D3DXMatrixMultiplyTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM1,
                                               const D3DXMATRIX* pM2);
// Returns null and leaves pOut untouched when pM is singular; pDeterminant may be null.
D3DXMATRIX* WINAPI D3DXMatrixInverse(D3DXMATRIX* pOut, FLOAT* pDeterminant, const D3DXMATRIX* pM);
D3DXMATRIX* WINAPI D3DXMatrixScaling(D3DXMATRIX* pOut, FLOAT sx, FLOAT sy, FLOAT sz);
D3DXMATRIX* WINAPI D3DXMatrixTranslation(D3DXMATRIX* pOut, FLOAT x, FLOAT y, FLOAT z);
D3DXMATRIX* WINAPI D3DXMatrixRotationX(D3DXMATRIX* pOut, FLOAT Angle);
D3DXMATRIX* WINAPI D3DXMatrixRotationY(D3DXMATRIX* pOut, FLOAT Angle);
D3DXMATRIX* WINAPI D3DXMatrixRotationZ(D3DXMATRIX* pOut, FLOAT Angle);
D3DXMATRIX* WINAPI D3DXMatrixRotationAxis(D3DXMATRIX* pOut, const D3DXVECTOR3* pV, FLOAT Angle);
D3DXMATRIX* WINAPI D3DXMatrixRotationQuaternion(D3DXMATRIX* pOut, const D3DXQUATERNION* pQ);
// Roll about z, then pitch about x, then yaw about y.
D3DXMATRIX* WINAPI D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* pOut, FLOAT Yaw, FLOAT Pitch,
                                                  FLOAT Roll);
// Msc^-1 * Msr^-1 * Ms * Msr * Msc * Mrc^-1 * Mr * Mrc * Mt; every null argument is identity.
D3DXMATRIX* WINAPI D3DXMatrixTransformation(D3DXMATRIX* pOut, const D3DXVECTOR3* pScalingCenter,
                                            const D3DXQUATERNION* pScalingRotation,
                                            const D3DXVECTOR3* pScaling,
                                            const D3DXVECTOR3* pRotationCenter,
                                            const D3DXQUATERNION* pRotation,
                                            const D3DXVECTOR3* pTranslation);
// Ms * Mrc^-1 * Mr * Mrc * Mt with uniform scaling; every null argument is identity.
D3DXMATRIX* WINAPI D3DXMatrixAffineTransformation(D3DXMATRIX* pOut, FLOAT Scaling,
                                                  const D3DXVECTOR3* pRotationCenter,
                                                  const D3DXQUATERNION* pRotation,
                                                  const D3DXVECTOR3* pTranslation);
// Splits M into scale * rotation * translation; D3DERR_INVALIDCALL when a scale is zero.
HRESULT WINAPI D3DXMatrixDecompose(D3DXVECTOR3* pOutScale, D3DXQUATERNION* pOutRotation,
                                   D3DXVECTOR3* pOutTranslation, const D3DXMATRIX* pM);
D3DXMATRIX* WINAPI D3DXMatrixLookAtLH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye,
                                      const D3DXVECTOR3* pAt, const D3DXVECTOR3* pUp);
D3DXMATRIX* WINAPI D3DXMatrixLookAtRH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye,
                                      const D3DXVECTOR3* pAt, const D3DXVECTOR3* pUp);
// Depth maps zn..zf to 0..1.
D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovLH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT Aspect, FLOAT zn,
                                              FLOAT zf);
D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovRH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT Aspect, FLOAT zn,
                                              FLOAT zf);
D3DXMATRIX* WINAPI D3DXMatrixOrthoLH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf);
D3DXMATRIX* WINAPI D3DXMatrixOrthoOffCenterLH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t,
                                              FLOAT zn, FLOAT zf);

// ---- Quaternions ----
inline FLOAT D3DXQuaternionDot(const D3DXQUATERNION* pQ1, const D3DXQUATERNION* pQ2) {
    return pQ1->x * pQ2->x + pQ1->y * pQ2->y + pQ1->z * pQ2->z + pQ1->w * pQ2->w;
}
inline FLOAT D3DXQuaternionLengthSq(const D3DXQUATERNION* pQ) {
    return D3DXQuaternionDot(pQ, pQ);
}
inline FLOAT D3DXQuaternionLength(const D3DXQUATERNION* pQ) {
    return std::sqrt(D3DXQuaternionDot(pQ, pQ));
}
inline D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* pOut) {
    *pOut = D3DXQUATERNION(0, 0, 0, 1);
    return pOut;
}
inline BOOL D3DXQuaternionIsIdentity(const D3DXQUATERNION* pQ) {
    return pQ->x == 0 && pQ->y == 0 && pQ->z == 0 && pQ->w == 1;
}
inline D3DXQUATERNION* D3DXQuaternionConjugate(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ) {
    *pOut = D3DXQUATERNION(-pQ->x, -pQ->y, -pQ->z, pQ->w);
    return pOut;
}
// A zero quaternion normalises to zero.
D3DXQUATERNION* WINAPI D3DXQuaternionNormalize(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ);
D3DXQUATERNION* WINAPI D3DXQuaternionInverse(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ);
// Rotation pQ1 followed by rotation pQ2 (the Hamilton product pQ2 pQ1), like matrices.
D3DXQUATERNION* WINAPI D3DXQuaternionMultiply(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                              const D3DXQUATERNION* pQ2);
// Spherical interpolation along the shorter arc; t = 0 gives pQ1, t = 1 gives pQ2 (or -pQ2).
D3DXQUATERNION* WINAPI D3DXQuaternionSlerp(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                           const D3DXQUATERNION* pQ2, FLOAT t);
D3DXQUATERNION* WINAPI D3DXQuaternionRotationMatrix(D3DXQUATERNION* pOut, const D3DXMATRIX* pM);
D3DXQUATERNION* WINAPI D3DXQuaternionRotationAxis(D3DXQUATERNION* pOut, const D3DXVECTOR3* pV,
                                                  FLOAT Angle);
D3DXQUATERNION* WINAPI D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* pOut, FLOAT Yaw,
                                                          FLOAT Pitch, FLOAT Roll);
void WINAPI D3DXQuaternionToAxisAngle(const D3DXQUATERNION* pQ, D3DXVECTOR3* pAxis, FLOAT* pAngle);

// ---- Planes and colours ----
inline FLOAT D3DXPlaneDotCoord(const D3DXPLANE* pP, const D3DXVECTOR3* pV) {
    return pP->a * pV->x + pP->b * pV->y + pP->c * pV->z + pP->d;
}
inline FLOAT D3DXPlaneDotNormal(const D3DXPLANE* pP, const D3DXVECTOR3* pV) {
    return pP->a * pV->x + pP->b * pV->y + pP->c * pV->z;
}
D3DXPLANE* WINAPI D3DXPlaneFromPointNormal(D3DXPLANE* pOut, const D3DXVECTOR3* pPoint,
                                           const D3DXVECTOR3* pNormal);
D3DXPLANE* WINAPI D3DXPlaneNormalize(D3DXPLANE* pOut, const D3DXPLANE* pP);
inline D3DXCOLOR* D3DXColorLerp(D3DXCOLOR* pOut, const D3DXCOLOR* pC1, const D3DXCOLOR* pC2,
                                FLOAT s) {
    *pOut = *pC1 + (*pC2 - *pC1) * s;
    return pOut;
}
inline D3DXCOLOR* D3DXColorModulate(D3DXCOLOR* pOut, const D3DXCOLOR* pC1, const D3DXCOLOR* pC2) {
    *pOut = D3DXCOLOR(pC1->r * pC2->r, pC1->g * pC2->g, pC1->b * pC2->b, pC1->a * pC2->a);
    return pOut;
}
