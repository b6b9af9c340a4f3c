// Buffers and textures: locking, drawing from them, and what survives a reset.
#include "device_kit.h"

#include "platform/d3d9/formats.h"

#include <cstring>

namespace d3d9test {
namespace {

constexpr D3DCOLOR kRed = 0xffff0000, kGreen = 0xff00ff00;

using ResourceTest = DeviceTest;

// Two triangles covering the left (red) and right (green) halves, each clockwise.
const ColorVertex kHalves[6] = {
    {-1, 1, 0.5f, kRed, 0, 0, 0, 0},   {0, 1, 0.5f, kRed, 0, 0, 0, 0},
    {-1, -1, 0.5f, kRed, 0, 0, 0, 0},  {0, 1, 0.5f, kGreen, 0, 0, 0, 0},
    {1, -1, 0.5f, kGreen, 0, 0, 0, 0}, {0, -1, 0.5f, kGreen, 0, 0, 0, 0},
};

IDirect3DVertexBuffer9* MakeVertexBuffer(IDirect3DDevice9* device, const void* data, UINT bytes,
                                         D3DPOOL pool = D3DPOOL_MANAGED) {
    IDirect3DVertexBuffer9* vb = nullptr;
    EXPECT_EQ(
        device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, kColorVertexFvf, pool, &vb, nullptr),
        D3D_OK);
    void* p = nullptr;
    EXPECT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
    std::memcpy(p, data, bytes);
    vb->Unlock();
    return vb;
}

TEST_F(ResourceTest, ChangedManagedVertexBufferDrawsItsNewContents) {
    Unlit();
    IDirect3DVertexBuffer9* vb = MakeVertexBuffer(device, kHalves, sizeof(kHalves));
    device->SetStreamSource(0, vb, 0, sizeof(ColorVertex));
    device->SetFVF(kColorVertexFvf);
    ClearTo(0xff000000);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    EXPECT_PIXEL(Pixel(8, 32), {255, 0, 0});
    EXPECT_PIXEL(Pixel(36, 56), {0, 255, 0});

    // Rewrite only the second triangle, through an offset lock.
    void* p = nullptr;
    ASSERT_EQ(vb->Lock(3 * sizeof(ColorVertex), 3 * sizeof(ColorVertex), &p, 0), D3D_OK);
    auto* second = static_cast<ColorVertex*>(p);
    for (int i = 0; i < 3; ++i)
        second[i].color = 0xff0000ff;
    ASSERT_EQ(vb->Unlock(), D3D_OK);
    ClearTo(0xff000000);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    EXPECT_PIXEL(Pixel(8, 32), {255, 0, 0});
    EXPECT_PIXEL(Pixel(36, 56), {0, 0, 255});

    // Drawing from the second triangle on, and past the end.
    ClearTo(0xff000000);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 3, 1), D3D_OK);
    EXPECT_PIXEL(Pixel(8, 32), {0, 0, 0});
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 3, 2), D3DERR_INVALIDCALL);

    // Lock bounds.
    EXPECT_EQ(vb->Lock(sizeof(kHalves), 1, &p, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(0, sizeof(kHalves) + 1, &p, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
    D3DVERTEXBUFFER_DESC desc{};
    ASSERT_EQ(vb->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Size, sizeof(kHalves));
    EXPECT_EQ(desc.FVF, kColorVertexFvf);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    vb->Release();
}

TEST_F(ResourceTest, IndexedDrawsWith16And32BitIndicesAndABaseVertex) {
    Unlit();
    // Vertex 0 is unused padding; the quad's vertices follow at 1..4.
    ColorVertex vertices[5] = {
        {0, 0, 0.5f, 0, 0, 0, 0, 0},       {-1, 1, 0.5f, kGreen, 0, 0, 0, 0},
        {1, 1, 0.5f, kGreen, 0, 0, 0, 0},  {-1, -1, 0.5f, kGreen, 0, 0, 0, 0},
        {1, -1, 0.5f, kGreen, 0, 0, 0, 0},
    };
    IDirect3DVertexBuffer9* vb = MakeVertexBuffer(device, vertices, sizeof(vertices));
    device->SetStreamSource(0, vb, 0, sizeof(ColorVertex));
    device->SetFVF(kColorVertexFvf);
    for (D3DFORMAT format : {D3DFMT_INDEX16, D3DFMT_INDEX32}) {
        SCOPED_TRACE(format);
        UINT size = format == D3DFMT_INDEX16 ? 2 : 4;
        const uint32_t indices[6] = {0, 1, 2, 2, 1, 3};
        IDirect3DIndexBuffer9* ib = nullptr;
        ASSERT_EQ(device->CreateIndexBuffer(6 * size, D3DUSAGE_WRITEONLY, format, D3DPOOL_MANAGED,
                                            &ib, nullptr),
                  D3D_OK);
        void* p = nullptr;
        ASSERT_EQ(ib->Lock(0, 0, &p, 0), D3D_OK);
        for (int i = 0; i < 6; ++i) {
            if (size == 2)
                static_cast<uint16_t*>(p)[i] = uint16_t(indices[i]);
            else
                static_cast<uint32_t*>(p)[i] = indices[i];
        }
        ib->Unlock();
        device->SetIndices(ib);
        ClearTo(0xff000000);
        ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 0, 4, 0, 2), D3D_OK);
        EXPECT_PIXEL(Pixel(5, 5), {0, 255, 0});
        EXPECT_PIXEL(Pixel(60, 60), {0, 255, 0});
        // Only the second triangle.
        ClearTo(0xff000000);
        ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 0, 4, 3, 1), D3D_OK);
        EXPECT_PIXEL(Pixel(5, 5), {0, 0, 0});
        EXPECT_PIXEL(Pixel(60, 60), {0, 255, 0});
        // Indices that would read past the vertex buffer are refused, not drawn.
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 2, 0, 4, 0, 2),
                  D3DERR_INVALIDCALL);
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 0, 4, 3, 2),
                  D3DERR_INVALIDCALL);
        device->SetIndices(nullptr);
        ib->Release();
    }
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3DERR_INVALIDCALL);
    IDirect3DIndexBuffer9* bad = nullptr;
    EXPECT_EQ(device->CreateIndexBuffer(12, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &bad, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(bad, nullptr);
    vb->Release();
}

TEST_F(ResourceTest, TextureLevelsDescribeAndLockWithTheirPitch) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(20, 6, 0, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, &texture, nullptr),
              D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 5u); // 20x6, 10x3, 5x1, 2x1, 1x1
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(texture->GetLevelDesc(2, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 5u);
    EXPECT_EQ(desc.Height, 1u);
    EXPECT_EQ(desc.Format, D3DFMT_R5G6B5);
    EXPECT_EQ(desc.Type, D3DRTYPE_SURFACE);
    EXPECT_EQ(texture->GetLevelDesc(5, &desc), D3DERR_INVALIDCALL);

    D3DLOCKED_RECT rect{};
    ASSERT_EQ(texture->LockRect(0, &rect, nullptr, 0), D3D_OK);
    EXPECT_EQ(rect.Pitch, 40);
    BYTE* base = static_cast<BYTE*>(rect.pBits);
    EXPECT_EQ(texture->LockRect(0, &rect, nullptr, 0), D3DERR_INVALIDCALL); // already locked
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    RECT part = {3, 2, 7, 4};
    ASSERT_EQ(texture->LockRect(0, &rect, &part, 0), D3D_OK);
    EXPECT_EQ(static_cast<BYTE*>(rect.pBits) - base, 2 * 40 + 3 * 2);
    texture->UnlockRect(0);
    RECT outside = {0, 0, 21, 1};
    EXPECT_EQ(texture->LockRect(0, &rect, &outside, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL);
    texture->Release();

    // DXT: pitch per row of 4 x 4 blocks, rectangles on block edges.
    ASSERT_EQ(device->CreateTexture(16, 8, 1, 0, D3DFMT_DXT5, D3DPOOL_MANAGED, &texture, nullptr),
              D3D_OK);
    ASSERT_EQ(texture->LockRect(0, &rect, nullptr, 0), D3D_OK);
    EXPECT_EQ(rect.Pitch, 64);
    texture->UnlockRect(0);
    RECT unaligned = {2, 0, 8, 4};
    EXPECT_EQ(texture->LockRect(0, &rect, &unaligned, 0), D3DERR_INVALIDCALL);
    texture->Release();

    // Video memory is lockable only for dynamic textures.
    ASSERT_EQ(
        device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
        D3D_OK);
    EXPECT_EQ(texture->LockRect(0, &rect, nullptr, 0), D3DERR_INVALIDCALL);
    texture->Release();

    EXPECT_EQ(
        device->CreateTexture(0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
        D3DERR_INVALIDCALL);
    EXPECT_EQ(
        device->CreateTexture(4, 4, 4, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
        D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_D16, D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL);
}

// Every texture format samples as D3D reads it; compressed ones go to GL compressed.
TEST_F(ResourceTest, EachTextureFormatSamplesItsTexels) {
    Unlit();
    struct Case {
        D3DFORMAT format;
        uint8_t r, g, b, a; // the texel written through the format's encoder
        int tolerance;
    } cases[] = {
        {D3DFMT_A8R8G8B8, 200, 100, 50, 255, 1}, {D3DFMT_X8R8G8B8, 200, 100, 50, 255, 1},
        {D3DFMT_R8G8B8, 200, 100, 50, 255, 1},   {D3DFMT_R5G6B5, 200, 100, 50, 255, 8},
        {D3DFMT_A1R5G5B5, 200, 100, 50, 255, 8}, {D3DFMT_A4R4G4B4, 200, 100, 50, 255, 17},
        {D3DFMT_L8, 90, 90, 90, 255, 1},         {D3DFMT_A8L8, 90, 90, 90, 255, 1},
        {D3DFMT_DXT1, 200, 100, 50, 255, 8},     {D3DFMT_DXT3, 200, 100, 50, 255, 8},
        {D3DFMT_DXT5, 200, 100, 50, 255, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("format " + std::to_string(c.format));
        IDirect3DTexture9* texture = nullptr;
        ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, c.format, D3DPOOL_MANAGED, &texture, nullptr),
                  D3D_OK);
        std::vector<uint8_t> rgba(8 * 8 * 4);
        for (size_t i = 0; i < rgba.size(); i += 4)
            rgba[i] = c.r, rgba[i + 1] = c.g, rgba[i + 2] = c.b, rgba[i + 3] = c.a;
        D3DLOCKED_RECT rect{};
        ASSERT_EQ(texture->LockRect(0, &rect, nullptr, 0), D3D_OK);
        ASSERT_TRUE(
            fw::d3d9::EncodeFromRgba(c.format, rgba.data(), 8, 8, static_cast<BYTE*>(rect.pBits)));
        texture->UnlockRect(0);
        device->SetTexture(0, texture);
        ClearTo(0xff000000);
        DrawQuad(-1, -1, 1, 1, 0.5f, 0xffffffff);
        Rgba want{c.r, c.g, c.b}, got = Pixel(32, 32);
        EXPECT_TRUE(Near(got, want, c.tolerance)) << Describe(got) << " want " << Describe(want);
        device->SetTexture(0, nullptr);
        texture->Release();
    }

    // A8 gives black with its alpha: blended over white at alpha 0.25 that is 75% white.
    IDirect3DTexture9* alpha = nullptr;
    ASSERT_EQ(device->CreateTexture(1, 1, 1, 0, D3DFMT_A8, D3DPOOL_MANAGED, &alpha, nullptr),
              D3D_OK);
    D3DLOCKED_RECT rect{};
    alpha->LockRect(0, &rect, nullptr, 0);
    *static_cast<BYTE*>(rect.pBits) = 64;
    alpha->UnlockRect(0);
    device->SetTexture(0, alpha);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    ClearTo(0xffffffff);
    DrawQuad(-1, -1, 1, 1, 0.5f, 0xffffffff);
    EXPECT_PIXEL(Pixel(32, 32), {191, 191, 191});
    device->SetTexture(0, nullptr);
    alpha->Release();
}

TEST_F(ResourceTest, MipFilterChoosesSmallerLevelsForMinifiedDraws) {
    Unlit();
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(
        device->CreateTexture(256, 256, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
        D3D_OK);
    // Level 0 red, every smaller level green.
    for (UINT level = 0; level < texture->GetLevelCount(); ++level) {
        D3DSURFACE_DESC desc;
        texture->GetLevelDesc(level, &desc);
        D3DLOCKED_RECT rect;
        texture->LockRect(level, &rect, nullptr, 0);
        for (UINT y = 0; y < desc.Height; ++y)
            for (UINT x = 0; x < desc.Width; ++x)
                reinterpret_cast<D3DCOLOR*>(static_cast<BYTE*>(rect.pBits) + y * rect.Pitch)[x] =
                    level == 0 ? kRed : kGreen;
        texture->UnlockRect(level);
    }
    device->SetTexture(0, texture);
    ClearTo(0xff000000);
    DrawQuad(-1, -1, 1, 1, 0.5f, 0xffffffff); // 256 texels over 64 pixels
    EXPECT_PIXEL(Pixel(32, 32), {255, 0, 0}); // no mip filter by default: level 0
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    DrawQuad(-1, -1, 1, 1, 0.5f, 0xffffffff);
    EXPECT_PIXEL(Pixel(32, 32), {0, 255, 0});
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    device->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, 1); // largest level used: 1
    DrawQuad(-1, -1, 1, 1, 0.5f, 0xffffffff);
    EXPECT_PIXEL(Pixel(32, 32), {0, 255, 0});
    device->SetTexture(0, nullptr);
    texture->Release();
}

TEST_F(ResourceTest, ManagedResourcesSurviveResetAndStateReturnsToDefaults) {
    Unlit();
    IDirect3DVertexBuffer9* vb = MakeVertexBuffer(device, kHalves, sizeof(kHalves));
    IDirect3DTexture9* texture = MakeTexture(1, 1, [](UINT, UINT) -> D3DCOLOR { return kGreen; });
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    D3DMATRIX scale = {};
    scale._11 = scale._22 = scale._33 = scale._44 = 2;
    device->SetTransform(D3DTS_WORLD, &scale);
    device->SetTexture(0, texture);

    ASSERT_EQ(device->Reset(&params), D3D_OK);
    DWORD value = 0;
    device->GetRenderState(D3DRS_LIGHTING, &value);
    EXPECT_EQ(value, DWORD(TRUE));
    device->GetRenderState(D3DRS_CULLMODE, &value);
    EXPECT_EQ(value, DWORD(D3DCULL_CCW));
    device->GetRenderState(D3DRS_ZENABLE, &value);
    EXPECT_EQ(value, DWORD(D3DZB_TRUE));
    device->GetRenderState(D3DRS_AMBIENT, &value);
    EXPECT_EQ(value, 0u);
    device->GetTextureStageState(1, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_DISABLE));
    device->GetTextureStageState(3, D3DTSS_TEXCOORDINDEX, &value);
    EXPECT_EQ(value, 3u);
    device->GetSamplerState(0, D3DSAMP_MINFILTER, &value);
    EXPECT_EQ(value, DWORD(D3DTEXF_POINT));
    D3DMATRIX world{};
    device->GetTransform(D3DTS_WORLD, &world);
    EXPECT_EQ(world._11, 1.0f);
    IDirect3DBaseTexture9* bound = texture;
    device->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr);
    D3DVIEWPORT9 viewport{};
    device->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, UINT(kSize));
    EXPECT_EQ(viewport.MaxZ, 1.0f);

    // The managed buffer and texture still draw.
    Unlit();
    device->SetStreamSource(0, vb, 0, sizeof(ColorVertex));
    device->SetFVF(kColorVertexFvf);
    ClearTo(0xff000000);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3D_OK);
    EXPECT_PIXEL(Pixel(8, 32), {255, 0, 0});
    device->SetTexture(0, texture);
    ClearTo(0xff000000);
    DrawQuad(-1, -1, 1, 1, 0.5f, 0xffffffff);
    EXPECT_PIXEL(Pixel(32, 32), {0, 255, 0});
    texture->Release();
    vb->Release();
}

