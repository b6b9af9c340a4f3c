// D3DX meshes, skin information and buffers, as the SDK's d3dx9mesh.h.
//
// Interfaces are concrete classes with intrusive reference counts (AddRef/Release);
// every Create*/Get* that hands out an interface adds a reference and the caller
// releases it. A mesh keeps its vertices and indices in the device's vertex and index
// buffers (created in the pool its options name) and one attribute per face.
#pragma once

#include "platform/d3d9.h"
#include "platform/d3dx9err.h"
#include "platform/d3dx9math.h"

#include <string>
#include <vector>

class ID3DXBuffer;
class ID3DXMesh;
class ID3DXSkinInfo;
typedef ID3DXBuffer* LPD3DXBUFFER;
typedef ID3DXMesh* LPD3DXMESH;
// One class serves as both the base mesh and the mesh.
typedef ID3DXMesh ID3DXBaseMesh;
typedef ID3DXMesh* LPD3DXBASEMESH;
typedef ID3DXSkinInfo* LPD3DXSKININFO;

// Mesh creation options (GetOptions returns them as given).
enum _D3DXMESH {
    D3DXMESH_32BIT = 0x001,
    D3DXMESH_DONOTCLIP = 0x002,
    D3DXMESH_POINTS = 0x004,
    D3DXMESH_RTPATCHES = 0x008,
    D3DXMESH_NPATCHES = 0x4000,
    D3DXMESH_VB_SYSTEMMEM = 0x010,
    D3DXMESH_VB_MANAGED = 0x020,
    D3DXMESH_VB_WRITEONLY = 0x040,
    D3DXMESH_VB_DYNAMIC = 0x080,
    D3DXMESH_VB_SOFTWAREPROCESSING = 0x8000,
    D3DXMESH_IB_SYSTEMMEM = 0x100,
    D3DXMESH_IB_MANAGED = 0x200,
    D3DXMESH_IB_WRITEONLY = 0x400,
    D3DXMESH_IB_DYNAMIC = 0x800,
    D3DXMESH_IB_SOFTWAREPROCESSING = 0x10000,
    D3DXMESH_VB_SHARE = 0x1000,
    D3DXMESH_USEHWONLY = 0x2000,
    D3DXMESH_SYSTEMMEM = 0x110,
    D3DXMESH_MANAGED = 0x220,
    D3DXMESH_WRITEONLY = 0x440,
    D3DXMESH_DYNAMIC = 0x880,
    D3DXMESH_SOFTWAREPROCESSING = 0x18000,
};

// OptimizeInplace flags.
enum _D3DXMESHOPT {
    D3DXMESHOPT_COMPACT = 0x01000000,
    D3DXMESHOPT_ATTRSORT = 0x02000000,
    D3DXMESHOPT_VERTEXCACHE = 0x04000000,
    D3DXMESHOPT_STRIPREORDER = 0x08000000,
    D3DXMESHOPT_IGNOREVERTS = 0x10000000,
    D3DXMESHOPT_DONOTSPLIT = 0x20000000,
    D3DXMESHOPT_DEVICEINDEPENDENT = 0x00400000,
};

// D3DXComputeTangentFrameEx options that D3DXComputeNormals shares.
enum _D3DXTANGENT {
    D3DXTANGENT_WEIGHT_BY_AREA = 0x0100,
    D3DXTANGENT_WEIGHT_EQUAL = 0x0200,
};

// Faces FaceStart .. FaceStart + FaceCount - 1 carry AttribId and use only the vertices
// VertexStart .. VertexStart + VertexCount - 1.
typedef struct _D3DXATTRIBUTERANGE {
    DWORD AttribId;
    DWORD FaceStart;
    DWORD FaceCount;
    DWORD VertexStart;
    DWORD VertexCount;
} D3DXATTRIBUTERANGE, *LPD3DXATTRIBUTERANGE;

typedef struct _D3DXMATERIAL {
    D3DMATERIAL9 MatD3D;
    LPSTR pTextureFilename;
} D3DXMATERIAL, *LPD3DXMATERIAL;

