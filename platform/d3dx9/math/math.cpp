// D3DX math functions. Row vectors, left-handed; results are computed into a
// temporary first so that outputs may alias inputs.
#include "platform/d3dx9math.h"

#include <algorithm>
#include <cmath>

// ---- Records ----

D3DXMATRIX::D3DXMATRIX(const FLOAT* pf) : D3DMATRIX() {
    std::copy(pf, pf + 16, &_11);
}

D3DXMATRIX::D3DXMATRIX(FLOAT f11, FLOAT f12, FLOAT f13, FLOAT f14, FLOAT f21, FLOAT f22, FLOAT f23,
                       FLOAT f24, FLOAT f31, FLOAT f32, FLOAT f33, FLOAT f34, FLOAT f41, FLOAT f42,
                       FLOAT f43, FLOAT f44)
    : D3DMATRIX() {
    _11 = f11, _12 = f12, _13 = f13, _14 = f14;
    _21 = f21, _22 = f22, _23 = f23, _24 = f24;
    _31 = f31, _32 = f32, _33 = f33, _34 = f34;
    _41 = f41, _42 = f42, _43 = f43, _44 = f44;
}

D3DXMATRIX& D3DXMATRIX::operator*=(const D3DXMATRIX& mat) {
    D3DXMatrixMultiply(this, this, &mat);
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator+=(const D3DXMATRIX& mat) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] += mat.m[r][c];
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator-=(const D3DXMATRIX& mat) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] -= mat.m[r][c];
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator*=(FLOAT f) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] *= f;
    return *this;
}

bool D3DXMATRIX::operator==(const D3DXMATRIX& mat) const {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (m[r][c] != mat.m[r][c])
                return false;
    return true;
}

D3DXQUATERNION& D3DXQUATERNION::operator*=(const D3DXQUATERNION& q) {
    D3DXQuaternionMultiply(this, this, &q);
    return *this;
}

D3DXCOLOR::D3DXCOLOR(DWORD argb)
    : r(((argb >> 16) & 0xff) / 255.0f), g(((argb >> 8) & 0xff) / 255.0f),
      b((argb & 0xff) / 255.0f), a(((argb >> 24) & 0xff) / 255.0f) {}

D3DXCOLOR::operator DWORD() const {
    auto channel = [](FLOAT v) -> DWORD {
        return v >= 1.0f ? 0xff : v <= 0.0f ? 0 : (DWORD)(v * 255.0f + 0.5f);
    };
    return (channel(a) << 24) | (channel(r) << 16) | (channel(g) << 8) | channel(b);
}

// ---- Vectors ----

D3DXVECTOR2* WINAPI D3DXVec2Normalize(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV) {
    FLOAT length = D3DXVec2Length(pV);
    *pOut = length == 0.0f ? D3DXVECTOR2() : *pV / length;
    return pOut;
}

D3DXVECTOR3* WINAPI D3DXVec3Normalize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV) {
    FLOAT length = D3DXVec3Length(pV);
    *pOut = length == 0.0f ? D3DXVECTOR3() : *pV / length;
    return pOut;
}

D3DXVECTOR4* WINAPI D3DXVec4Normalize(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV) {
    FLOAT length = D3DXVec4Length(pV);
    *pOut = length == 0.0f ? D3DXVECTOR4() : *pV / length;
    return pOut;
}

D3DXVECTOR4* WINAPI D3DXVec3Transform(D3DXVECTOR4* pOut, const D3DXVECTOR3* pV,
                                      const D3DXMATRIX* pM) {
    const D3DXVECTOR3 v = *pV;
    *pOut = D3DXVECTOR4(v.x * pM->_11 + v.y * pM->_21 + v.z * pM->_31 + pM->_41,
                        v.x * pM->_12 + v.y * pM->_22 + v.z * pM->_32 + pM->_42,
                        v.x * pM->_13 + v.y * pM->_23 + v.z * pM->_33 + pM->_43,
                        v.x * pM->_14 + v.y * pM->_24 + v.z * pM->_34 + pM->_44);
    return pOut;
}

D3DXVECTOR3* WINAPI D3DXVec3TransformCoord(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV,
                                           const D3DXMATRIX* pM) {
    D3DXVECTOR4 h;
    D3DXVec3Transform(&h, pV, pM);
    *pOut = D3DXVECTOR3(h.x / h.w, h.y / h.w, h.z / h.w);
    return pOut;
}

