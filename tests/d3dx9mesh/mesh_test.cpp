#include "device.h"
#include "tests/kit/environment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

// Found by the standard algorithms, which look in the record's (global) namespace.
static bool operator==(const D3DXATTRIBUTERANGE& a, const D3DXATTRIBUTERANGE& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

namespace {

// A write past a block fails the program even when no expectation sees it.
const auto* const kGuardWatch = kit::AddShared(new kit::GuardDamageWatch);

using meshtest::Device;
using meshtest::MakeMesh;
using meshtest::MeshPtr;

struct TexturedVertex {
    float x, y, z;
    float u, v;
};
constexpr DWORD kTexturedFvf = D3DFVF_XYZ | D3DFVF_TEX1;

// Two quads side by side, six faces; every vertex distinct in position and uv.
const TexturedVertex kStrip[] = {{0, 0, 0, 0.0f, 0.5f}, {0, 1, 0, 0.1f, 0.6f},
                                 {1, 1, 0, 0.2f, 0.7f}, {1, 0, 0, 0.3f, 0.8f},
                                 {2, 1, 0, 0.4f, 0.9f}, {2, 0, 0, 0.5f, 1.0f}};

std::vector<DWORD> Attributes(ID3DXMesh* mesh) {
    DWORD* data = nullptr;
    EXPECT_EQ(D3D_OK, mesh->LockAttributeBuffer(D3DLOCK_READONLY, &data));
    std::vector<DWORD> attributes(data, data + mesh->GetNumFaces());
    mesh->UnlockAttributeBuffer();
    return attributes;
}

void SetAttributes(ID3DXMesh* mesh, const std::vector<DWORD>& attributes) {
    DWORD* data = nullptr;
    ASSERT_EQ(D3D_OK, mesh->LockAttributeBuffer(0, &data));
    std::copy(attributes.begin(), attributes.end(), data);
    mesh->UnlockAttributeBuffer();
}

std::vector<DWORD> Indices(ID3DXMesh* mesh) {
    void* data = nullptr;
    EXPECT_EQ(D3D_OK, mesh->LockIndexBuffer(D3DLOCK_READONLY, &data));
    std::vector<DWORD> indices(mesh->GetNumFaces() * 3);
    for (size_t i = 0; i < indices.size(); ++i)
        indices[i] = (mesh->GetOptions() & D3DXMESH_32BIT) ? static_cast<DWORD*>(data)[i]
                                                           : static_cast<WORD*>(data)[i];
    mesh->UnlockIndexBuffer();
    return indices;
}

std::vector<D3DXATTRIBUTERANGE> Table(ID3DXMesh* mesh) {
    DWORD count = 99;
    EXPECT_EQ(D3D_OK, mesh->GetAttributeTable(nullptr, &count));
    std::vector<D3DXATTRIBUTERANGE> table(count);
    if (count) {
        EXPECT_EQ(D3D_OK, mesh->GetAttributeTable(table.data(), nullptr));
    }
    return table;
}

template <typename Vertex> std::vector<Vertex> Vertices(ID3DXMesh* mesh) {
    EXPECT_EQ(sizeof(Vertex), mesh->GetNumBytesPerVertex());
    void* data = nullptr;
    EXPECT_EQ(D3D_OK, mesh->LockVertexBuffer(D3DLOCK_READONLY, &data));
    std::vector<Vertex> vertices(mesh->GetNumVertices());
    std::memcpy(vertices.data(), data, vertices.size() * sizeof(Vertex));
    mesh->UnlockVertexBuffer();
    return vertices;
}

TEST(MeshCreation, DescribesItselfAndStartsZeroed) {
    REQUIRE_DEVICE();
    ID3DXMesh* raw = nullptr;
    ASSERT_EQ(D3D_OK, D3DXCreateMeshFVF(4, 6, D3DXMESH_MANAGED,
                                        D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1, Device(), &raw));
    MeshPtr mesh(raw);
    EXPECT_EQ(4u, mesh->GetNumFaces());
    EXPECT_EQ(6u, mesh->GetNumVertices());
    EXPECT_EQ(DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1), mesh->GetFVF());
    EXPECT_EQ(DWORD(D3DXMESH_MANAGED), mesh->GetOptions());
    EXPECT_EQ(32u, mesh->GetNumBytesPerVertex());
    IDirect3DDevice9* device = nullptr;
    ASSERT_EQ(D3D_OK, mesh->GetDevice(&device));
    EXPECT_EQ(Device(), device);
    device->Release();

    EXPECT_EQ(std::vector<DWORD>(4, 0), Attributes(mesh.get()));
    EXPECT_EQ(std::vector<DWORD>(12, 0), Indices(mesh.get()));
    EXPECT_TRUE(Table(mesh.get()).empty());

    // The index width follows D3DXMESH_32BIT.
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    ASSERT_EQ(D3D_OK, mesh->GetIndexBuffer(&indexBuffer));
    D3DINDEXBUFFER_DESC desc{};
    indexBuffer->GetDesc(&desc);
    EXPECT_EQ(D3DFMT_INDEX16, desc.Format);
    EXPECT_EQ(D3DPOOL_MANAGED, desc.Pool);
    EXPECT_EQ(24u, desc.Size);
    indexBuffer->Release();

    MeshPtr wide = MakeMesh(kTexturedFvf, kStrip, 6, {0, 1, 2}, D3DXMESH_MANAGED | D3DXMESH_32BIT);
    ASSERT_EQ(D3D_OK, wide->GetIndexBuffer(&indexBuffer));
    indexBuffer->GetDesc(&desc);
    EXPECT_EQ(D3DFMT_INDEX32, desc.Format);
    indexBuffer->Release();
}

TEST(MeshCreation, RefusesImpossibleMeshes) {
    REQUIRE_DEVICE();
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3DERR_INVALIDCALL,
              D3DXCreateMeshFVF(0, 3, D3DXMESH_MANAGED, kTexturedFvf, Device(), &mesh));
    EXPECT_EQ(D3DERR_INVALIDCALL,
              D3DXCreateMeshFVF(1, 0, D3DXMESH_MANAGED, kTexturedFvf, Device(), &mesh));
    EXPECT_EQ(D3DERR_INVALIDCALL,
              D3DXCreateMeshFVF(1, 3, D3DXMESH_MANAGED, kTexturedFvf, nullptr, &mesh));
    EXPECT_EQ(D3DERR_INVALIDCALL,
              D3DXCreateMeshFVF(1, 3, D3DXMESH_MANAGED, 0x2001, Device(), &mesh));
    EXPECT_EQ(D3DERR_INVALIDCALL,
              D3DXCreateMeshFVF(1, 3, D3DXMESH_VB_SHARE, kTexturedFvf, Device(), &mesh));
    // 16-bit indices cannot reach vertex 65536.
    EXPECT_EQ(D3DERR_INVALIDCALL,
              D3DXCreateMeshFVF(1, 70000, D3DXMESH_MANAGED, D3DFVF_XYZ, Device(), &mesh));
    // Sizes beyond what a buffer can hold fail cleanly instead of wrapping.
    EXPECT_EQ(E_OUTOFMEMORY, D3DXCreateMeshFVF(0x60000000, 3, D3DXMESH_MANAGED | D3DXMESH_32BIT,
                                               D3DFVF_XYZ, Device(), &mesh));
    EXPECT_EQ(nullptr, mesh);
    ASSERT_EQ(D3D_OK, D3DXCreateMeshFVF(1, 70000, D3DXMESH_MANAGED | D3DXMESH_32BIT, D3DFVF_XYZ,
                                        Device(), &mesh));
    mesh->Release();
}

