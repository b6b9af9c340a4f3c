#include "device.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <array>
#include <vector>

namespace {

using meshtest::Device;
using meshtest::MeshPtr;

struct Vertex {
    D3DXVECTOR3 position;
    D3DXVECTOR3 normal;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL;

// Unit cube corners; corner c has x = bit 0, y = bit 1, z = bit 2.
D3DXVECTOR3 Corner(int c) {
    return D3DXVECTOR3(c & 1 ? 1.0f : -1.0f, c & 2 ? 1.0f : -1.0f, c & 4 ? 1.0f : -1.0f);
}

// Faces as corner quads, wound clockwise seen from outside (D3D's front faces).
const int kQuads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                          {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};

MeshPtr MakeCube(bool splitCorners) {
    ID3DXMesh* mesh = nullptr;
    const DWORD numVertices = splitCorners ? 24 : 8;
    EXPECT_EQ(D3D_OK, D3DXCreateMeshFVF(12, numVertices, D3DXMESH_MANAGED, kFvf, Device(), &mesh));
    Vertex* vertices = nullptr;
    WORD* indices = nullptr;
    mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&vertices));
    mesh->LockIndexBuffer(0, reinterpret_cast<void**>(&indices));
    for (int q = 0; q < 6; ++q) {
        WORD corner[4];
        for (int k = 0; k < 4; ++k) {
            corner[k] = WORD(splitCorners ? q * 4 + k : kQuads[q][k]);
            vertices[corner[k]] = {Corner(kQuads[q][k]), D3DXVECTOR3(9, 9, 9)};
        }
        const WORD triangles[6] = {corner[0], corner[1], corner[2],
                                   corner[0], corner[2], corner[3]};
        std::memcpy(indices + q * 6, triangles, sizeof triangles);
    }
    mesh->UnlockIndexBuffer();
    mesh->UnlockVertexBuffer();
    return MeshPtr(mesh);
}

// A mesh of two triangles on the given vertices.
template <size_t N>
MeshPtr TwoFaces(const Vertex (&vertices)[N], const std::array<WORD, 6>& indices) {
    ID3DXMesh* raw = nullptr;
    if (D3DXCreateMeshFVF(2, N, D3DXMESH_MANAGED, kFvf, Device(), &raw) != D3D_OK)
        return nullptr;
    MeshPtr mesh(raw);
    void* data = nullptr;
    mesh->LockVertexBuffer(0, &data);
    std::memcpy(data, vertices, sizeof vertices);
    mesh->UnlockVertexBuffer();
    mesh->LockIndexBuffer(0, &data);
    std::memcpy(data, indices.data(), sizeof indices);
    mesh->UnlockIndexBuffer();
    return mesh;
}

std::vector<Vertex> Read(ID3DXMesh* mesh) {
    Vertex* data = nullptr;
    mesh->LockVertexBuffer(D3DLOCK_READONLY, reinterpret_cast<void**>(&data));
    std::vector<Vertex> vertices(data, data + mesh->GetNumVertices());
    mesh->UnlockVertexBuffer();
    return vertices;
}

void ExpectNear(const D3DXVECTOR3& expected, const D3DXVECTOR3& actual) {
    EXPECT_NEAR(expected.x, actual.x, 1e-5f);
    EXPECT_NEAR(expected.y, actual.y, 1e-5f);
    EXPECT_NEAR(expected.z, actual.z, 1e-5f);
}

TEST(ComputeNormals, SharedCornersComeOutSmooth) {
    REQUIRE_DEVICE();
    MeshPtr cube = MakeCube(false);
    ASSERT_EQ(D3D_OK, D3DXComputeNormals(cube.get(), nullptr));
    for (const Vertex& v : Read(cube.get())) {
        D3DXVECTOR3 diagonal;
        D3DXVec3Normalize(&diagonal, &v.position);
        ExpectNear(diagonal, v.normal); // each corner sees three faces at equal angles
    }
}

TEST(ComputeNormals, SplitCornersKeepHardEdges) {
    REQUIRE_DEVICE();
    MeshPtr cube = MakeCube(true);
    ASSERT_EQ(D3D_OK, D3DXComputeNormals(cube.get(), nullptr));
    const auto vertices = Read(cube.get());
    for (int q = 0; q < 6; ++q) {
        // The face's outward axis: the coordinate its four corners share.
        D3DXVECTOR3 centre;
        for (int k = 0; k < 4; ++k)
            centre += vertices[q * 4 + k].position * 0.25f;
        for (int k = 0; k < 4; ++k)
            ExpectNear(centre, vertices[q * 4 + k].normal);
    }
}

