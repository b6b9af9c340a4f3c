// ID3DXMesh: vertex and index buffers of the device, one attribute per face, an
// attribute table, cloning between vertex formats and subset drawing.
#include "platform/d3dx9mesh.h"

#include "platform/d3dx9/mesh/locked_vertices.h"
#include "platform/d3dx9/mesh/topology.h"
#include "platform/d3dx9/mesh/vertex_format.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>
#include <string>

using namespace fw::d3dx9mesh;

namespace {

constexpr DWORD kValidOptions = 0x1FFFF & ~(D3DXMESH_VB_SHARE | D3DXMESH_USEHWONLY);
constexpr DWORD kMaxVertices16 = 0x10000;

HRESULT Fail(HRESULT hr, const std::string& message) {
    OutputDebugStringA(("D3DX mesh: " + message + "\n").c_str());
    return hr;
}

D3DPOOL PoolOf(DWORD options, DWORD managed, DWORD systemMem) {
    if (options & managed)
        return D3DPOOL_MANAGED;
    return (options & systemMem) ? D3DPOOL_SYSTEMMEM : D3DPOOL_DEFAULT;
}

DWORD UsageOf(DWORD options, DWORD writeOnly, DWORD dynamic, DWORD softwareProcessing) {
    DWORD usage = 0;
    if (options & writeOnly)
        usage |= D3DUSAGE_WRITEONLY;
    if (options & dynamic)
        usage |= D3DUSAGE_DYNAMIC;
    if (options & softwareProcessing)
        usage |= D3DUSAGE_SOFTWAREPROCESSING;
    if (options & D3DXMESH_DONOTCLIP)
        usage |= D3DUSAGE_DONOTCLIP;
    if (options & D3DXMESH_POINTS)
        usage |= D3DUSAGE_POINTS;
    if (options & D3DXMESH_RTPATCHES)
        usage |= D3DUSAGE_RTPATCHES;
    if (options & D3DXMESH_NPATCHES)
        usage |= D3DUSAGE_NPATCHES;
    return usage;
}

// Lock of a whole device buffer, released on scope exit.
template <typename Buffer> class ScopedLock {
public:
    ScopedLock(Buffer* buffer, DWORD flags) : buffer(buffer) {
        if (FAILED(result = buffer->Lock(0, 0, &data, flags)))
            data = nullptr;
    }
    ~ScopedLock() {
        if (data)
            buffer->Unlock();
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    BYTE* Bytes() const { return static_cast<BYTE*>(data); }
    HRESULT result;

private:
    Buffer* buffer;
    void* data = nullptr;
};

void CopyVertices(const BYTE* src, DWORD srcFvf, BYTE* dst, DWORD dstFvf, DWORD numVertices) {
    VertexLayout from, to;
    DescribeFVF(srcFvf, &from);
    DescribeFVF(dstFvf, &to);
    if (srcFvf == dstFvf) {
        std::memcpy(dst, src, size_t(numVertices) * from.size);
        return;
    }
    for (int i = 0; i < to.count; ++i) {
        const VertexElement& out = to.elements[i];
        const VertexElement* in = from.Find(out.usage, out.usageIndex);
        if (!in)
            continue; // new fields stay zero
        for (DWORD v = 0; v < numVertices; ++v)
            ConvertElement(src + size_t(v) * from.size + in->offset, in->type,
                           dst + size_t(v) * to.size + out.offset, out.type);
    }
}

} // namespace

// ---- Creation and lifetime ----

HRESULT WINAPI D3DXCreateMeshFVF(DWORD NumFaces, DWORD NumVertices, DWORD Options, DWORD FVF,
                                 LPDIRECT3DDEVICE9 pD3DDevice, LPD3DXMESH* ppMesh) {
    if (!ppMesh || !pD3DDevice)
        return Fail(D3DERR_INVALIDCALL, "D3DXCreateMeshFVF without a device or output");
    if (Options & ~kValidOptions)
        return Fail(D3DERR_INVALIDCALL,
                    "D3DXCreateMeshFVF: unsupported options " + std::to_string(Options));
    VertexLayout layout;
    if (!DescribeFVF(FVF, &layout) || layout.size == 0)
        return Fail(D3DERR_INVALIDCALL, "D3DXCreateMeshFVF: invalid FVF " + std::to_string(FVF));
    if (NumFaces == 0 || NumVertices == 0)
        return Fail(D3DERR_INVALIDCALL, "D3DXCreateMeshFVF: a mesh needs faces and vertices");
    const bool index32 = (Options & D3DXMESH_32BIT) != 0;
    if (!index32 && NumVertices > kMaxVertices16)
        return Fail(D3DERR_INVALIDCALL, "D3DXCreateMeshFVF: " + std::to_string(NumVertices) +
                                            " vertices need D3DXMESH_32BIT");
    const uint64_t vertexBytes = uint64_t(NumVertices) * layout.size;
    const uint64_t indexBytes = uint64_t(NumFaces) * 3 * (index32 ? 4 : 2);
    if (vertexBytes > 0xFFFFFFFFull || indexBytes > 0xFFFFFFFFull)
        return Fail(E_OUTOFMEMORY, "D3DXCreateMeshFVF: mesh too large");

    auto* mesh = new (std::nothrow) ID3DXMesh();
    if (!mesh)
        return E_OUTOFMEMORY;
    mesh->device = pD3DDevice;
    pD3DDevice->AddRef();
    mesh->options = Options;
    mesh->fvf = FVF;
    mesh->vertexSize = layout.size;
    mesh->numFaces = NumFaces;
    mesh->numVertices = NumVertices;
    try {
        mesh->attributes.assign(NumFaces, 0);
    } catch (const std::bad_alloc&) {
        mesh->Release();
        return Fail(E_OUTOFMEMORY, "D3DXCreateMeshFVF: out of memory");
    }
    HRESULT hr = pD3DDevice->CreateVertexBuffer(
        UINT(vertexBytes),
        UsageOf(Options, D3DXMESH_VB_WRITEONLY, D3DXMESH_VB_DYNAMIC,
                D3DXMESH_VB_SOFTWAREPROCESSING),
        FVF, PoolOf(Options, D3DXMESH_VB_MANAGED, D3DXMESH_VB_SYSTEMMEM), &mesh->vertexBuffer,
        nullptr);
    if (SUCCEEDED(hr))
        hr = pD3DDevice->CreateIndexBuffer(
            UINT(indexBytes),
            UsageOf(Options, D3DXMESH_IB_WRITEONLY, D3DXMESH_IB_DYNAMIC,
                    D3DXMESH_IB_SOFTWAREPROCESSING),
            index32 ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
            PoolOf(Options, D3DXMESH_IB_MANAGED, D3DXMESH_IB_SYSTEMMEM), &mesh->indexBuffer,
            nullptr);
    if (SUCCEEDED(hr)) {
        ScopedLock vertices(mesh->vertexBuffer, 0);
        ScopedLock indices(mesh->indexBuffer, 0);
        if (vertices.Bytes() && indices.Bytes()) {
            std::memset(vertices.Bytes(), 0, size_t(vertexBytes));
            std::memset(indices.Bytes(), 0, size_t(indexBytes));
        } else {
            hr = FAILED(vertices.result) ? vertices.result : indices.result;
        }
    }
    if (FAILED(hr)) {
        mesh->Release();
        return Fail(hr, "D3DXCreateMeshFVF: buffer creation failed");
    }
    *ppMesh = mesh;
    return D3D_OK;
}

ID3DXMesh::~ID3DXMesh() {
    if (lockedVertices)
        UnregisterLockedVertices(lockedVertices);
    if (indexBuffer)
        indexBuffer->Release();
    if (vertexBuffer)
        vertexBuffer->Release();
    if (device)
        device->Release();
}

ULONG ID3DXMesh::AddRef() {
    return ++refCount;
}

ULONG ID3DXMesh::Release() {
    const ULONG count = --refCount;
    if (count == 0)
        delete this;
    return count;
}

// ---- Queries ----

DWORD ID3DXMesh::GetNumFaces() {
    return numFaces;
}
DWORD ID3DXMesh::GetNumVertices() {
    return numVertices;
}
DWORD ID3DXMesh::GetFVF() {
    return fvf;
}
DWORD ID3DXMesh::GetNumBytesPerVertex() {
    return vertexSize;
}
DWORD ID3DXMesh::GetOptions() {
    return options;
}

HRESULT ID3DXMesh::GetDeclaration(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]) {
    return D3DXDeclaratorFromFVF(fvf, Declaration);
}