typedef enum _D3DXEFFECTDEFAULTTYPE {
    D3DXEDT_STRING = 0x1,
    D3DXEDT_FLOATS = 0x2,
    D3DXEDT_DWORD = 0x3,
    D3DXEDT_FORCEDWORD = 0x7fffffff
} D3DXEFFECTDEFAULTTYPE;

typedef struct _D3DXEFFECTDEFAULT {
    LPSTR pParamName;
    D3DXEFFECTDEFAULTTYPE Type;
    DWORD NumBytes;
    LPVOID pValue;
} D3DXEFFECTDEFAULT, *LPD3DXEFFECTDEFAULT;

typedef struct _D3DXEFFECTINSTANCE {
    LPSTR pEffectFilename;
    DWORD NumDefaults;
    LPD3DXEFFECTDEFAULT pDefaults;
} D3DXEFFECTINSTANCE, *LPD3DXEFFECTINSTANCE;

// Room for the declaration of any FVF code, D3DDECL_END() included.
#define MAX_FVF_DECL_SIZE (MAXD3DDECLLENGTH + 1)

// A block of bytes handed out by D3DX (adjacency, materials, remaps).
class ID3DXBuffer {
public:
    ULONG AddRef();
    ULONG Release();
    LPVOID GetBufferPointer();
    DWORD GetBufferSize();

    ID3DXBuffer(const ID3DXBuffer&) = delete;
    ID3DXBuffer& operator=(const ID3DXBuffer&) = delete;

private:
    friend HRESULT WINAPI D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer);
    explicit ID3DXBuffer(DWORD size);
    ~ID3DXBuffer();
    ULONG refCount = 1;
    DWORD size;
    BYTE* data;
};

// Zero-filled buffer of NumBytes bytes.
HRESULT WINAPI D3DXCreateBuffer(DWORD NumBytes, LPD3DXBUFFER* ppBuffer);

class ID3DXMesh {
public:
    ULONG AddRef();
    ULONG Release();

    // Draws the faces whose attribute is AttribId as a triangle list on the mesh's device,
    // one draw per attribute range; sets the device's FVF, stream 0 and indices.
    HRESULT DrawSubset(DWORD AttribId);
    DWORD GetNumFaces();
    DWORD GetNumVertices();
    DWORD GetFVF();
    HRESULT GetDeclaration(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]);
    DWORD GetNumBytesPerVertex();
    DWORD GetOptions();
    HRESULT GetDevice(LPDIRECT3DDEVICE9* ppDevice);

    // A new mesh with the same faces, vertex count and order, indices, attributes and
    // attribute table. Vertex fields present in both formats are copied (converted
    // between float widths and colours), fields only in FVF are zero.
    HRESULT CloneMeshFVF(DWORD Options, DWORD FVF, LPDIRECT3DDEVICE9 pD3DDevice,
                         LPD3DXMESH* ppCloneMesh);
    HRESULT GetVertexBuffer(LPDIRECT3DVERTEXBUFFER9* ppVB);
    HRESULT GetIndexBuffer(LPDIRECT3DINDEXBUFFER9* ppIB);

    // Whole-buffer locks with D3DLOCK_* flags.
    HRESULT LockVertexBuffer(DWORD Flags, LPVOID* ppData);
    HRESULT UnlockVertexBuffer();
    HRESULT LockIndexBuffer(DWORD Flags, LPVOID* ppData);
    HRESULT UnlockIndexBuffer();

    // pAttribTable null: *pAttribTableSize = number of ranges. Otherwise copies every range
    // and, when pAttribTableSize is given, stores the count.
    HRESULT GetAttributeTable(D3DXATTRIBUTERANGE* pAttribTable, DWORD* pAttribTableSize);
    // Adjacency: three DWORDs per face (edges v0-v1, v1-v2, v2-v0), the neighbouring face
    // across each edge or 0xFFFFFFFF. Vertices within Epsilon of each other coincide.
    HRESULT GenerateAdjacency(FLOAT Epsilon, DWORD* pAdjacency);

    // One DWORD per face. A lock without D3DLOCK_READONLY discards the attribute table.
    HRESULT LockAttributeBuffer(DWORD Flags, DWORD** ppData);
    HRESULT UnlockAttributeBuffer();
    // Replaces the attribute table; (null, 0) clears it.
    HRESULT SetAttributeTable(const D3DXATTRIBUTERANGE* pAttribTable, DWORD cAttribTableSize);
    // D3DXMESHOPT_ATTRSORT (also implied by VERTEXCACHE and STRIPREORDER) sorts the faces
    // stably by attribute and builds the attribute table. Vertices keep their order, so
    // *ppVertexRemap, when asked for, is the identity; pFaceRemap[new face] = old face.
    HRESULT OptimizeInplace(DWORD Flags, const DWORD* pAdjacencyIn, DWORD* pAdjacencyOut,
                            DWORD* pFaceRemap, LPD3DXBUFFER* ppVertexRemap);

    ID3DXMesh(const ID3DXMesh&) = delete;
    ID3DXMesh& operator=(const ID3DXMesh&) = delete;