D3DXVECTOR3* WINAPI D3DXVec3TransformNormal(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV,
                                            const D3DXMATRIX* pM) {
    const D3DXVECTOR3 v = *pV;
    *pOut = D3DXVECTOR3(v.x * pM->_11 + v.y * pM->_21 + v.z * pM->_31,
                        v.x * pM->_12 + v.y * pM->_22 + v.z * pM->_32,
                        v.x * pM->_13 + v.y * pM->_23 + v.z * pM->_33);
    return pOut;
}

namespace {

template <typename T> T* Stride(T* base, UINT stride, UINT i) {
    using Byte = std::conditional_t<std::is_const_v<T>, const BYTE, BYTE>;
    return reinterpret_cast<T*>(reinterpret_cast<Byte*>(base) + size_t(stride) * i);
}

} // namespace

D3DXVECTOR3* WINAPI D3DXVec3TransformCoordArray(D3DXVECTOR3* pOut, UINT OutStride,
                                                const D3DXVECTOR3* pV, UINT VStride,
                                                const D3DXMATRIX* pM, UINT n) {
    for (UINT i = 0; i < n; ++i)
        D3DXVec3TransformCoord(Stride(pOut, OutStride, i), Stride(pV, VStride, i), pM);
    return pOut;
}

D3DXVECTOR3* WINAPI D3DXVec3TransformNormalArray(D3DXVECTOR3* pOut, UINT OutStride,
                                                 const D3DXVECTOR3* pV, UINT VStride,
                                                 const D3DXMATRIX* pM, UINT n) {
    for (UINT i = 0; i < n; ++i)
        D3DXVec3TransformNormal(Stride(pOut, OutStride, i), Stride(pV, VStride, i), pM);
    return pOut;
}

D3DXVECTOR4* WINAPI D3DXVec4Transform(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV,
                                      const D3DXMATRIX* pM) {
    const D3DXVECTOR4 v = *pV;
    D3DXVECTOR4 out;
    for (int c = 0; c < 4; ++c)
        (&out.x)[c] = v.x * pM->m[0][c] + v.y * pM->m[1][c] + v.z * pM->m[2][c] + v.w * pM->m[3][c];
    *pOut = out;
    return pOut;
}

// ---- Matrices ----

D3DXMATRIX* WINAPI D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1,
                                      const D3DXMATRIX* pM2) {
    D3DXMATRIX out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out.m[r][c] = pM1->m[r][0] * pM2->m[0][c] + pM1->m[r][1] * pM2->m[1][c] +
                          pM1->m[r][2] * pM2->m[2][c] + pM1->m[r][3] * pM2->m[3][c];
    *pOut = out;
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM) {
    D3DXMATRIX out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out.m[r][c] = pM->m[c][r];
    *pOut = out;
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixMultiplyTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM1,
                                               const D3DXMATRIX* pM2) {
    D3DXMatrixMultiply(pOut, pM1, pM2);
    return D3DXMatrixTranspose(pOut, pOut);
}

namespace {

// Cofactor expansion through the 2x2 minors of the top and bottom row pairs, in
// double precision so that ill-conditioned bone matrices keep their digits.
struct Minors {
    double s[6]; // 2x2 minors of rows 0-1
    double c[6]; // 2x2 minors of rows 2-3
};

Minors ComputeMinors(const D3DXMATRIX& a) {
    auto m = [&](int r, int c) { return double(a.m[r][c]); };
    Minors k;
    k.s[0] = m(0, 0) * m(1, 1) - m(1, 0) * m(0, 1);
    k.s[1] = m(0, 0) * m(1, 2) - m(1, 0) * m(0, 2);
    k.s[2] = m(0, 0) * m(1, 3) - m(1, 0) * m(0, 3);
    k.s[3] = m(0, 1) * m(1, 2) - m(1, 1) * m(0, 2);
    k.s[4] = m(0, 1) * m(1, 3) - m(1, 1) * m(0, 3);
    k.s[5] = m(0, 2) * m(1, 3) - m(1, 2) * m(0, 3);
    k.c[5] = m(2, 2) * m(3, 3) - m(3, 2) * m(2, 3);
    k.c[4] = m(2, 1) * m(3, 3) - m(3, 1) * m(2, 3);
    k.c[3] = m(2, 1) * m(3, 2) - m(3, 1) * m(2, 2);
    k.c[2] = m(2, 0) * m(3, 3) - m(3, 0) * m(2, 3);
    k.c[1] = m(2, 0) * m(3, 2) - m(3, 0) * m(2, 2);
    k.c[0] = m(2, 0) * m(3, 1) - m(3, 0) * m(2, 1);
    return k;
}

double Determinant(const Minors& k) {
    return k.s[0] * k.c[5] - k.s[1] * k.c[4] + k.s[2] * k.c[3] + k.s[3] * k.c[2] - k.s[4] * k.c[1] +
           k.s[5] * k.c[0];
}

} // namespace

