#include "device.h"

#include "tests/kit/environment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace meshtest {

namespace {

const auto* const kShared =
    kit::AddShared(new kit::SharedDeviceEnvironment("mesh", kBackBufferSize, D3DFMT_D16));

} // namespace

IDirect3DDevice9* Device() {
    return kShared->get() ? kShared->get()->device : nullptr;
}

MeshPtr MakeMesh(DWORD fvf, const void* vertices, DWORD numVertices,
                 const std::initializer_list<DWORD>& indices, DWORD options) {
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3D_OK, D3DXCreateMeshFVF(DWORD(indices.size() / 3), numVertices, options, fvf,
                                        Device(), &mesh));
    if (!mesh)
        return nullptr;
    void* data = nullptr;
    EXPECT_EQ(D3D_OK, mesh->LockVertexBuffer(0, &data));
    std::memcpy(data, vertices, size_t(numVertices) * mesh->GetNumBytesPerVertex());
    mesh->UnlockVertexBuffer();
    EXPECT_EQ(D3D_OK, mesh->LockIndexBuffer(0, &data));
    size_t i = 0;
    for (DWORD index : indices) {
        if (options & D3DXMESH_32BIT)
            static_cast<DWORD*>(data)[i++] = index;
        else
            static_cast<WORD*>(data)[i++] = WORD(index);
    }
    mesh->UnlockIndexBuffer();
    return MeshPtr(mesh);
}

} // namespace meshtest