private:
    friend HRESULT WINAPI D3DXCreateMeshFVF(DWORD NumFaces, DWORD NumVertices, DWORD Options,
                                            DWORD FVF, LPDIRECT3DDEVICE9 pD3DDevice,
                                            LPD3DXMESH* ppMesh);
    ID3DXMesh() = default;
    ~ID3DXMesh();
    // Face's three vertex indices, whatever the index width.
    void ReadFace(const void* indices, DWORD face, DWORD out[3]) const;
    bool Uses32BitIndices() const { return (options & D3DXMESH_32BIT) != 0; }
    HRESULT SortByAttribute(DWORD* pFaceRemap);
    void BuildAttributeTable(const void* indices);
    HRESULT DrawRange(DWORD faceStart, DWORD faceCount, DWORD vertexStart, DWORD vertexCount);

    ULONG refCount = 1;
    IDirect3DDevice9* device = nullptr; // one reference
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    DWORD options = 0;
    DWORD fvf = 0;
    DWORD vertexSize = 0;
    DWORD numFaces = 0;
    DWORD numVertices = 0;
    std::vector<DWORD> attributes;               // one per face
    std::vector<D3DXATTRIBUTERANGE> attribTable; // empty until sorted or set
    int attributeLocks = 0;
    int vertexLocks = 0;
    void* lockedVertices = nullptr; // while the vertex buffer is locked through the mesh
};

// Creates a mesh of NumFaces triangles and NumVertices vertices of format FVF; indices
// are 16-bit unless D3DXMESH_32BIT is given (16-bit meshes hold at most 65536 vertices).
// Vertex, index and attribute contents start zero.
HRESULT WINAPI D3DXCreateMeshFVF(DWORD NumFaces, DWORD NumVertices, DWORD Options, DWORD FVF,
                                 LPDIRECT3DDEVICE9 pD3DDevice, LPD3DXMESH* ppMesh);

// Bone names, offset matrices and per-bone vertex influences of a skinned mesh, and the
// software skinning that deforms its vertices.
class ID3DXSkinInfo {
public:
    ULONG AddRef();
    ULONG Release();

    // Replaces the bone's influences: numInfluences pairs of a vertex index (below the
    // skin's vertex count) and its weight. The arrays are copied.
    HRESULT SetBoneInfluence(DWORD Bone, DWORD numInfluences, const DWORD* vertices,
                             const FLOAT* weights);
    DWORD GetNumBoneInfluences(DWORD Bone);
    // Copies the bone's influences into arrays of GetNumBoneInfluences entries.
    HRESULT GetBoneInfluence(DWORD Bone, DWORD* vertices, FLOAT* weights);
    // The largest number of bones that influence one vertex.
    HRESULT GetMaxVertexInfluences(DWORD* maxVertexInfluences);
    DWORD GetNumBones();

