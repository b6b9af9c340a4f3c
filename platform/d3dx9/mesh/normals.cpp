// D3DXComputeNormals: angle-weighted face normals summed per point and normalised.
#include "platform/d3dx9mesh.h"

#include "platform/d3dx9/mesh/topology.h"
#include "platform/d3dx9/mesh/vertex_format.h"

#include <cmath>
#include <cstring>
#include <new>

using namespace fw::d3dx9mesh;

namespace {

D3DXVECTOR3 ReadVector(const BYTE* vertices, DWORD stride, DWORD v, int offset) {
    D3DXVECTOR3 p;
    std::memcpy(&p.x, vertices + size_t(v) * stride + offset, 12);
    return p;
}

// Angle between two edge vectors; 0 when either is degenerate.
float CornerAngle(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    const float lengths = D3DXVec3Length(&a) * D3DXVec3Length(&b);
    if (lengths == 0.0f)
        return 0.0f;
    const float cosine = D3DXVec3Dot(&a, &b) / lengths;
    return std::acos(std::fmax(-1.0f, std::fmin(1.0f, cosine)));
}

void AccumulateFaceNormals(const BYTE* vertices, const VertexLayout& layout,
                           const std::vector<DWORD>& faces, const std::vector<DWORD>& reps,
                           std::vector<D3DXVECTOR3>& sums) {
    const DWORD numVertices = DWORD(reps.size());
    for (size_t f = 0; f + 2 < faces.size(); f += 3) {
        const DWORD* corner = &faces[f];
        if (corner[0] >= numVertices || corner[1] >= numVertices || corner[2] >= numVertices)
            continue;
        D3DXVECTOR3 p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = ReadVector(vertices, layout.size, corner[k], layout.positionOffset);
        D3DXVECTOR3 e1 = p[1] - p[0], e2 = p[2] - p[0], normal;
        D3DXVec3Cross(&normal, &e1, &e2);
        D3DXVec3Normalize(&normal, &normal);
        for (int k = 0; k < 3; ++k) {
            const D3DXVECTOR3 toNext = p[(k + 1) % 3] - p[k], toPrev = p[(k + 2) % 3] - p[k];
            sums[reps[corner[k]]] += normal * CornerAngle(toNext, toPrev);
        }
    }
}

} // namespace

HRESULT WINAPI D3DXComputeNormals(LPD3DXBASEMESH pMesh, const DWORD* pAdjacency) {
    if (!pMesh)
        return D3DERR_INVALIDCALL;
    VertexLayout layout;
    if (!DescribeFVF(pMesh->GetFVF(), &layout) || layout.normalOffset < 0 ||
        layout.positionOffset < 0) {
        OutputDebugStringA("D3DXComputeNormals: the mesh needs a float3 position and a normal\n");
        return D3DERR_INVALIDCALL;
    }
    const DWORD numVertices = pMesh->GetNumVertices(), numFaces = pMesh->GetNumFaces();
    const bool index32 = (pMesh->GetOptions() & D3DXMESH_32BIT) != 0;
    BYTE* vertices = nullptr;
    void* indices = nullptr;
    HRESULT hr = pMesh->LockVertexBuffer(0, reinterpret_cast<void**>(&vertices));
    if (FAILED(hr))
        return hr;
    hr = pMesh->LockIndexBuffer(D3DLOCK_READONLY, &indices);
    if (FAILED(hr)) {
        pMesh->UnlockVertexBuffer();
        return hr;
    }
    try {
        std::vector<DWORD> faces(size_t(numFaces) * 3);
        for (size_t i = 0; i < faces.size(); ++i)
            faces[i] = index32 ? static_cast<const DWORD*>(indices)[i]
                               : static_cast<const WORD*>(indices)[i];
        std::vector<DWORD> reps(numVertices);
        if (pAdjacency) {
            reps = PointRepsFromAdjacency(faces, numVertices, pAdjacency);
        } else {
            for (DWORD v = 0; v < numVertices; ++v)
                reps[v] = v;
        }
        std::vector<D3DXVECTOR3> sums(numVertices);
        AccumulateFaceNormals(vertices, layout, faces, reps, sums);
        for (DWORD v = 0; v < numVertices; ++v) {
            D3DXVECTOR3 normal;
            D3DXVec3Normalize(&normal, &sums[reps[v]]);
            std::memcpy(vertices + size_t(v) * layout.size + layout.normalOffset, &normal.x, 12);
        }
    } catch (const std::bad_alloc&) {
        OutputDebugStringA("D3DXComputeNormals: out of memory\n");
        hr = E_OUTOFMEMORY;
    }
    pMesh->UnlockIndexBuffer();
    pMesh->UnlockVertexBuffer();
    return hr;
}
