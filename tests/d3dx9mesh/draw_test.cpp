#include "device.h"

#include "platform/d3d9/testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using meshtest::Device;
using meshtest::kBackBufferSize;
using meshtest::MakeMesh;
using meshtest::MeshPtr;

struct Vertex {
    float x, y, z, u, v;
};

// Two quads covering the left and right halves of the screen in clip space, their faces
// interleaved: attribute 0 (left), 1 (right), 0, 1.
MeshPtr MakeHalves() {
    const Vertex vertices[6] = {{-1, -1, 0.5f, 0, 1}, {-1, 1, 0.5f, 0, 0}, {0, 1, 0.5f, 1, 0},
                                {0, -1, 0.5f, 1, 1},  {1, 1, 0.5f, 0, 0},  {1, -1, 0.5f, 0, 1}};
    MeshPtr mesh =
        MakeMesh(D3DFVF_XYZ | D3DFVF_TEX1, vertices, 6, {0, 1, 2, 3, 2, 4, 0, 2, 3, 3, 4, 5});
    DWORD* attributes = nullptr;
    mesh->LockAttributeBuffer(0, &attributes);
    const DWORD values[4] = {0, 1, 0, 1};
    std::copy(values, values + 4, attributes);
    mesh->UnlockAttributeBuffer();
    return mesh;
}

using TexturePtr = kit::Ref<IDirect3DTexture9>;

TexturePtr SolidTexture(D3DCOLOR color) {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(D3D_OK, Device()->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                              &texture, nullptr));
    D3DLOCKED_RECT locked{};
    texture->LockRect(0, &locked, nullptr, 0);
    *static_cast<D3DCOLOR*>(locked.pBits) = color;
    texture->UnlockRect(0);
    return TexturePtr(texture);
}

class SubsetDrawing : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DEVICE();
        IDirect3DDevice9* device = Device();
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        device->SetTransform(D3DTS_WORLD, &identity);
        device->SetTransform(D3DTS_VIEW, &identity);
        device->SetTransform(D3DTS_PROJECTION, &identity);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_ZENABLE, FALSE);
        red = SolidTexture(D3DCOLOR_XRGB(255, 0, 0));
        green = SolidTexture(D3DCOLOR_XRGB(0, 255, 0));
    }

    // Clears to blue, draws the listed subsets with their textures, returns the frame.
    std::vector<uint8_t> Draw(ID3DXMesh* mesh, std::initializer_list<DWORD> subsets) {
        IDirect3DDevice9* device = Device();
        device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0);
        device->BeginScene();
        for (DWORD subset : subsets) {
            device->SetTexture(0, subset == 0 ? red.get() : green.get());
            EXPECT_EQ(D3D_OK, mesh->DrawSubset(subset));
        }
        device->EndScene();
        int width = 0, height = 0;
        std::vector<uint8_t> rgba;
        EXPECT_TRUE(fw::d3d9test::ReadBackBuffer(device, &width, &height, &rgba));
        EXPECT_EQ(kBackBufferSize, width);
        device->Present(nullptr, nullptr, nullptr, nullptr);
        return rgba;
    }

    static std::string ColourAt(const std::vector<uint8_t>& rgba, int x, int y) {
        const uint8_t* p = &rgba[(size_t(y) * kBackBufferSize + x) * 4];
        auto level = [](uint8_t c) { return c > 200 ? '1' : c < 50 ? '0' : '?'; };
        return {level(p[0]), level(p[1]), level(p[2])};
    }

    void TearDown() override {
        if (Device())
            Device()->SetTexture(0, nullptr);
    }

    TexturePtr red, green;
};

TEST_F(SubsetDrawing, EachSubsetLandsInItsOwnPixelsWithItsTexture) {
    MeshPtr mesh = MakeHalves();
    const int mid = kBackBufferSize / 2, left = kBackBufferSize / 4, right = 3 * left;
    // Without an attribute table the attribute buffer is scanned.
    auto frame = Draw(mesh.get(), {0});
    EXPECT_EQ("100", ColourAt(frame, left, mid));
    EXPECT_EQ("001", ColourAt(frame, right, mid)); // untouched background

    frame = Draw(mesh.get(), {0, 1});
    EXPECT_EQ("100", ColourAt(frame, left, mid));
    EXPECT_EQ("010", ColourAt(frame, right, mid));

    // Through the attribute table after sorting: the same pixels.
    ASSERT_EQ(D3D_OK,
              mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr));
    frame = Draw(mesh.get(), {1});
    EXPECT_EQ("001", ColourAt(frame, left, mid));
    EXPECT_EQ("010", ColourAt(frame, right, mid));
    frame = Draw(mesh.get(), {0, 1});
    EXPECT_EQ("100", ColourAt(frame, left, 5));
    EXPECT_EQ("010", ColourAt(frame, right, kBackBufferSize - 5));
}

std::vector<std::string> DrawCalls(ID3DXMesh* mesh, DWORD subset) {
    fw::d3d9test::EnableCallTrace(Device(), true);
    mesh->DrawSubset(subset);
    std::vector<std::string> draws;
    for (const auto& text : fw::d3d9test::CallTraceTexts(Device()))
        if (text.rfind("DrawIndexedPrimitive", 0) == 0)
            draws.push_back(text);
    fw::d3d9test::EnableCallTrace(Device(), false);
    return draws;
}

TEST_F(SubsetDrawing, OneDrawPerRange) {
    MeshPtr mesh = MakeHalves();
    // Scanning: each run of faces is its own draw, over all vertices.
    EXPECT_EQ((std::vector<std::string>{"DrawIndexedPrimitive(4, 0, 0, 6, 3, 1)",
                                        "DrawIndexedPrimitive(4, 0, 0, 6, 9, 1)"}),
              DrawCalls(mesh.get(), 1));
    ASSERT_EQ(D3D_OK,
              mesh->OptimizeInplace(D3DXMESHOPT_ATTRSORT, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ((std::vector<std::string>{"DrawIndexedPrimitive(4, 0, 2, 4, 6, 2)"}),
              DrawCalls(mesh.get(), 1));
    EXPECT_TRUE(DrawCalls(mesh.get(), 7).empty()); // no such subset: nothing drawn
}

} // namespace