TEST(MeshClone, AddsNormalsWithZeroesAndKeepsEverythingElse) {
    REQUIRE_DEVICE();
    MeshPtr mesh = MakeMesh(kTexturedFvf, kStrip, 6, {0, 1, 2, 0, 2, 3, 3, 2, 4, 3, 4, 5});
    SetAttributes(mesh.get(), {1, 0, 1, 0});
    ASSERT_EQ(D3D_OK,
              mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr));

    ID3DXMesh* raw = nullptr;
    ASSERT_EQ(D3D_OK,
              mesh->CloneMeshFVF(D3DXMESH_MANAGED, kTexturedFvf | D3DFVF_NORMAL, Device(), &raw));
    MeshPtr clone(raw);
    struct NormalVertex {
        float x, y, z, nx, ny, nz, u, v;
    };
    const auto vertices = Vertices<NormalVertex>(clone.get());
    ASSERT_EQ(6u, vertices.size());
    for (size_t i = 0; i < vertices.size(); ++i) {
        EXPECT_EQ(kStrip[i].x, vertices[i].x);
        EXPECT_EQ(kStrip[i].y, vertices[i].y);
        EXPECT_EQ(kStrip[i].v, vertices[i].v);
        EXPECT_EQ(0.0f, vertices[i].nx);
        EXPECT_EQ(0.0f, vertices[i].nz);
    }
    EXPECT_EQ(Indices(mesh.get()), Indices(clone.get()));
    EXPECT_EQ(Attributes(mesh.get()), Attributes(clone.get()));
    EXPECT_EQ(Table(mesh.get()), Table(clone.get()));
    EXPECT_EQ(2u, Table(clone.get()).size());
}