FLOAT WINAPI D3DXMatrixDeterminant(const D3DXMATRIX* pM) {
    return (FLOAT)Determinant(ComputeMinors(*pM));
}

D3DXMATRIX* WINAPI D3DXMatrixInverse(D3DXMATRIX* pOut, FLOAT* pDeterminant, const D3DXMATRIX* pM) {
    const Minors k = ComputeMinors(*pM);
    const double det = Determinant(k);
    if (pDeterminant)
        *pDeterminant = (FLOAT)det;
    if (det == 0.0 || !std::isfinite(det))
        return nullptr;

    auto m = [&](int r, int c) { return double(pM->m[r][c]); };
    const double inv = 1.0 / det;
    const double out[16] = {
        (m(1, 1) * k.c[5] - m(1, 2) * k.c[4] + m(1, 3) * k.c[3]) * inv,
        (-m(0, 1) * k.c[5] + m(0, 2) * k.c[4] - m(0, 3) * k.c[3]) * inv,
        (m(3, 1) * k.s[5] - m(3, 2) * k.s[4] + m(3, 3) * k.s[3]) * inv,
        (-m(2, 1) * k.s[5] + m(2, 2) * k.s[4] - m(2, 3) * k.s[3]) * inv,

        (-m(1, 0) * k.c[5] + m(1, 2) * k.c[2] - m(1, 3) * k.c[1]) * inv,
        (m(0, 0) * k.c[5] - m(0, 2) * k.c[2] + m(0, 3) * k.c[1]) * inv,
        (-m(3, 0) * k.s[5] + m(3, 2) * k.s[2] - m(3, 3) * k.s[1]) * inv,
        (m(2, 0) * k.s[5] - m(2, 2) * k.s[2] + m(2, 3) * k.s[1]) * inv,

        (m(1, 0) * k.c[4] - m(1, 1) * k.c[2] + m(1, 3) * k.c[0]) * inv,
        (-m(0, 0) * k.c[4] + m(0, 1) * k.c[2] - m(0, 3) * k.c[0]) * inv,
        (m(3, 0) * k.s[4] - m(3, 1) * k.s[2] + m(3, 3) * k.s[0]) * inv,
        (-m(2, 0) * k.s[4] + m(2, 1) * k.s[2] - m(2, 3) * k.s[0]) * inv,

        (-m(1, 0) * k.c[3] + m(1, 1) * k.c[1] - m(1, 2) * k.c[0]) * inv,
        (m(0, 0) * k.c[3] - m(0, 1) * k.c[1] + m(0, 2) * k.c[0]) * inv,
        (-m(3, 0) * k.s[3] + m(3, 1) * k.s[1] - m(3, 2) * k.s[0]) * inv,
        (m(2, 0) * k.s[3] - m(2, 1) * k.s[1] + m(2, 2) * k.s[0]) * inv,
    };
    for (int i = 0; i < 16; ++i)
        (&pOut->_11)[i] = (FLOAT)out[i];
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixScaling(D3DXMATRIX* pOut, FLOAT sx, FLOAT sy, FLOAT sz) {
    *pOut = D3DXMATRIX(sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, sz, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixTranslation(D3DXMATRIX* pOut, FLOAT x, FLOAT y, FLOAT z) {
    *pOut = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1);
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationX(D3DXMATRIX* pOut, FLOAT Angle) {
    const FLOAT c = std::cos(Angle), s = std::sin(Angle);
    *pOut = D3DXMATRIX(1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationY(D3DXMATRIX* pOut, FLOAT Angle) {
    const FLOAT c = std::cos(Angle), s = std::sin(Angle);
    *pOut = D3DXMATRIX(c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationZ(D3DXMATRIX* pOut, FLOAT Angle) {
    const FLOAT c = std::cos(Angle), s = std::sin(Angle);
    *pOut = D3DXMATRIX(c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationAxis(D3DXMATRIX* pOut, const D3DXVECTOR3* pV, FLOAT Angle) {
    D3DXQUATERNION q;
    D3DXQuaternionRotationAxis(&q, pV, Angle);
    return D3DXMatrixRotationQuaternion(pOut, &q);
}

D3DXMATRIX* WINAPI D3DXMatrixRotationQuaternion(D3DXMATRIX* pOut, const D3DXQUATERNION* pQ) {
    const FLOAT x = pQ->x, y = pQ->y, z = pQ->z, w = pQ->w;
    *pOut = D3DXMATRIX(1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w), 0,
                       2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w), 0,
                       2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y), 0, 0, 0,
                       0, 1);
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* pOut, FLOAT Yaw, FLOAT Pitch,
                                                  FLOAT Roll) {
    D3DXMATRIX roll, pitch, yaw;
    D3DXMatrixRotationZ(&roll, Roll);
    D3DXMatrixRotationX(&pitch, Pitch);
    D3DXMatrixRotationY(&yaw, Yaw);
    *pOut = roll * pitch * yaw;
    return pOut;
}

namespace {

D3DXMATRIX TranslationOf(const D3DXVECTOR3* v, FLOAT sign) {
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, sign * v->x, sign * v->y, sign * v->z);
    return m;
}

} // namespace

D3DXMATRIX* WINAPI D3DXMatrixTransformation(D3DXMATRIX* pOut, const D3DXVECTOR3* pScalingCenter,
                                            const D3DXQUATERNION* pScalingRotation,
                                            const D3DXVECTOR3* pScaling,
                                            const D3DXVECTOR3* pRotationCenter,
                                            const D3DXQUATERNION* pRotation,
                                            const D3DXVECTOR3* pTranslation) {
    D3DXMATRIX out;
    D3DXMatrixIdentity(&out);
    if (pScaling) {
        D3DXMATRIX scalingRotation, scaling;
        D3DXMatrixIdentity(&scalingRotation);
        if (pScalingRotation)
            D3DXMatrixRotationQuaternion(&scalingRotation, pScalingRotation);
        D3DXMATRIX inverseScalingRotation;
        D3DXMatrixTranspose(&inverseScalingRotation, &scalingRotation);
        D3DXMatrixScaling(&scaling, pScaling->x, pScaling->y, pScaling->z);
        if (pScalingCenter)
            out = TranslationOf(pScalingCenter, -1.0f);
        out = out * inverseScalingRotation * scaling * scalingRotation;
        if (pScalingCenter)
            out = out * TranslationOf(pScalingCenter, 1.0f);
    }
    if (pRotation) {
        D3DXMATRIX rotation;
        D3DXMatrixRotationQuaternion(&rotation, pRotation);
        if (pRotationCenter)
            out = out * TranslationOf(pRotationCenter, -1.0f);
        out = out * rotation;
        if (pRotationCenter)
            out = out * TranslationOf(pRotationCenter, 1.0f);
    }
    if (pTranslation)
        out = out * TranslationOf(pTranslation, 1.0f);
    *pOut = out;
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixAffineTransformation(D3DXMATRIX* pOut, FLOAT Scaling,
                                                  const D3DXVECTOR3* pRotationCenter,
                                                  const D3DXQUATERNION* pRotation,
                                                  const D3DXVECTOR3* pTranslation) {
    const D3DXVECTOR3 scaling(Scaling, Scaling, Scaling);
    return D3DXMatrixTransformation(pOut, nullptr, nullptr, &scaling, pRotationCenter, pRotation,
                                    pTranslation);
}

HRESULT WINAPI D3DXMatrixDecompose(D3DXVECTOR3* pOutScale, D3DXQUATERNION* pOutRotation,
                                   D3DXVECTOR3* pOutTranslation, const D3DXMATRIX* pM) {
    D3DXVECTOR3 rows[3] = {
        {pM->_11, pM->_12, pM->_13}, {pM->_21, pM->_22, pM->_23}, {pM->_31, pM->_32, pM->_33}};
    D3DXVECTOR3 scale(D3DXVec3Length(&rows[0]), D3DXVec3Length(&rows[1]), D3DXVec3Length(&rows[2]));
    if (scale.x == 0.0f || scale.y == 0.0f || scale.z == 0.0f)
        return D3DERR_INVALIDCALL;
    // A mirrored basis keeps a proper rotation by carrying the reflection in x.
    D3DXVECTOR3 cross;
    D3DXVec3Cross(&cross, &rows[0], &rows[1]);
    if (D3DXVec3Dot(&cross, &rows[2]) < 0.0f)
        scale.x = -scale.x;
    D3DXMATRIX rotation;
    D3DXMatrixIdentity(&rotation);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            rotation.m[r][c] = (&rows[r].x)[c] / (&scale.x)[r];
    D3DXQuaternionRotationMatrix(pOutRotation, &rotation);
    *pOutScale = scale;
    *pOutTranslation = D3DXVECTOR3(pM->_41, pM->_42, pM->_43);
    return S_OK;
}

namespace {

// Shared by the left- and right-handed look-at: zaxis points from the eye into the view.
D3DXMATRIX* LookAt(D3DXMATRIX* pOut, const D3DXVECTOR3& eye, const D3DXVECTOR3& zaxis,
                   const D3DXVECTOR3& up) {
    D3DXVECTOR3 xaxis, yaxis;
    D3DXVec3Cross(&xaxis, &up, &zaxis);
    D3DXVec3Normalize(&xaxis, &xaxis);
    D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
    *pOut = D3DXMATRIX(xaxis.x, yaxis.x, zaxis.x, 0, xaxis.y, yaxis.y, zaxis.y, 0, xaxis.z, yaxis.z,
                       zaxis.z, 0, -D3DXVec3Dot(&xaxis, &eye), -D3DXVec3Dot(&yaxis, &eye),
                       -D3DXVec3Dot(&zaxis, &eye), 1);
    return pOut;
}

} // namespace

D3DXMATRIX* WINAPI D3DXMatrixLookAtLH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye,
                                      const D3DXVECTOR3* pAt, const D3DXVECTOR3* pUp) {
    D3DXVECTOR3 zaxis = *pAt - *pEye;
    D3DXVec3Normalize(&zaxis, &zaxis);
    return LookAt(pOut, *pEye, zaxis, *pUp);
}

D3DXMATRIX* WINAPI D3DXMatrixLookAtRH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye,
                                      const D3DXVECTOR3* pAt, const D3DXVECTOR3* pUp) {
    D3DXVECTOR3 zaxis = *pEye - *pAt;
    D3DXVec3Normalize(&zaxis, &zaxis);
    return LookAt(pOut, *pEye, zaxis, *pUp);
}

D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovLH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT Aspect, FLOAT zn,
                                              FLOAT zf) {
    const FLOAT yScale = 1.0f / std::tan(fovy / 2.0f);
    const FLOAT xScale = yScale / Aspect;
    const FLOAT q = zf / (zf - zn);
    *pOut = D3DXMATRIX(xScale, 0, 0, 0, 0, yScale, 0, 0, 0, 0, q, 1, 0, 0, -zn * q, 0);
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovRH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT Aspect, FLOAT zn,
                                              FLOAT zf) {
    const FLOAT yScale = 1.0f / std::tan(fovy / 2.0f);
    const FLOAT xScale = yScale / Aspect;
    const FLOAT q = zf / (zn - zf);
    *pOut = D3DXMATRIX(xScale, 0, 0, 0, 0, yScale, 0, 0, 0, 0, q, -1, 0, 0, zn * q, 0);
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixOrthoLH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf) {
    return D3DXMatrixOrthoOffCenterLH(pOut, -w / 2, w / 2, -h / 2, h / 2, zn, zf);
}

D3DXMATRIX* WINAPI D3DXMatrixOrthoOffCenterLH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t,
                                              FLOAT zn, FLOAT zf) {
    *pOut = D3DXMATRIX(2 / (r - l), 0, 0, 0, 0, 2 / (t - b), 0, 0, 0, 0, 1 / (zf - zn), 0,
                       (l + r) / (l - r), (t + b) / (b - t), zn / (zn - zf), 1);
    return pOut;
}

// ---- Quaternions ----

D3DXQUATERNION* WINAPI D3DXQuaternionNormalize(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ) {
    FLOAT length = D3DXQuaternionLength(pQ);
    *pOut = length == 0.0f ? D3DXQUATERNION() : *pQ / length;
    return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionInverse(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ) {
    FLOAT lengthSq = D3DXQuaternionLengthSq(pQ);
    D3DXQUATERNION conjugate;
    D3DXQuaternionConjugate(&conjugate, pQ);
    *pOut = lengthSq == 0.0f ? D3DXQUATERNION() : conjugate / lengthSq;
    return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionMultiply(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                              const D3DXQUATERNION* pQ2) {
    const D3DXQUATERNION a = *pQ2, b = *pQ1; // Hamilton product a * b
    *pOut = D3DXQUATERNION(a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
                           a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
                           a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
                           a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z);
    return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionSlerp(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                           const D3DXQUATERNION* pQ2, FLOAT t) {
    FLOAT dot = D3DXQuaternionDot(pQ1, pQ2);
    FLOAT sign = 1.0f;
    if (dot < 0.0f) {
        dot = -dot;
        sign = -1.0f;
    }
    FLOAT weight1 = 1.0f - t, weight2 = t;
    // Close quaternions fall back to a linear blend, where sin(theta) would vanish.
    if (1.0f - dot > 0.001f) {
        const FLOAT theta = std::acos(dot);
        const FLOAT sinTheta = std::sin(theta);
        weight1 = std::sin((1.0f - t) * theta) / sinTheta;
        weight2 = std::sin(t * theta) / sinTheta;
    }
    *pOut = *pQ1 * weight1 + *pQ2 * (sign * weight2);
    return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionRotationMatrix(D3DXQUATERNION* pOut, const D3DXMATRIX* pM) {
    const D3DXMATRIX& m = *pM;
    const FLOAT trace = m._11 + m._22 + m._33;
    D3DXQUATERNION q;
    if (trace > 0.0f) {
        const FLOAT s = std::sqrt(trace + 1.0f) * 2.0f;
        q = D3DXQUATERNION((m._23 - m._32) / s, (m._31 - m._13) / s, (m._12 - m._21) / s,
                           0.25f * s);
    } else if (m._11 >= m._22 && m._11 >= m._33) {
        const FLOAT s = std::sqrt(1.0f + m._11 - m._22 - m._33) * 2.0f;
        q = D3DXQUATERNION(0.25f * s, (m._12 + m._21) / s, (m._13 + m._31) / s,
                           (m._23 - m._32) / s);
    } else if (m._22 >= m._33) {
        const FLOAT s = std::sqrt(1.0f + m._22 - m._11 - m._33) * 2.0f;
        q = D3DXQUATERNION((m._12 + m._21) / s, 0.25f * s, (m._23 + m._32) / s,
                           (m._31 - m._13) / s);
    } else {
        const FLOAT s = std::sqrt(1.0f + m._33 - m._11 - m._22) * 2.0f;
        q = D3DXQUATERNION((m._13 + m._31) / s, (m._23 + m._32) / s, 0.25f * s,
                           (m._12 - m._21) / s);
    }
    *pOut = q;
    return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionRotationAxis(D3DXQUATERNION* pOut, const D3DXVECTOR3* pV,
                                                  FLOAT Angle) {
    D3DXVECTOR3 axis;
    D3DXVec3Normalize(&axis, pV);
    const FLOAT s = std::sin(Angle / 2.0f);
    *pOut = D3DXQUATERNION(axis.x * s, axis.y * s, axis.z * s, std::cos(Angle / 2.0f));
    return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* pOut, FLOAT Yaw,
                                                          FLOAT Pitch, FLOAT Roll) {
    const D3DXVECTOR3 xAxis(1, 0, 0), yAxis(0, 1, 0), zAxis(0, 0, 1);
    D3DXQUATERNION roll, pitch, yaw;
    D3DXQuaternionRotationAxis(&roll, &zAxis, Roll);
    D3DXQuaternionRotationAxis(&pitch, &xAxis, Pitch);
    D3DXQuaternionRotationAxis(&yaw, &yAxis, Yaw);
    *pOut = roll * pitch * yaw;
    return pOut;
}

void WINAPI D3DXQuaternionToAxisAngle(const D3DXQUATERNION* pQ, D3DXVECTOR3* pAxis, FLOAT* pAngle) {
    if (pAxis)
        *pAxis = D3DXVECTOR3(pQ->x, pQ->y, pQ->z);
    if (pAngle)
        *pAngle = 2.0f * std::acos(std::clamp(pQ->w, -1.0f, 1.0f));
}

// ---- Planes ----

D3DXPLANE* WINAPI D3DXPlaneFromPointNormal(D3DXPLANE* pOut, const D3DXVECTOR3* pPoint,
                                           const D3DXVECTOR3* pNormal) {
    *pOut = D3DXPLANE(pNormal->x, pNormal->y, pNormal->z, -D3DXVec3Dot(pPoint, pNormal));
    return pOut;
}

D3DXPLANE* WINAPI D3DXPlaneNormalize(D3DXPLANE* pOut, const D3DXPLANE* pP) {
    const D3DXPLANE p = *pP;
    const FLOAT length = std::sqrt(p.a * p.a + p.b * p.b + p.c * p.c);
    *pOut = length == 0.0f ? D3DXPLANE()
                           : D3DXPLANE(p.a / length, p.b / length, p.c / length, p.d / length);
    return pOut;
}
