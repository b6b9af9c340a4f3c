// Small vector, quaternion and matrix types for building the hero.
// Conventions are those of D3DX, because the .X file is read by D3DX-style loaders:
// row vectors, left-handed, y up, matrices stored row by row with the translation in
// the last row, and a * b applies a first.
#pragma once

#include <cmath>

namespace assetgen {

struct Vec3 {
    float x = 0, y = 0, z = 0;
};

inline Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline float dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float length(Vec3 a) {
    return std::sqrt(dot(a, a));
}
inline Vec3 normalize(Vec3 a) {
    float len = length(a);
    return len > 1e-12f ? a * (1.0f / len) : Vec3{0, 0, 0};
}
inline Vec3 lerp(Vec3 a, Vec3 b, float t) {
    return a + (b - a) * t;
}

// x, y, z, w as in D3DXQUATERNION.
struct Quat {
    float x = 0, y = 0, z = 0, w = 1;
};

// Rotation by angle (radians) about a unit axis, as D3DXQuaternionRotationAxis.
inline Quat quatAxisAngle(Vec3 axis, float angle) {
    float s = std::sin(angle * 0.5f);
    return {axis.x * s, axis.y * s, axis.z * s, std::cos(angle * 0.5f)};
}

// Rotation a followed by rotation b (D3DXQuaternionMultiply(a, b), the Hamilton product b a).
inline Quat quatThen(Quat a, Quat b) {
    return {b.w * a.x + b.x * a.w + b.y * a.z - b.z * a.y,
            b.w * a.y - b.x * a.z + b.y * a.w + b.z * a.x,
            b.w * a.z + b.x * a.y - b.y * a.x + b.z * a.w,
            b.w * a.w - b.x * a.x - b.y * a.y - b.z * a.z};
}

// Rotation about x (pitch), then y (yaw), then z (roll), each in radians. With the hero facing
// -z: +x swings a hanging limb forward, +z swings it towards +x, +y turns the front towards -x.
inline Quat quatEuler(float ax, float ay, float az) {
    Quat q = quatAxisAngle({1, 0, 0}, ax);
    q = quatThen(q, quatAxisAngle({0, 1, 0}, ay));
    return quatThen(q, quatAxisAngle({0, 0, 1}, az));
}

struct Mat4 {
    float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};

inline Mat4 operator*(const Mat4& a, const Mat4& b) {
    Mat4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
    return r;
}

inline Mat4 matTranslation(Vec3 t) {
    Mat4 r;
    r.m[3][0] = t.x;
    r.m[3][1] = t.y;
    r.m[3][2] = t.z;
    return r;
}

inline Mat4 matScaling(Vec3 s) {
    Mat4 r;
    r.m[0][0] = s.x;
    r.m[1][1] = s.y;
    r.m[2][2] = s.z;
    return r;
}

// The D3DXMatrixRotationQuaternion layout.
inline Mat4 matRotation(Quat q) {
    Mat4 r;
    r.m[0][0] = 1 - 2 * (q.y * q.y + q.z * q.z);
    r.m[0][1] = 2 * (q.x * q.y + q.z * q.w);
    r.m[0][2] = 2 * (q.x * q.z - q.y * q.w);
    r.m[1][0] = 2 * (q.x * q.y - q.z * q.w);
    r.m[1][1] = 1 - 2 * (q.x * q.x + q.z * q.z);
    r.m[1][2] = 2 * (q.y * q.z + q.x * q.w);
    r.m[2][0] = 2 * (q.x * q.z + q.y * q.w);
    r.m[2][1] = 2 * (q.y * q.z - q.x * q.w);
    r.m[2][2] = 1 - 2 * (q.x * q.x + q.y * q.y);
    return r;
}

// Scale, then rotation, then translation: the local matrix an animation key set describes.
inline Mat4 matSRT(Vec3 s, Quat q, Vec3 t) {
    return matScaling(s) * matRotation(q) * matTranslation(t);
}

inline Vec3 transformPoint(Vec3 p, const Mat4& a) {
    return {p.x * a.m[0][0] + p.y * a.m[1][0] + p.z * a.m[2][0] + a.m[3][0],
            p.x * a.m[0][1] + p.y * a.m[1][1] + p.z * a.m[2][1] + a.m[3][1],
            p.x * a.m[0][2] + p.y * a.m[1][2] + p.z * a.m[2][2] + a.m[3][2]};
}

inline Vec3 transformNormal(Vec3 n, const Mat4& a) {
    return {n.x * a.m[0][0] + n.y * a.m[1][0] + n.z * a.m[2][0],
            n.x * a.m[0][1] + n.y * a.m[1][1] + n.z * a.m[2][1],
            n.x * a.m[0][2] + n.y * a.m[1][2] + n.z * a.m[2][2]};
}

inline float smoothstep(float e0, float e1, float x) {
    float t = (x - e0) / (e1 - e0);
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    return t * t * (3 - 2 * t);
}

inline float clamp01(float v) {
    return v < 0 ? 0 : (v > 1 ? 1 : v);
}
inline float mix(float a, float b, float t) {
    return a + (b - a) * t;
}

constexpr float kPi = 3.14159265358979f;

} // namespace assetgen