HRESULT ID3DXMesh::GetDevice(LPDIRECT3DDEVICE9* ppDevice) {
    if (!ppDevice)
        return D3DERR_INVALIDCALL;
    device->AddRef();
    *ppDevice = device;
    return D3D_OK;
}

HRESULT ID3DXMesh::GetVertexBuffer(LPDIRECT3DVERTEXBUFFER9* ppVB) {
    if (!ppVB)
        return D3DERR_INVALIDCALL;
    vertexBuffer->AddRef();
    *ppVB = vertexBuffer;
    return D3D_OK;
}

HRESULT ID3DXMesh::GetIndexBuffer(LPDIRECT3DINDEXBUFFER9* ppIB) {
    if (!ppIB)
        return D3DERR_INVALIDCALL;
    indexBuffer->AddRef();
    *ppIB = indexBuffer;
    return D3D_OK;
}

// ---- Buffer access ----

HRESULT ID3DXMesh::LockVertexBuffer(DWORD Flags, LPVOID* ppData) {
    if (!ppData)
        return D3DERR_INVALIDCALL;
    HRESULT hr = vertexBuffer->Lock(0, 0, ppData, Flags);
    if (FAILED(hr))
        return hr;
    if (vertexLocks++ == 0) {
        lockedVertices = *ppData;
        RegisterLockedVertices(lockedVertices, fvf, numVertices);
    }
    return D3D_OK;
}

