// ID3DXSkinInfo: bones, influences and software skinning.
//
// Skinning walks the vertices once, in order, with a vertex-major copy of the
// influences (skin_kernels.cpp). Reading and writing each vertex exactly once keeps
// large meshes near memory speed, where a bone-major walk revisits vertices per bone.
#include "platform/d3dx9mesh.h"

#include "platform/d3dx9/mesh/locked_vertices.h"
#include "platform/d3dx9/mesh/skin_kernels.h"
#include "platform/d3dx9/mesh/vertex_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

using namespace fw::d3dx9mesh;

namespace {

// Far beyond any skeleton; a larger count is a corrupt file, not a model.
constexpr DWORD kMaxBones = 1u << 20;

HRESULT Fail(HRESULT hr, const char* message) {
    OutputDebugStringA((std::string("D3DX skin: ") + message + "\n").c_str());
    return hr;
}

} // namespace

HRESULT WINAPI D3DXCreateSkinInfoFVF(DWORD NumVertices, DWORD FVF, DWORD NumBones,
                                     LPD3DXSKININFO* ppSkinInfo) {
    VertexLayout layout;
    if (!ppSkinInfo || !DescribeFVF(FVF, &layout))
        return Fail(D3DERR_INVALIDCALL, "D3DXCreateSkinInfoFVF: invalid FVF or output");
    if (NumBones > kMaxBones)
        return Fail(D3DERR_INVALIDCALL, "D3DXCreateSkinInfoFVF: absurd bone count");
    auto* skin = new (std::nothrow) ID3DXSkinInfo();
    if (!skin)
        return E_OUTOFMEMORY;
    try {
        skin->bones.resize(NumBones);
        skin->influenceStart.assign(1, 0);
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

// The table covers vertices up to the last influenced one, so a skin declared with an
// enormous vertex count costs nothing until influences name such vertices.
void ID3DXSkinInfo::BuildVertexInfluences() {
    size_t total = 0;
    DWORD tableVertices = 0;
    for (const auto& bone : bones) {
        for (DWORD v : bone.vertices)
            tableVertices = std::max(tableVertices, v + 1);
        total += bone.vertices.size();
    }
    influenceStart.assign(size_t(tableVertices) + 1, 0);
    for (const auto& bone : bones)
        for (DWORD v : bone.vertices)
            ++influenceStart[v + 1];
    for (DWORD v = 0; v < tableVertices; ++v)
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
    for (DWORD v = 0; v < TableVertices(); ++v)
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
            if (old >= TableVertices())
                continue; // no influences (or no source vertex)
            for (DWORD i = influenceStart[old]; i < influenceStart[old + 1]; ++i) {
                remapped[vertexInfluences[i].bone].vertices.push_back(v);
                remapped[vertexInfluences[i].bone].weights.push_back(vertexInfluences[i].weight);
            }
        }
        bones.swap(remapped);
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
                      std::min(count, TableVertices()),
                      layout.size,
                      layout.normalOffset,
                      influenceStart.data(),
                      vertexInfluences.data(),
                      pBoneTransforms,
                      pBoneInvTransposeTransforms,
                      CopySpans(layout.size, layout.positionOffset, layout.normalOffset)};
    bool affine = true;
    for (DWORD b = 0; b < bones.size() && affine; ++b)
        affine = pBoneTransforms[b]._14 == 0.0f && pBoneTransforms[b]._24 == 0.0f &&
                 pBoneTransforms[b]._34 == 0.0f && pBoneTransforms[b]._44 == 1.0f;
    if (affine)
        SkinAffine(job);
    else
        SkinGeneral(job);
    ClearUninfluenced(job, count);
    return D3D_OK;
}
