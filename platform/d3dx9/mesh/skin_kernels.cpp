// Skinning loops. The affine loop blends the bone matrices of a vertex (a weighted sum
// of matrices transforms like the weighted sum of the transformed vertices) and then
// transforms position and normal once. On x86-64 processors with AVX2 and FMA a version
// that blends two matrix rows per instruction is chosen at run time.
#include "platform/d3dx9/mesh/skin_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define FW_SKIN_AVX2 1
#endif

namespace fw::d3dx9mesh {

CopySpans::CopySpans(DWORD stride, int positionOffset, int normalOffset) {
    int cut[2] = {positionOffset, normalOffset};
    if (normalOffset >= 0 && normalOffset < positionOffset)
        std::swap(cut[0], cut[1]);
    DWORD at = 0;
    for (int c : cut) {
        if (c < 0)
            continue;
        if (DWORD(c) > at)
            spans[count++] = {at / 4, (DWORD(c) - at) / 4};
        at = DWORD(c) + 12;
    }
    if (stride > at)
        spans[count++] = {at / 4, (stride - at) / 4};
}

namespace {

typedef float Vec4 __attribute__((vector_size(16)));

Vec4 LoadRow(const D3DXMATRIX& m, int row) {
    Vec4 v;
    std::memcpy(&v, m.m[row], 16);
    return v;
}

Vec4 Load3(const BYTE* p) {
    float f[3];
    std::memcpy(f, p, 12);
    return Vec4{f[0], f[1], f[2], 0.0f};
}

void Store3(BYTE* p, Vec4 v) {
    const float f[3] = {v[0], v[1], v[2]};
    std::memcpy(p, f, 12);
}

Vec4 Normalized(Vec4 n) {
    const float lengthSq = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
    return lengthSq > 0.0f ? n * (1.0f / std::sqrt(lengthSq)) : n;
}

template <bool kNormals, bool kNormalMatrices> void SkinAffinePortable(const SkinJob& job) {
    for (DWORD v = 0; v < job.count; ++v) {
        const BYTE* s = job.src + size_t(v) * job.stride;
        BYTE* d = job.dst + size_t(v) * job.stride;
        const Vec4 position = Load3(s);
        Vec4 normal = {};
        if constexpr (kNormals)
            normal = Load3(s + job.normalOffset);
        job.spans.Copy(s, d);
        Vec4 m0 = {}, m1 = {}, m2 = {}, m3 = {}, n0 = {}, n1 = {}, n2 = {};
        for (DWORD i = job.start[v]; i < job.start[v + 1]; ++i) {
            const float w = job.influences[i].weight;
            const D3DXMATRIX& bone = job.bones[job.influences[i].bone];
            m0 += LoadRow(bone, 0) * w;
            m1 += LoadRow(bone, 1) * w;
            m2 += LoadRow(bone, 2) * w;
            m3 += LoadRow(bone, 3) * w;
            if constexpr (kNormalMatrices) {
                const D3DXMATRIX& normalBone = job.normalBones[job.influences[i].bone];
                n0 += LoadRow(normalBone, 0) * w;
                n1 += LoadRow(normalBone, 1) * w;
                n2 += LoadRow(normalBone, 2) * w;
            }
        }
        // With no influence every sum is zero, which is D3DX's result for such a vertex.
        Store3(d, m0 * position[0] + m1 * position[1] + m2 * position[2] + m3);
        if constexpr (kNormals) {
            if constexpr (!kNormalMatrices)
                n0 = m0, n1 = m1, n2 = m2;
            Store3(d + job.normalOffset,
                   Normalized(n0 * normal[0] + n1 * normal[1] + n2 * normal[2]));
        }
    }
}

#ifdef FW_SKIN_AVX2

__attribute__((target("avx2,fma"))) inline void Store3Avx(BYTE* p, __m128 v) {
    _mm_storel_pi(reinterpret_cast<__m64*>(p), v);
    _mm_store_ss(reinterpret_cast<float*>(p + 8), _mm_movehl_ps(v, v));
}

__attribute__((target("avx2,fma"))) inline __m128 Transform3(const BYTE* p, __m128 r0, __m128 r1,
                                                             __m128 r2, __m128 r3) {
    const float* f = reinterpret_cast<const float*>(p);
    __m128 out = _mm_fmadd_ps(_mm_broadcast_ss(f + 2), r2, r3);
    out = _mm_fmadd_ps(_mm_broadcast_ss(f + 1), r1, out);
    return _mm_fmadd_ps(_mm_broadcast_ss(f), r0, out);
}

template <bool kNormals, bool kNormalMatrices>
__attribute__((target("avx2,fma"))) void SkinAffineAvx2(const SkinJob& job) {
    const __m128 zero = _mm_setzero_ps();
    for (DWORD v = 0; v < job.count; ++v) {
        const BYTE* s = job.src + size_t(v) * job.stride;
        BYTE* d = job.dst + size_t(v) * job.stride;
        // Rows 0|1 and 2|3 of the blended matrix, two rows per register.
        __m256 m01 = _mm256_setzero_ps(), m23 = _mm256_setzero_ps();
        __m256 n01 = _mm256_setzero_ps(), n23 = _mm256_setzero_ps();
        for (DWORD i = job.start[v]; i < job.start[v + 1]; ++i) {
            const __m256 w = _mm256_set1_ps(job.influences[i].weight);
            const float* bone = &job.bones[job.influences[i].bone]._11;
            m01 = _mm256_fmadd_ps(_mm256_loadu_ps(bone), w, m01);
            m23 = _mm256_fmadd_ps(_mm256_loadu_ps(bone + 8), w, m23);
            if constexpr (kNormalMatrices) {
                const float* normalBone = &job.normalBones[job.influences[i].bone]._11;
                n01 = _mm256_fmadd_ps(_mm256_loadu_ps(normalBone), w, n01);
                n23 = _mm256_fmadd_ps(_mm256_loadu_ps(normalBone + 8), w, n23);
            }
        }
        const __m128 r0 = _mm256_castps256_ps128(m01), r1 = _mm256_extractf128_ps(m01, 1);
        const __m128 r2 = _mm256_castps256_ps128(m23), r3 = _mm256_extractf128_ps(m23, 1);
        const __m128 position = Transform3(s, r0, r1, r2, r3);
        __m128 normal = zero;
        if constexpr (kNormals) {
            if constexpr (kNormalMatrices)
                normal =
                    Transform3(s + job.normalOffset, _mm256_castps256_ps128(n01),
                               _mm256_extractf128_ps(n01, 1), _mm256_castps256_ps128(n23), zero);
            else
                normal = Transform3(s + job.normalOffset, r0, r1, r2, zero);
            // Only x, y, z enter the length; a zero normal stays zero.
            const __m128 lengthSq = _mm_dp_ps(normal, normal, 0x7F);
            const __m128 scaled = _mm_div_ps(normal, _mm_sqrt_ps(lengthSq));
            normal = _mm_blendv_ps(zero, scaled, _mm_cmpgt_ps(lengthSq, zero));
        }
        job.spans.Copy(s, d); // after reading s: the job may skin in place
        Store3Avx(d, position);
        if constexpr (kNormals)
            Store3Avx(d + job.normalOffset, normal);
    }
}

bool HasAvx2Fma() {
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return supported;
}

#endif

bool forcePortable = false;

} // namespace

void UsePortableSkinning(bool portable) {
    forcePortable = portable;
}

void SkinAffine(const SkinJob& job) {
    const bool normals = job.normalOffset >= 0, normalMatrices = job.normalBones != nullptr;
#ifdef FW_SKIN_AVX2
    if (HasAvx2Fma() && !forcePortable) {
        if (!normals)
            SkinAffineAvx2<false, false>(job);
        else if (normalMatrices)
            SkinAffineAvx2<true, true>(job);
        else
            SkinAffineAvx2<true, false>(job);
        return;
    }
#endif
    if (!normals)
        SkinAffinePortable<false, false>(job);
    else if (normalMatrices)
        SkinAffinePortable<true, true>(job);
    else
        SkinAffinePortable<true, false>(job);
}

void SkinGeneral(const SkinJob& job) {
    for (DWORD v = 0; v < job.count; ++v) {
        const BYTE* s = job.src + size_t(v) * job.stride;
        BYTE* d = job.dst + size_t(v) * job.stride;
        D3DXVECTOR3 position, normal, outPosition, outNormal;
        std::memcpy(&position.x, s, 12);
        if (job.normalOffset >= 0)
            std::memcpy(&normal.x, s + job.normalOffset, 12);
        job.spans.Copy(s, d);
        for (DWORD i = job.start[v]; i < job.start[v + 1]; ++i) {
            const float w = job.influences[i].weight;
            const DWORD bone = job.influences[i].bone;
            D3DXVECTOR3 t;
            outPosition += *D3DXVec3TransformCoord(&t, &position, &job.bones[bone]) * w;
            if (job.normalOffset >= 0) {
                const D3DXMATRIX* m = job.normalBones ? &job.normalBones[bone] : &job.bones[bone];
                outNormal += *D3DXVec3TransformNormal(&t, &normal, m) * w;
            }
        }
        std::memcpy(d, &outPosition.x, 12);
        if (job.normalOffset >= 0) {
            D3DXVec3Normalize(&outNormal, &outNormal);
            std::memcpy(d + job.normalOffset, &outNormal.x, 12);
        }
    }
}

void ClearUninfluenced(const SkinJob& job, DWORD end) {
    static const float zero[3] = {0.0f, 0.0f, 0.0f};
    for (DWORD v = job.count; v < end; ++v) {
        const BYTE* s = job.src + size_t(v) * job.stride;
        BYTE* d = job.dst + size_t(v) * job.stride;
        job.spans.Copy(s, d);
        std::memcpy(d, zero, 12);
        if (job.normalOffset >= 0)
            std::memcpy(d + job.normalOffset, zero, 12);
    }
}

} // namespace fw::d3dx9mesh