HRESULT ID3DXMesh::UnlockVertexBuffer() {
    HRESULT hr = vertexBuffer->Unlock();
    if (SUCCEEDED(hr) && vertexLocks > 0 && --vertexLocks == 0) {
        UnregisterLockedVertices(lockedVertices);
        lockedVertices = nullptr;
    }
    return hr;
}

HRESULT ID3DXMesh::LockIndexBuffer(DWORD Flags, LPVOID* ppData) {
    if (!ppData)
        return D3DERR_INVALIDCALL;
    return indexBuffer->Lock(0, 0, ppData, Flags);
}

HRESULT ID3DXMesh::UnlockIndexBuffer() {
    return indexBuffer->Unlock();
}

HRESULT ID3DXMesh::LockAttributeBuffer(DWORD Flags, DWORD** ppData) {
    if (!ppData)
        return D3DERR_INVALIDCALL;
    // Writable access may change any attribute, so the table no longer describes them.
    if (!(Flags & D3DLOCK_READONLY))
        attribTable.clear();
    ++attributeLocks;
    *ppData = attributes.data();
    return D3D_OK;
}

HRESULT ID3DXMesh::UnlockAttributeBuffer() {
    if (attributeLocks == 0)
        return D3DERR_INVALIDCALL;
    --attributeLocks;
    return D3D_OK;
}

void ID3DXMesh::ReadFace(const void* indices, DWORD face, DWORD out[3]) const {
    for (int k = 0; k < 3; ++k)
        out[k] = Uses32BitIndices() ? static_cast<const DWORD*>(indices)[face * 3 + k]
                                    : static_cast<const WORD*>(indices)[face * 3 + k];
}

// ---- Attribute table ----

HRESULT ID3DXMesh::GetAttributeTable(D3DXATTRIBUTERANGE* pAttribTable, DWORD* pAttribTableSize) {
    if (!pAttribTable && !pAttribTableSize)
        return D3DERR_INVALIDCALL;
    if (pAttribTable)
        std::copy(attribTable.begin(), attribTable.end(), pAttribTable);
    if (pAttribTableSize)
        *pAttribTableSize = DWORD(attribTable.size());
    return D3D_OK;
}

HRESULT ID3DXMesh::SetAttributeTable(const D3DXATTRIBUTERANGE* pAttribTable,
                                     DWORD cAttribTableSize) {
    if (!pAttribTable && cAttribTableSize)
        return D3DERR_INVALIDCALL;
    if (pAttribTable && !cAttribTableSize)
        return D3DERR_INVALIDCALL;
    for (DWORD i = 0; i < cAttribTableSize; ++i) {
        const auto& range = pAttribTable[i];
        if (uint64_t(range.FaceStart) + range.FaceCount > numFaces ||
            uint64_t(range.VertexStart) + range.VertexCount > numVertices)
            return Fail(D3DERR_INVALIDCALL, "SetAttributeTable: range outside the mesh");
    }
    attribTable.assign(pAttribTable, pAttribTable + cAttribTableSize);
    return D3D_OK;
}

// One range per run of equal attributes, with the span of vertices its faces use.
void ID3DXMesh::BuildAttributeTable(const void* indices) {
    attribTable.clear();
    for (DWORD face = 0; face < numFaces; ++face) {
        if (attribTable.empty() || attribTable.back().AttribId != attributes[face])
            attribTable.push_back({attributes[face], face, 0, 0xFFFFFFFF, 0});
        D3DXATTRIBUTERANGE& range = attribTable.back();
        ++range.FaceCount;
        DWORD corners[3];
        ReadFace(indices, face, corners);
        DWORD last = range.VertexCount ? range.VertexStart + range.VertexCount - 1 : 0;
        for (DWORD v : corners) {
            range.VertexStart = std::min(range.VertexStart, v);
            last = std::max(last, v);
        }
        range.VertexCount = last - range.VertexStart + 1;
    }
}

