// One offscreen window and Direct3D device shared by the mesh tests.
#pragma once

#include "platform/d3dx9mesh.h"
#include "tests/kit/kit.h"

#include <memory>

namespace meshtest {

// Null when no device could be made (the tests then skip).
IDirect3DDevice9* Device();
constexpr int kBackBufferSize = 64;

using MeshPtr = kit::Ref<ID3DXMesh>;

// A mesh of the given shape with vertex data copied in (indices 16-bit unless 32BIT).
MeshPtr MakeMesh(DWORD fvf, const void* vertices, DWORD numVertices,
                 const std::initializer_list<DWORD>& indices, DWORD options = D3DXMESH_MANAGED);

} // namespace meshtest

#define REQUIRE_DEVICE()                                                                           \
    do {                                                                                           \
        if (!meshtest::Device())                                                                   \
            GTEST_SKIP() << "no Direct3D device";                                                  \
    } while (0)