TEST(MeshClone, DropsAndWidensFieldsBetweenFormats) {
    REQUIRE_DEVICE();
    struct Rich {
        float x, y, z, nx, ny, nz;
        DWORD diffuse;
        float u0, v0, u1, v1;
    };
    const Rich source[3] = {{1, 2, 3, 0, 1, 0, 0xFF336699, 0.5f, 0.25f, 9, 8},
                            {4, 5, 6, 1, 0, 0, 0x80FFFFFF, 0.75f, 1.0f, 7, 6},
                            {7, 8, 9, 0, 0, 1, 0x00000000, 0.0f, 0.0f, 5, 4}};
    const DWORD richFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2;
    MeshPtr mesh = MakeMesh(richFvf, source, 3, {0, 1, 2});

    // Fewer fields: normals, colour and the second set go.
    ID3DXMesh* raw = nullptr;
    ASSERT_EQ(D3D_OK, mesh->CloneMeshFVF(D3DXMESH_MANAGED, kTexturedFvf, Device(), &raw));
    MeshPtr narrow(raw);
    const auto plain = Vertices<TexturedVertex>(narrow.get());
    EXPECT_EQ(4.0f, plain[1].x);
    EXPECT_EQ(0.75f, plain[1].u);
    EXPECT_EQ(1.0f, plain[1].v);

    // A wider texture set gains a zero third coordinate; 32-bit indices keep their values.
    const DWORD wideFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1 | D3DFVF_TEXCOORDSIZE3(0);
    ASSERT_EQ(D3D_OK,
              mesh->CloneMeshFVF(D3DXMESH_MANAGED | D3DXMESH_32BIT, wideFvf, Device(), &raw));
    MeshPtr wide(raw);
    struct Wide {
        float x, y, z;
        DWORD diffuse;
        float u, v, w;
    };
    const auto widened = Vertices<Wide>(wide.get());
    EXPECT_EQ(0xFF336699u, widened[0].diffuse);
    EXPECT_EQ(0.5f, widened[0].u);
    EXPECT_EQ(0.0f, widened[0].w);
    EXPECT_EQ((std::vector<DWORD>{0, 1, 2}), Indices(wide.get()));
}

TEST(MeshAttributes, SortingBuildsTheTableOfAnUnsortedBuffer) {
    REQUIRE_DEVICE();
    MeshPtr mesh = MakeMesh(kTexturedFvf, kStrip, 6, {0, 1, 2, 0, 2, 3, 3, 2, 4, 3, 4, 5, 1, 2, 4});
    SetAttributes(mesh.get(), {2, 0, 2, 1, 0});
    DWORD faceRemap[5];
    ID3DXBuffer* vertexRemap = nullptr;
    ASSERT_EQ(D3D_OK, mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, faceRemap,
                                            &vertexRemap));
    // Stable: within an attribute the faces keep their order.
    EXPECT_EQ((std::vector<DWORD>{1, 4, 3, 0, 2}), std::vector<DWORD>(faceRemap, faceRemap + 5));
    EXPECT_EQ((std::vector<DWORD>{0, 0, 1, 2, 2}), Attributes(mesh.get()));
    EXPECT_EQ((std::vector<DWORD>{0, 2, 3, 1, 2, 4, 3, 4, 5, 0, 1, 2, 3, 2, 4}),
              Indices(mesh.get()));
    const std::vector<D3DXATTRIBUTERANGE> expected = {
        {0, 0, 2, 0, 5}, {1, 2, 1, 3, 3}, {2, 3, 2, 0, 5}};
    EXPECT_EQ(expected, Table(mesh.get()));
    // Vertices never move.
    ASSERT_NE(nullptr, vertexRemap);
    ASSERT_EQ(6 * sizeof(DWORD), vertexRemap->GetBufferSize());
    const DWORD* remap = static_cast<const DWORD*>(vertexRemap->GetBufferPointer());
    EXPECT_EQ((std::vector<DWORD>{0, 1, 2, 3, 4, 5}), std::vector<DWORD>(remap, remap + 6));
    vertexRemap->Release();

    // Reading leaves the table; writing discards it until the next sort.
    DWORD* data = nullptr;
    mesh->LockAttributeBuffer(D3DLOCK_READONLY, &data);
    mesh->UnlockAttributeBuffer();
    EXPECT_EQ(3u, Table(mesh.get()).size());
    mesh->LockAttributeBuffer(0, &data);
    mesh->UnlockAttributeBuffer();
    EXPECT_TRUE(Table(mesh.get()).empty());
    EXPECT_EQ(D3DERR_INVALIDCALL, mesh->UnlockAttributeBuffer());
}