HRESULT ID3DXMesh::SortByAttribute(DWORD* pFaceRemap) {
    std::vector<DWORD> order(numFaces);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](DWORD a, DWORD b) { return attributes[a] < attributes[b]; });
    ScopedLock indices(indexBuffer, 0);
    if (!indices.Bytes())
        return indices.result;
    const DWORD indexSize = Uses32BitIndices() ? 4 : 2;
    std::vector<BYTE> oldIndices(indices.Bytes(),
                                 indices.Bytes() + size_t(numFaces) * 3 * indexSize);
    std::vector<DWORD> oldAttributes = attributes;
    for (DWORD face = 0; face < numFaces; ++face) {
        std::memcpy(indices.Bytes() + size_t(face) * 3 * indexSize,
                    oldIndices.data() + size_t(order[face]) * 3 * indexSize, 3 * indexSize);
        attributes[face] = oldAttributes[order[face]];
    }
    BuildAttributeTable(indices.Bytes());
    if (pFaceRemap)
        std::copy(order.begin(), order.end(), pFaceRemap);
    return D3D_OK;
}

HRESULT ID3DXMesh::OptimizeInplace(DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut,
                                   DWORD* pFaceRemap, LPD3DXBUFFER* ppVertexRemap) {
    constexpr DWORD kKnown = D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE |
                             D3DXMESHOPT_STRIPREORDER | D3DXMESHOPT_IGNOREVERTS |
                             D3DXMESHOPT_DONOTSPLIT | D3DXMESHOPT_DEVICEINDEPENDENT;
    if (Flags & ~kKnown)
        return Fail(D3DERR_INVALIDCALL, "OptimizeInplace: unknown flags " + std::to_string(Flags));
    if (attributeLocks || vertexLocks)
        return Fail(D3DERR_INVALIDCALL, "OptimizeInplace on a locked mesh");
    try {
        std::vector<DWORD> faceRemap(numFaces);
        std::iota(faceRemap.begin(), faceRemap.end(), 0u);
        if (Flags & (D3DXMESHOPT_ATTRSORT | D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_STRIPREORDER)) {
            HRESULT hr = SortByAttribute(faceRemap.data());
            if (FAILED(hr))
                return hr;
        }
        if (pAdjacencyOut) {
            if (pAdjacencyIn) {
                std::vector<DWORD> newIndexOf(numFaces);
                for (DWORD face = 0; face < numFaces; ++face)
                    newIndexOf[faceRemap[face]] = face;
                std::vector<DWORD> adjacency(pAdjacencyIn, pAdjacencyIn + size_t(numFaces) * 3);
                for (DWORD face = 0; face < numFaces; ++face)
                    for (int e = 0; e < 3; ++e) {
                        DWORD neighbour = adjacency[size_t(faceRemap[face]) * 3 + e];
                        pAdjacencyOut[face * 3 + e] =
                            neighbour < numFaces ? newIndexOf[neighbour] : kNoFace;
                    }
            } else {
                HRESULT hr = GenerateAdjacency(0.0f, pAdjacencyOut);
                if (FAILED(hr))
                    return hr;
            }
        }
        if (pFaceRemap)
            std::copy(faceRemap.begin(), faceRemap.end(), pFaceRemap);
        if (ppVertexRemap) {
            HRESULT hr = D3DXCreateBuffer(numVertices * sizeof(DWORD), ppVertexRemap);
            if (FAILED(hr))
                return hr;
            auto* remap = static_cast<DWORD*>((*ppVertexRemap)->GetBufferPointer());
            std::iota(remap, remap + numVertices, 0u);
        }
    } catch (const std::bad_alloc&) {
        return Fail(E_OUTOFMEMORY, "OptimizeInplace: out of memory");
    }
    return D3D_OK;
}

// ---- Topology ----