    // The name is copied; GetBoneName returns the skin's copy (null when unset or out of
    // range), valid until the name is set again or the skin is released.
    HRESULT SetBoneName(DWORD Bone, LPCSTR pName);
    LPCSTR GetBoneName(DWORD Bone);
    HRESULT SetBoneOffsetMatrix(DWORD Bone, const D3DXMATRIX* pBoneTransform);
    // Points into the skin (null when out of range).
    LPD3DXMATRIX GetBoneOffsetMatrix(DWORD Bone);

    HRESULT Clone(LPD3DXSKININFO* ppSkinInfo);
    // After the mesh's vertices were rearranged: new vertex i was old vertex
    // pVertexRemap[i] (0xFFFFFFFF: a vertex without source). NumVertices is the new count;
    // influences follow their vertices, copies of a vertex inherit its influences.
    HRESULT Remap(DWORD NumVertices, DWORD* pVertexRemap);

    // The vertex format UpdateSkinnedMesh assumes for both vertex arrays.
    HRESULT SetFVF(DWORD FVF);
    DWORD GetFVF();
    HRESULT GetDeclaration(D3DVERTEXELEMENT9 Declaration[MAX_FVF_DECL_SIZE]);

    // Software skinning. Every vertex of pVerticesDst is rewritten from pVerticesSrc:
    // position = sum of weight * (position transformed by pBoneTransforms[bone]); normal
    // likewise by pBoneInvTransposeTransforms[bone] (or pBoneTransforms when null), then
    // normalised; other fields copied. A vertex without influences gets position and
    // normal zero. When the arrays are a locked mesh's vertex buffer, the mesh's own vertex
    // format and count are used (the mesh may have gained fields since the skin was made).
    HRESULT UpdateSkinnedMesh(const D3DXMATRIX* pBoneTransforms,
                              const D3DXMATRIX* pBoneInvTransposeTransforms, LPCVOID pVerticesSrc,
                              LPVOID pVerticesDst);

    ID3DXSkinInfo(const ID3DXSkinInfo&) = delete;
    ID3DXSkinInfo& operator=(const ID3DXSkinInfo&) = delete;

    struct Influence {
        DWORD bone;
        FLOAT weight;
    };

private:
    friend HRESULT WINAPI D3DXCreateSkinInfoFVF(DWORD NumVertices, DWORD FVF, DWORD NumBones,
                                                LPD3DXSKININFO* ppSkinInfo);
    ID3DXSkinInfo() = default;
    ~ID3DXSkinInfo() = default;
    void BuildVertexInfluences();
    DWORD TableVertices() const { return DWORD(influenceStart.size() - 1); }

    struct Bone {
        std::string name;
        bool named = false;
        D3DXMATRIX offset;
        std::vector<DWORD> vertices;
        std::vector<FLOAT> weights;
    };
    ULONG refCount = 1;
    DWORD numVertices = 0;
    DWORD fvf = 0;
    std::vector<Bone> bones;
    // Vertex-major copy of the influences, rebuilt when they change: vertex v's
    // influences are vertexInfluences[influenceStart[v] .. influenceStart[v + 1]);
    // vertices from TableVertices() on have none.
    bool influencesChanged = true;
    std::vector<DWORD> influenceStart = {0};
    std::vector<Influence> vertexInfluences;
};

HRESULT WINAPI D3DXCreateSkinInfoFVF(DWORD NumVertices, DWORD FVF, DWORD NumBones,
                                     LPD3DXSKININFO* ppSkinInfo);

// Recomputes the mesh's normals: each face's normal, weighted by the angle of the face at
// the vertex, is summed per vertex and normalised. Without adjacency only faces that
// share a vertex index are smoothed together; with adjacency, vertices that adjacent
// faces share across an edge are smoothed together too.
HRESULT WINAPI D3DXComputeNormals(LPD3DXBASEMESH pMesh, const DWORD* pAdjacency);

// Bytes per vertex of an FVF code (0 for an invalid code).
UINT WINAPI D3DXGetFVFVertexSize(DWORD FVF);
HRESULT WINAPI D3DXDeclaratorFromFVF(DWORD FVF, D3DVERTEXELEMENT9 pDeclarator[MAX_FVF_DECL_SIZE]);