TEST_F(ResourceTest, ResetIsRefusedWhileADefaultPoolResourceLives) {
    IDirect3DVertexBuffer9* vb =
        MakeVertexBuffer(device, kHalves, sizeof(kHalves), D3DPOOL_DEFAULT);
    IDirect3DSurface9* backBuffer = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer), D3D_OK);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(backBuffer->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, UINT(kSize));
    EXPECT_EQ(desc.Height, UINT(kSize));
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);

    testing::internal::CaptureStderr();
    EXPECT_EQ(device->Reset(&params), D3DERR_INVALIDCALL);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    vb->Release();
    EXPECT_EQ(device->Reset(&params), D3DERR_INVALIDCALL); // the back buffer still held
    backBuffer->Release();
    EXPECT_EQ(device->Reset(&params), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
}

TEST_F(ResourceTest, ResourcesKeepTheDeviceAliveAndCountReferences) {
    IDirect3DTexture9* texture = MakeTexture(1, 1, [](UINT, UINT) -> D3DCOLOR { return 0; });
    EXPECT_EQ(texture->AddRef(), 2u);
    EXPECT_EQ(texture->Release(), 1u);
    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(texture->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, device);
    ULONG count = owner->Release();
    EXPECT_EQ(device->AddRef(), count + 1); // the texture holds one reference
    device->Release();
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &level), D3D_OK);
    EXPECT_EQ(texture->Release(), 1u); // the level still holds the texture
    D3DLOCKED_RECT rect{};
    EXPECT_EQ(level->LockRect(&rect, nullptr, 0), D3D_OK);
    EXPECT_EQ(level->UnlockRect(), D3D_OK);
    EXPECT_EQ(level->Release(), 0u);
    EXPECT_EQ(device->AddRef(), count);
    device->Release();
}

} // namespace
} // namespace d3d9test