HRESULT ID3DXMesh::GenerateAdjacency(FLOAT Epsilon, DWORD* pAdjacency) {
    if (!pAdjacency)
        return D3DERR_INVALIDCALL;
    VertexLayout layout;
    DescribeFVF(fvf, &layout);
    if (layout.count == 0 || (layout.elements[0].usage != D3DDECLUSAGE_POSITION &&
                              layout.elements[0].usage != D3DDECLUSAGE_POSITIONT))
        return Fail(D3DERR_INVALIDCALL, "GenerateAdjacency: the mesh has no positions");
    try {
        ScopedLock vertices(vertexBuffer, D3DLOCK_READONLY);
        ScopedLock indices(indexBuffer, D3DLOCK_READONLY);
        if (!vertices.Bytes() || !indices.Bytes())
            return FAILED(vertices.result) ? vertices.result : indices.result;
        std::vector<DWORD> faces(size_t(numFaces) * 3);
        for (DWORD face = 0; face < numFaces; ++face)
            ReadFace(indices.Bytes(), face, &faces[size_t(face) * 3]);
        const auto reps =
            PointRepsFromPositions(vertices.Bytes(), vertexSize, numVertices, Epsilon);
        AdjacencyFromFaces(faces, reps, pAdjacency);
    } catch (const std::bad_alloc&) {
        return Fail(E_OUTOFMEMORY, "GenerateAdjacency: out of memory");
    }
    return D3D_OK;
}

// ---- Cloning ----

HRESULT ID3DXMesh::CloneMeshFVF(DWORD Options, DWORD FVF, LPDIRECT3DDEVICE9 pD3DDevice,
                                LPD3DXMESH* ppCloneMesh) {
    if (!ppCloneMesh)
        return D3DERR_INVALIDCALL;
    ID3DXMesh* clone = nullptr;
    HRESULT hr = D3DXCreateMeshFVF(numFaces, numVertices, Options, FVF, pD3DDevice, &clone);
    if (FAILED(hr))
        return hr;
    {
        ScopedLock srcVertices(vertexBuffer, D3DLOCK_READONLY);
        ScopedLock srcIndices(indexBuffer, D3DLOCK_READONLY);
        ScopedLock dstVertices(clone->vertexBuffer, 0);
        ScopedLock dstIndices(clone->indexBuffer, 0);
        if (!srcVertices.Bytes() || !srcIndices.Bytes() || !dstVertices.Bytes() ||
            !dstIndices.Bytes()) {
            hr = E_FAIL;
        } else {
            CopyVertices(srcVertices.Bytes(), fvf, dstVertices.Bytes(), FVF, numVertices);
            if (Uses32BitIndices() == clone->Uses32BitIndices()) {
                std::memcpy(dstIndices.Bytes(), srcIndices.Bytes(),
                            size_t(numFaces) * 3 * (Uses32BitIndices() ? 4 : 2));
            } else {
                for (DWORD face = 0; face < numFaces; ++face) {
                    DWORD corners[3];
                    ReadFace(srcIndices.Bytes(), face, corners);
                    for (int k = 0; k < 3; ++k) {
                        if (clone->Uses32BitIndices())
                            reinterpret_cast<DWORD*>(dstIndices.Bytes())[face * 3 + k] = corners[k];
                        else // the clone holds at most 65536 vertices, so every index fits
                            reinterpret_cast<WORD*>(dstIndices.Bytes())[face * 3 + k] =
                                WORD(corners[k]);
                    }
                }
            }
        }
    }
    if (FAILED(hr)) {
        clone->Release();
        return Fail(hr, "CloneMeshFVF: buffer lock failed");
    }
    clone->attributes = attributes;
    clone->attribTable = attribTable;
    *ppCloneMesh = clone;
    return D3D_OK;
}

// ---- Drawing ----

HRESULT ID3DXMesh::DrawRange(DWORD faceStart, DWORD faceCount, DWORD vertexStart,
                             DWORD vertexCount) {
    return device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, vertexStart, vertexCount,
                                        faceStart * 3, faceCount);
}

HRESULT ID3DXMesh::DrawSubset(DWORD AttribId) {
    device->SetFVF(fvf);
    device->SetStreamSource(0, vertexBuffer, 0, vertexSize);
    device->SetIndices(indexBuffer);
    HRESULT result = D3D_OK;
    if (!attribTable.empty()) {
        for (const auto& range : attribTable) {
            if (range.AttribId != AttribId || range.FaceCount == 0)
                continue;
            HRESULT hr =
                DrawRange(range.FaceStart, range.FaceCount, range.VertexStart, range.VertexCount);
            if (FAILED(hr))
                result = hr;
        }
        return result;
    }
    // No table: every run of faces carrying the attribute is one draw.
    for (DWORD face = 0; face < numFaces;) {
        if (attributes[face] != AttribId) {
            ++face;
            continue;
        }
        DWORD end = face;
        while (end < numFaces && attributes[end] == AttribId)
            ++end;
        HRESULT hr = DrawRange(face, end - face, 0, numVertices);
        if (FAILED(hr))
            result = hr;
        face = end;
    }
    return result;
}