TEST(ComputeNormals, AdjacencySmoothsAcrossSplitCorners) {
    REQUIRE_DEVICE();
    MeshPtr cube = MakeCube(true);
    std::vector<DWORD> adjacency(36);
    ASSERT_EQ(D3D_OK, cube->GenerateAdjacency(0.0f, adjacency.data()));
    ASSERT_EQ(D3D_OK, D3DXComputeNormals(cube.get(), adjacency.data()));
    for (const Vertex& v : Read(cube.get())) {
        D3DXVECTOR3 diagonal;
        D3DXVec3Normalize(&diagonal, &v.position);
        ExpectNear(diagonal, v.normal);
    }
}

TEST(ComputeNormals, WeightsByCornerAngleAndLeavesUnusedVerticesZero) {
    REQUIRE_DEVICE();
    // A right-angle fold: a unit triangle in the floor, and one wall triangle whose corner
    // at the shared vertex 0 is 45 degrees. Vertex 4 belongs to no face.
    const Vertex vertices[5] = {{D3DXVECTOR3(0, 0, 0), {}},
                                {D3DXVECTOR3(0, 0, 1), {}},
                                {D3DXVECTOR3(1, 0, 0), {}},
                                {D3DXVECTOR3(1, 1, 0), {}},
                                {D3DXVECTOR3(5, 5, 5), D3DXVECTOR3(1, 0, 0)}};
    MeshPtr mesh = TwoFaces(vertices, {0, 1, 2, 0, 3, 2});
    ASSERT_NE(mesh, nullptr);

    ASSERT_EQ(D3D_OK, D3DXComputeNormals(mesh.get(), nullptr));
    const auto result = Read(mesh.get());
    // Floor normal +y with weight pi/2, wall normal -z with weight pi/4.
    D3DXVECTOR3 expected(0, D3DX_PI / 2, -D3DX_PI / 4);
    D3DXVec3Normalize(&expected, &expected);
    ExpectNear(expected, result[0].normal);
    ExpectNear(D3DXVECTOR3(0, 1, 0), result[1].normal);
    ExpectNear(D3DXVECTOR3(0, 0, -1), result[3].normal);
    ExpectNear(D3DXVECTOR3(0, 0, 0), result[4].normal);

    // The fold on split corners (4 and 5 copy 0 and 2), its wall wound the other way, the
    // shared edge the first of both faces: the adjacency joins the copies across it.
    const Vertex split[6] = {vertices[0], vertices[1], vertices[2],
                             vertices[3], vertices[0], vertices[2]};
    MeshPtr folded = TwoFaces(split, {2, 0, 1, 4, 5, 3});
    ASSERT_NE(folded, nullptr);
    std::vector<DWORD> adjacency(6);
    ASSERT_EQ(D3D_OK, folded->GenerateAdjacency(0.0f, adjacency.data()));
    ASSERT_EQ(D3D_OK, D3DXComputeNormals(folded.get(), adjacency.data()));
    const auto joined = Read(folded.get());
    // At corner 0: floor +y with weight pi/2, wall +z with pi/4; at corner 2 the reverse.
    D3DXVECTOR3 atCorner0(0, D3DX_PI / 2, D3DX_PI / 4), atCorner2(0, D3DX_PI / 4, D3DX_PI / 2);
    D3DXVec3Normalize(&atCorner0, &atCorner0);
    D3DXVec3Normalize(&atCorner2, &atCorner2);
    ExpectNear(atCorner0, joined[0].normal);
    ExpectNear(atCorner0, joined[4].normal);
    ExpectNear(atCorner2, joined[2].normal);
    ExpectNear(atCorner2, joined[5].normal);

    // A mesh without a normal field has nowhere to put them.
    ID3DXMesh* bare = nullptr;
    ASSERT_EQ(D3D_OK, D3DXCreateMeshFVF(1, 3, D3DXMESH_MANAGED, D3DFVF_XYZ, Device(), &bare));
    EXPECT_EQ(D3DERR_INVALIDCALL, D3DXComputeNormals(bare, nullptr));
    bare->Release();
}

} // namespace