TEST(MeshAttributes, SortingCarriesAdjacencyAlong) {
    REQUIRE_DEVICE();
    MeshPtr mesh = MakeMesh(kTexturedFvf, kStrip, 6, {0, 1, 2, 0, 2, 3, 3, 2, 4, 3, 4, 5});
    std::vector<DWORD> adjacency(12);
    ASSERT_EQ(D3D_OK, mesh->GenerateAdjacency(0.0f, adjacency.data()));
    SetAttributes(mesh.get(), {1, 1, 0, 0});
    std::vector<DWORD> sortedAdjacency(12), regenerated(12);
    ASSERT_EQ(D3D_OK, mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, adjacency.data(),
                                            sortedAdjacency.data(), nullptr, nullptr));
    ASSERT_EQ(D3D_OK, mesh->GenerateAdjacency(0.0f, regenerated.data()));
    EXPECT_EQ(regenerated, sortedAdjacency);
}

TEST(MeshTopology, AdjacencyJoinsFacesAcrossSharedAndCoincidentEdges) {
    REQUIRE_DEVICE();
    const DWORD none = 0xFFFFFFFF;
    MeshPtr mesh = MakeMesh(kTexturedFvf, kStrip, 6, {0, 1, 2, 0, 2, 3, 3, 2, 4, 3, 4, 5});
    std::vector<DWORD> adjacency(12);
    ASSERT_EQ(D3D_OK, mesh->GenerateAdjacency(0.0f, adjacency.data()));
    EXPECT_EQ((std::vector<DWORD>{none, none, 1, 0, 2, none, 1, none, 3, 2, none, none}),
              adjacency);

    // The same quad with its second triangle on copies of the shared corners.
    const TexturedVertex split[] = {kStrip[0], kStrip[1], kStrip[2],
                                    kStrip[0], kStrip[2], kStrip[3]};
    MeshPtr copies = MakeMesh(kTexturedFvf, split, 6, {0, 1, 2, 3, 4, 5});
    ASSERT_EQ(D3D_OK, copies->GenerateAdjacency(0.0f, adjacency.data()));
    EXPECT_EQ((std::vector<DWORD>{none, none, 1, 0, none, none}),
              std::vector<DWORD>(adjacency.begin(), adjacency.begin() + 6));

    // Corners a little apart join only within epsilon, the leftmost of all points too.
    TexturedVertex nudged[6];
    std::copy(split, split + 6, nudged);
    nudged[3].x -= 0.01f;
    nudged[4].x += 0.01f;
    MeshPtr apart = MakeMesh(kTexturedFvf, nudged, 6, {0, 1, 2, 3, 4, 5});
    apart->GenerateAdjacency(0.0f, adjacency.data());
    EXPECT_EQ(none, adjacency[2]);
    apart->GenerateAdjacency(0.1f, adjacency.data());
    EXPECT_EQ(1u, adjacency[2]);
}

TEST(MeshTopology, CoincidentCopiesJoinAndNanCornersJoinNothing) {
    REQUIRE_DEVICE();
    const DWORD none = 0xFFFFFFFF;
    // Four copies of the strip's quad, all on the same four corners.
    std::vector<TexturedVertex> copies;
    for (int copy = 0; copy < 4; ++copy)
        copies.insert(copies.end(), {kStrip[0], kStrip[1], kStrip[2], kStrip[3]});
    MeshPtr stacked =
        MakeMesh(kTexturedFvf, copies.data(), DWORD(copies.size()),
                 {0, 1, 2, 0, 2, 3, 4, 5, 6, 4, 6, 7, 8, 9, 10, 8, 10, 11, 12, 13, 14, 12, 14, 15});
    std::vector<DWORD> adjacency(24);
    ASSERT_EQ(D3D_OK, stacked->GenerateAdjacency(0.0f, adjacency.data()));
    // The diagonal is edge 2 of each quad's first triangle and edge 0 of its second; of the
    // four faces across it, the first in index order is the neighbour (face 1 or face 0).
    for (DWORD face = 0; face < 8; ++face)
        EXPECT_EQ(face % 2 ? 0u : 1u, adjacency[face * 3 + (face % 2 ? 0 : 2)]) << "face " << face;

    TexturedVertex damaged[6] = {kStrip[0], kStrip[1], kStrip[2], kStrip[0], kStrip[2], kStrip[3]};
    damaged[4].x = std::numeric_limits<float>::quiet_NaN();
    MeshPtr broken = MakeMesh(kTexturedFvf, damaged, 6, {0, 1, 2, 3, 4, 5});
    for (float epsilon : {0.0f, 0.1f}) {
        ASSERT_EQ(D3D_OK, broken->GenerateAdjacency(epsilon, adjacency.data()));
        EXPECT_EQ(none, adjacency[2]);
        EXPECT_EQ(none, adjacency[3]);
    }
}

} // namespace
