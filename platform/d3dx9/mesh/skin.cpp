// ID3DXSkinInfo: bones, influences and software skinning.
//
// Skinning walks the vertices once, in order, with a vertex-major copy of the
// influences: it blends the bone matrices of a vertex and transforms the position and
// normal by the blend. Reading and writing each vertex exactly once keeps large meshes
// at memory speed, where a bone-major walk would revisit every vertex per bone.
#include "platform/d3dx9mesh.h"

#include "platform/d3dx9/mesh/locked_vertices.h"
#include "platform/d3dx9/mesh/vertex_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

using namespace fw::d3dx9mesh;

namespace {

HRESULT Fail(HRESULT hr, const char* message) {
    OutputDebugStringA((std::string("D3DX skin: ") + message + "\n").c_str());
    return hr;
}

// Runs of 4-byte words of a vertex that skinning copies unchanged.
struct CopySpans {
    struct Span {
        DWORD firstWord, words;
    };
    Span spans[3];
    int count = 0;

    // Everything but [a, a + 12) and, when b >= 0, [b, b + 12).
    CopySpans(DWORD stride, int a, int b) {
        int cut[2] = {a, b};
        if (b >= 0 && b < a)
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

    void Copy(const BYTE* src, BYTE* dst) const {
        for (int i = 0; i < count; ++i)
            for (DWORD w = spans[i].firstWord; w < spans[i].firstWord + spans[i].words; ++w) {
                uint32_t word;
                std::memcpy(&word, src + w * 4, 4);
                std::memcpy(dst + w * 4, &word, 4);
            }
    }
};

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

bool IsAffine(const D3DXMATRIX& m) {
    return m._14 == 0.0f && m._24 == 0.0f && m._34 == 0.0f && m._44 == 1.0f;
}

struct SkinJob {
    const BYTE* src;
    BYTE* dst;
    DWORD count;
    DWORD stride;
    int normalOffset; // -1: no normals
    const DWORD* start;
    const ID3DXSkinInfo::Influence* influences;
    const D3DXMATRIX* bones;
    const D3DXMATRIX* normalBones; // null: normals use bones
};

// Affine bones: a weighted sum of matrices transforms like the weighted sum of the
// transformed vertices, so one blended matrix serves position and normal.
template <bool kNormals, bool kNormalMatrices>
void SkinAffine(const SkinJob& job, const CopySpans& spans) {
    for (DWORD v = 0; v < job.count; ++v) {
        const BYTE* s = job.src + size_t(v) * job.stride;
        BYTE* d = job.dst + size_t(v) * job.stride;
        const Vec4 position = Load3(s);
        Vec4 normal = {};
        if constexpr (kNormals)
            normal = Load3(s + job.normalOffset);
        spans.Copy(s, d);
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

// Projective bones divide by w per bone, so each influence is transformed on its own.
void SkinGeneral(const SkinJob& job, const CopySpans& spans) {
    for (DWORD v = 0; v < job.count; ++v) {
        const BYTE* s = job.src + size_t(v) * job.stride;
        BYTE* d = job.dst + size_t(v) * job.stride;
        D3DXVECTOR3 position, normal, outPosition, outNormal;
        std::memcpy(&position.x, s, 12);
        if (job.normalOffset >= 0)
            std::memcpy(&normal.x, s + job.normalOffset, 12);
        spans.Copy(s, d);
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

} // namespace

HRESULT WINAPI D3DXCreateSkinInfoFVF(DWORD NumVertices, DWORD FVF, DWORD NumBones,
                                     LPD3DXSKININFO* ppSkinInfo) {
    VertexLayout layout;
    if (!ppSkinInfo || !DescribeFVF(FVF, &layout))
        return Fail(D3DERR_INVALIDCALL, "D3DXCreateSkinInfoFVF: invalid FVF or output");
    auto* skin = new (std::nothrow) ID3DXSkinInfo();
    if (!skin)
        return E_OUTOFMEMORY;
    try {
        skin->bones.resize(NumBones);
        skin->influenceStart.assign(size_t(NumVertices) + 1, 0);
    } catch (const std::bad_alloc&) {
        skin->Release();
        return Fail(E_OUTOFMEMORY, "D3DXCreateSkinInfoFVF: out of memory");
    }
    for (auto& bone : skin->bones)
        D3DXMatrixIdentity(&bone.offset);
    skin->numVertices = NumVertices;
    skin->fvf = FVF;
    skin->influencesChanged = false;
    *ppSkinInfo = skin;
    return D3D_OK;
}

ULONG ID3DXSkinInfo::AddRef() {
    return ++refCount;
}

ULONG ID3DXSkinInfo::Release() {
    const ULONG count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

DWORD ID3DXSkinInfo::GetNumBones() {
    return DWORD(bones.size());
}

HRESULT ID3DXSkinInfo::SetBoneName(DWORD Bone, LPCSTR pName) {
    if (Bone >= bones.size() || !pName)
        return D3DERR_INVALIDCALL;
    bones[Bone].name = pName;
    bones[Bone].named = true;
    return D3D_OK;
}

LPCSTR ID3DXSkinInfo::GetBoneName(DWORD Bone) {
    return Bone < bones.size() && bones[Bone].named ? bones[Bone].name.c_str() : nullptr;
}

HRESULT ID3DXSkinInfo::SetBoneOffsetMatrix(DWORD Bone, const D3DXMATRIX* pBoneTransform) {
    if (Bone >= bones.size() || !pBoneTransform)
        return D3DERR_INVALIDCALL;
    bones[Bone].offset = *pBoneTransform;
    return D3D_OK;
}

LPD3DXMATRIX ID3DXSkinInfo::GetBoneOffsetMatrix(DWORD Bone) {
    return Bone < bones.size() ? &bones[Bone].offset : nullptr;
}

HRESULT ID3DXSkinInfo::SetBoneInfluence(DWORD Bone, DWORD numInfluences, const DWORD* vertices,
                                        const FLOAT* weights) {
    if (Bone >= bones.size())
        return Fail(D3DERR_INVALIDCALL, "SetBoneInfluence: no such bone");
    if (numInfluences && (!vertices || !weights))
        return D3DERR_INVALIDCALL;
    for (DWORD i = 0; i < numInfluences; ++i)
        if (vertices[i] >= numVertices)
            return Fail(D3DERR_INVALIDCALL, "SetBoneInfluence: vertex index beyond the mesh");
    try {
        bones[Bone].vertices.assign(vertices, vertices + numInfluences);
        bones[Bone].weights.assign(weights, weights + numInfluences);
    } catch (const std::bad_alloc&) {
        return Fail(E_OUTOFMEMORY, "SetBoneInfluence: out of memory");
    }
    influencesChanged = true;
    return D3D_OK;
}

DWORD ID3DXSkinInfo::GetNumBoneInfluences(DWORD Bone) {
    return Bone < bones.size() ? DWORD(bones[Bone].vertices.size()) : 0;
}

HRESULT ID3DXSkinInfo::GetBoneInfluence(DWORD Bone, DWORD* vertices, FLOAT* weights) {
    if (Bone >= bones.size() || !vertices || !weights)
        return D3DERR_INVALIDCALL;
    std::copy(bones[Bone].vertices.begin(), bones[Bone].vertices.end(), vertices);
    std::copy(bones[Bone].weights.begin(), bones[Bone].weights.end(), weights);
    return D3D_OK;
}

void ID3DXSkinInfo::BuildVertexInfluences() {
    std::fill(influenceStart.begin(), influenceStart.end(), 0);
    size_t total = 0;
    for (const auto& bone : bones) {
        for (DWORD v : bone.vertices)
            ++influenceStart[v + 1];
        total += bone.vertices.size();
    }
    for (DWORD v = 0; v < numVertices; ++v)
        influenceStart[v + 1] += influenceStart[v];
    vertexInfluences.resize(total);
    std::vector<DWORD> next(influenceStart.begin(), influenceStart.end() - 1);
    for (DWORD b = 0; b < bones.size(); ++b)
        for (size_t i = 0; i < bones[b].vertices.size(); ++i)
            vertexInfluences[next[bones[b].vertices[i]]++] = {b, bones[b].weights[i]};
    influencesChanged = false;
}

HRESULT ID3DXSkinInfo::GetMaxVertexInfluences(DWORD* maxVertexInfluences) {
    if (!maxVertexInfluences)
        return D3DERR_INVALIDCALL;
    try {
        if (influencesChanged)
            BuildVertexInfluences();
    } catch (const std::bad_alloc&) {
        return Fail(E_OUTOFMEMORY, "GetMaxVertexInfluences: out of memory");
    }
    DWORD most = 0;
    for (DWORD v = 0; v < numVertices; ++v)
        most = std::max(most, influenceStart[v + 1] - influenceStart[v]);
    *maxVertexInfluences = most;
    return D3D_OK;
}

HRESULT ID3DXSkinInfo::SetFVF(DWORD FVF) {
    VertexLayout layout;
    if (!DescribeFVF(FVF, &layout))
        return D3DERR_INVALIDCALL;
    fvf = FVF;
    return D3D_OK;
}

DWORD ID3DXSkinInfo::GetFVF() {
    return fvf;
}

HRESULT ID3DXSkinInfo::GetDeclaration(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) {
    return D3DXDeclaratorFromFVF(fvf, Declaration);
}

HRESULT ID3DXSkinInfo::Clone(LPD3DXSKININFO* ppSkinInfo) {
    if (!ppSkinInfo)
        return D3DERR_INVALIDCALL;
    auto* clone = new (std::nothrow) ID3DXSkinInfo();
    if (!clone)
        return E_OUTOFMEMORY;
    try {
        clone->numVertices = numVertices;
        clone->fvf = fvf;
        clone->bones = bones;
        clone->influencesChanged = influencesChanged;
        clone->influenceStart = influenceStart;
        clone->vertexInfluences = vertexInfluences;
    } catch (const std::bad_alloc&) {
        clone->Release();
        return Fail(E_OUTOFMEMORY, "Clone: out of memory");
    }
    *ppSkinInfo = clone;
    return D3D_OK;
}

HRESULT ID3DXSkinInfo::Remap(DWORD NumVertices, DWORD* pVertexRemap) {
    if (!pVertexRemap)
        return D3DERR_INVALIDCALL;
    try {
        if (influencesChanged)
            BuildVertexInfluences();
        std::vector<Bone> remapped(bones.size());
        for (DWORD b = 0; b < bones.size(); ++b) {
            remapped[b].name = bones[b].name;
            remapped[b].named = bones[b].named;
            remapped[b].offset = bones[b].offset;
        }
        for (DWORD v = 0; v < NumVertices; ++v) {
            const DWORD old = pVertexRemap[v];
            if (old >= numVertices)
                continue;
            for (DWORD i = influenceStart[old]; i < influenceStart[old + 1]; ++i) {
                remapped[vertexInfluences[i].bone].vertices.push_back(v);
                remapped[vertexInfluences[i].bone].weights.push_back(vertexInfluences[i].weight);
            }
        }
        std::vector<DWORD> starts(size_t(NumVertices) + 1);
        bones.swap(remapped);
        influenceStart.swap(starts);
        numVertices = NumVertices;
        BuildVertexInfluences();
    } catch (const std::bad_alloc&) {
        return Fail(E_OUTOFMEMORY, "Remap: out of memory");
    }
    return D3D_OK;
}

HRESULT ID3DXSkinInfo::UpdateSkinnedMesh(const D3DXMATRIX* pBoneTransforms,
                                         const D3DXMATRIX* pBoneInvTransposeTransforms,
                                         LPCVOID pVerticesSrc, LPVOID pVerticesDst) {
    if (!pVerticesSrc || !pVerticesDst || (!pBoneTransforms && !bones.empty()))
        return D3DERR_INVALIDCALL;
    // Raw pointers from a mesh lock carry the mesh's real format and size; those win
    // over the skin's, which may predate normals added by a clone.
    DWORD layoutFvf = fvf, count = numVertices;
    DWORD srcFvf, srcCount, dstFvf, dstCount;
    const bool srcKnown = FindLockedVertices(pVerticesSrc, &srcFvf, &srcCount);
    const bool dstKnown = FindLockedVertices(pVerticesDst, &dstFvf, &dstCount);
    if (srcKnown && dstKnown && srcFvf != dstFvf)
        return Fail(D3DERR_INVALIDCALL, "UpdateSkinnedMesh: source and destination formats differ");
    if (srcKnown)
        layoutFvf = srcFvf, count = std::min(count, srcCount);
    if (dstKnown)
        layoutFvf = dstFvf, count = std::min(count, dstCount);
    VertexLayout layout;
    if (!DescribeFVF(layoutFvf, &layout) || layout.positionOffset != 0)
        return Fail(E_NOTIMPL, "UpdateSkinnedMesh: only float3 positions are skinned");
    if (influencesChanged) {
        try {
            BuildVertexInfluences();
        } catch (const std::bad_alloc&) {
            return Fail(E_OUTOFMEMORY, "UpdateSkinnedMesh: out of memory");
        }
    }

    const SkinJob job{static_cast<const BYTE*>(pVerticesSrc),
                      static_cast<BYTE*>(pVerticesDst),
                      count,
                      layout.size,
                      layout.normalOffset,
                      influenceStart.data(),
                      vertexInfluences.data(),
                      pBoneTransforms,
                      pBoneInvTransposeTransforms};
    const CopySpans spans(layout.size, layout.positionOffset, layout.normalOffset);
    bool affine = true;
    for (DWORD b = 0; b < bones.size() && affine; ++b)
        affine = IsAffine(pBoneTransforms[b]);
    if (!affine)
        SkinGeneral(job, spans);
    else if (layout.normalOffset < 0)
        SkinAffine<false, false>(job, spans);
    else if (pBoneInvTransposeTransforms)
        SkinAffine<true, true>(job, spans);
    else
        SkinAffine<true, false>(job, spans);
    return D3D_OK;
}
