#include "device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace meshtest {

namespace {

HWND window = nullptr;
IDirect3D9* d3d = nullptr;
IDirect3DDevice9* device = nullptr;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

class DeviceEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        WNDCLASSEXA cls{};
        cls.cbSize = sizeof(cls);
        cls.lpfnWndProc = WindowProc;
        cls.lpszClassName = "MeshTestWindow";
        RegisterClassExA(&cls);
        window =
            CreateWindowExA(0, "MeshTestWindow", "mesh", WS_OVERLAPPEDWINDOW, 0, 0, kBackBufferSize,
                            kBackBufferSize, nullptr, nullptr, nullptr, nullptr);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        if (!window || !d3d)
            return;
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = kBackBufferSize;
        pp.BackBufferHeight = kBackBufferSize;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = TRUE;
        pp.EnableAutoDepthStencil = TRUE;
        pp.AutoDepthStencilFormat = D3DFMT_D16;
        if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                     D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device)))
            device = nullptr;
    }
    void TearDown() override {
        if (device)
            device->Release();
        if (d3d)
            d3d->Release();
        if (window)
            DestroyWindow(window);
        device = nullptr, d3d = nullptr, window = nullptr;
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new DeviceEnvironment);

} // namespace

IDirect3DDevice9* Device() {
    return device;
}

MeshPtr MakeMesh(DWORD fvf, const void* vertices, DWORD numVertices,
                 const std::initializer_list<DWORD>& indices, DWORD options) {
    ID3DXMesh* mesh = nullptr;
    EXPECT_EQ(D3D_OK, D3DXCreateMeshFVF(DWORD(indices.size() / 3), numVertices, options, fvf,
                                        device, &mesh));
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
