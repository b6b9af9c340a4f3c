// What the device draws, read back from the offscreen back buffer.
#include "device_kit.h"

#include <cstring>

namespace d3d9test {
namespace {

constexpr D3DCOLOR kRed = 0xffff0000, kGreen = 0xff00ff00, kBlue = 0xff0000ff;

D3DCOLOR RedGreenColumns(UINT x, UINT) {
    return x == 0 ? kRed : kGreen;
}
D3DCOLOR WhiteGreyColumns(UINT x, UINT) {
    return x == 0 ? 0xffffffff : 0xff808080;
}
D3DCOLOR Solid200_100_50(UINT, UINT) {
    return D3DCOLOR_XRGB(200, 100, 50);
}
D3DCOLOR Quadrants(UINT x, UINT y) {
    static const D3DCOLOR colours[2][2] = {{kRed, kGreen}, {kBlue, 0xffffffff}};
    return colours[y][x];
}

using DrawTest = DeviceTest;

TEST_F(DrawTest, ClearFillsTheViewportAndReadsBackTopRowFirst) {
    ClearTo(kBlue);
    D3DRECT top = {0, 0, kSize, kSize / 2};
    ASSERT_EQ(device->Clear(1, &top, D3DCLEAR_TARGET, kRed, 1.0f, 0), D3D_OK);
    EXPECT_PIXEL(Pixel(5, 2), {255, 0, 0});
    EXPECT_PIXEL(Pixel(5, kSize - 3), {0, 0, 255});

    // Limited to the viewport, and unaffected by the colour write mask.
    D3DVIEWPORT9 right = {kSize / 2, 0, kSize / 2, kSize, 0.0f, 1.0f};
    ASSERT_EQ(device->SetViewport(&right), D3D_OK);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, kGreen, 1.0f, 0), D3D_OK);
    EXPECT_PIXEL(Pixel(5, 2), {255, 0, 0});
    EXPECT_PIXEL(Pixel(kSize - 5, 2), {0, 255, 0});

    // No stencil buffer with D16.
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL);
}

TEST_F(DrawTest, DefaultLightingMakesUnlitGeometryWithoutNormalsBlack) {
    ClearTo(kBlue);
    DrawQuad(-1, -1, 1, 1, 0.5f, 0xffffffff);
    EXPECT_PIXEL(Pixel(32, 32), {0, 0, 0});

    Unlit();
    DrawQuad(-1, -1, 1, 1, 0.5f, D3DCOLOR_XRGB(10, 20, 30));
    EXPECT_PIXEL(Pixel(32, 32), {10, 20, 30});
}

TEST_F(DrawTest, StageZeroModulatesTextureByDiffuse) {
    Unlit();
    ClearTo(0xff000000);
    IDirect3DTexture9* texture = MakeTexture(2, 1, RedGreenColumns);
    device->SetTexture(0, texture);
    DrawQuad(-1, -1, 1, 1, 0.5f, D3DCOLOR_XRGB(128, 128, 255));
    EXPECT_PIXEL(Pixel(16, 32), {128, 0, 0});
    EXPECT_PIXEL(Pixel(48, 32), {0, 128, 0});

    // A null texture draws the diffuse colour alone.
    device->SetTexture(0, nullptr);
    DrawQuad(-1, -1, 1, 1, 0.5f, D3DCOLOR_XRGB(128, 128, 255));
    EXPECT_PIXEL(Pixel(16, 32), {128, 128, 255});
    texture->Release();
}

TEST_F(DrawTest, StageOneModulatesByATextureReadWithCoordinateSetOne) {
    Unlit();
    ClearTo(0xff000000);
    IDirect3DTexture9* colour = MakeTexture(1, 1, Solid200_100_50);
    IDirect3DTexture9* detail = MakeTexture(2, 1, WhiteGreyColumns);
    device->SetTexture(0, colour);
    device->SetTexture(1, detail);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    // Set 0 spans the quad once, set 1 twice: the detail repeats every half.
    const D3DCOLOR white = 0xffffffff;
    ColorVertex v[6] = {
        {-1, 1, 0.5f, white, 0, 0, 0, 0},  {1, 1, 0.5f, white, 1, 0, 2, 0},
        {-1, -1, 0.5f, white, 0, 1, 0, 1}, {-1, -1, 0.5f, white, 0, 1, 0, 1},
        {1, 1, 0.5f, white, 1, 0, 2, 0},   {1, -1, 0.5f, white, 1, 1, 2, 1},
    };
    device->SetFVF(kColorVertexFvf);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(ColorVertex)), D3D_OK);
    EXPECT_PIXEL(Pixel(8, 32), {200, 100, 50});  // detail u 0.25: white
    EXPECT_PIXEL(Pixel(24, 32), {100, 50, 25});  // detail u 0.75: grey
    EXPECT_PIXEL(Pixel(40, 32), {200, 100, 50}); // detail u 1.25: white again

    // Disabling stage 1 leaves the colour texture alone.
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(ColorVertex)), D3D_OK);
    EXPECT_PIXEL(Pixel(24, 32), {200, 100, 50});
    colour->Release();
    detail->Release();
}

TEST_F(DrawTest, BlendFactorsCombineSourceAndDestination) {
    Unlit();
    const D3DCOLOR below = D3DCOLOR_XRGB(100, 150, 200);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);

    ClearTo(below);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    DrawQuad(-1, -1, 1, 1, 0.5f, D3DCOLOR_ARGB(128, 255, 0, 0));
    EXPECT_PIXEL(Pixel(32, 32), {178, 75, 100});

    ClearTo(below);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    DrawQuad(-1, -1, 1, 1, 0.5f, D3DCOLOR_ARGB(128, 255, 0, 0));
    EXPECT_PIXEL(Pixel(32, 32), {255, 0, 0});

    // 2 x s x d per channel, clamped.
    ClearTo(D3DCOLOR_XRGB(100, 200, 50));
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_DESTCOLOR);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_SRCCOLOR);
    DrawQuad(-1, -1, 1, 1, 0.5f, D3DCOLOR_XRGB(128, 200, 255));
    EXPECT_PIXEL(Pixel(32, 32), {100, 255, 100});

    // Blending off writes the source as it is.
    ClearTo(below);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    DrawQuad(-1, -1, 1, 1, 0.5f, D3DCOLOR_ARGB(0, 1, 2, 3));
    EXPECT_PIXEL(Pixel(32, 32), {1, 2, 3});
}

TEST_F(DrawTest, CullModesFollowScreenWinding) {
    Unlit();
    // Left triangle clockwise on screen, right one counter-clockwise.
    const ColorVertex clockwise[3] = {{-1, 1, 0.5f, kRed, 0, 0, 0, 0},
                                      {-0.1f, 1, 0.5f, kRed, 0, 0, 0, 0},
                                      {-1, -1, 0.5f, kRed, 0, 0, 0, 0}};
    const ColorVertex counter[3] = {{1, 1, 0.5f, kGreen, 0, 0, 0, 0},
                                    {0.1f, 1, 0.5f, kGreen, 0, 0, 0, 0},
                                    {1, -1, 0.5f, kGreen, 0, 0, 0, 0}};
    struct Case {
        DWORD cull;
        bool clockwiseDrawn, counterDrawn;
    } cases[] = {{D3DCULL_CCW, true, false}, {D3DCULL_CW, false, true}, {D3DCULL_NONE, true, true}};
    for (const Case& c : cases) {
        ClearTo(0xff000000);
        device->SetRenderState(D3DRS_CULLMODE, c.cull);
        DrawTriangle(clockwise);
        DrawTriangle(counter);
        SCOPED_TRACE("cull mode " + std::to_string(c.cull));
        EXPECT_PIXEL(Pixel(4, 8), c.clockwiseDrawn ? Rgba{255, 0, 0} : Rgba{0, 0, 0});
        EXPECT_PIXEL(Pixel(kSize - 5, 8), c.counterDrawn ? Rgba{0, 255, 0} : Rgba{0, 0, 0});
    }
}

TEST_F(DrawTest, DepthTestAndDepthWrites) {
    Unlit();
    ClearTo(0xff000000);
    DrawQuad(-1, -1, 1, 1, 0.3f, kRed);
    DrawQuad(-1, -1, 1, 1, 0.6f, kGreen); // behind: hidden
    EXPECT_PIXEL(Pixel(32, 32), {255, 0, 0});
    DrawQuad(-1, -1, 1, 1, 0.3f, kBlue); // equal depth passes LESSEQUAL
    EXPECT_PIXEL(Pixel(32, 32), {0, 0, 255});

    // Without depth writes the near quad leaves the far one visible afterwards.
    ClearTo(0xff000000);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    DrawQuad(-1, -1, 1, 1, 0.3f, kRed);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    DrawQuad(-1, -1, 1, 1, 0.6f, kGreen);
    EXPECT_PIXEL(Pixel(32, 32), {0, 255, 0});

    // Depth test off: the last draw wins.
    ClearTo(0xff000000);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    DrawQuad(-1, -1, 1, 1, 0.3f, kRed);
    DrawQuad(-1, -1, 1, 1, 0.6f, kGreen);
    EXPECT_PIXEL(Pixel(32, 32), {0, 255, 0});
}

TEST_F(DrawTest, ProjectionDepthRangeIsZeroToOne) {
    Unlit();
    ClearTo(0xff000000);
    // A vertex with clip z a little above 0 lies inside D3D's volume (GL's would clip it
    // below -w without the depth fix-up); z above w is outside.
    DrawQuad(-1, -1, 1, 1, 0.01f, kRed);
    EXPECT_PIXEL(Pixel(32, 32), {255, 0, 0});
    ClearTo(0xff000000);
    DrawQuad(-1, -1, 1, 1, 1.01f, kRed);
    EXPECT_PIXEL(Pixel(32, 32), {0, 0, 0});
}

struct NormalVertex {
    float x, y, z;
    float nx, ny, nz;
};

TEST_F(DrawTest, SphereMapCoordinatesComeFromViewSpaceNormals) {
    Unlit();
    IDirect3DTexture9* texture = MakeTexture(2, 2, Quadrants);
    device->SetTexture(0, texture);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_SPHEREMAP);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS,
                                 D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    auto drawWithNormal = [&](float nx, float ny, float nz) {
        const float s = 0.1f;
        NormalVertex v[6] = {{-s, s, 0.5f, nx, ny, nz},  {s, s, 0.5f, nx, ny, nz},
                             {-s, -s, 0.5f, nx, ny, nz}, {-s, -s, 0.5f, nx, ny, nz},
                             {s, s, 0.5f, nx, ny, nz},   {s, -s, 0.5f, nx, ny, nz}};
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(NormalVertex)), D3D_OK);
    };
    // u = nx / 2 + 0.5, v = ny / 2 + 0.5 for normals facing the viewer (-z in view space).
    ClearTo(0xff000000);
    drawWithNormal(0.6f, 0.48f, -0.64f);
    EXPECT_PIXEL(Pixel(32, 32), {255, 255, 255});
    drawWithNormal(-0.6f, -0.48f, -0.64f);
    EXPECT_PIXEL(Pixel(32, 32), {255, 0, 0});
    drawWithNormal(0.6f, -0.48f, -0.64f);
    EXPECT_PIXEL(Pixel(32, 32), {0, 255, 0});

    // The view rotates world normals into view space: a view turned half a turn about z
    // sends normal (-0.6, -0.48, -0.64) to (0.6, 0.48, -0.64).
    D3DMATRIX turn = {};
    turn._11 = -1, turn._22 = -1, turn._33 = 1, turn._44 = 1;
    device->SetTransform(D3DTS_VIEW, &turn);
    drawWithNormal(-0.6f, -0.48f, -0.64f);
    EXPECT_PIXEL(Pixel(32, 32), {255, 255, 255});

    // Back to the vertex's own coordinates: the normal-only vertex has none, so texel (0, 0).
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    drawWithNormal(-0.6f, -0.48f, -0.64f);
    EXPECT_PIXEL(Pixel(32, 32), {255, 0, 0});
    texture->Release();
}

TEST_F(DrawTest, DirectionalLightAndMaterialColourLitGeometry) {
    ClearTo(0xff000000);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1, 1, 1, 1};
    light.Direction = {0, 0, 1}; // into the screen, onto faces looking at the viewer
    ASSERT_EQ(device->SetLight(0, &light), D3D_OK);
    ASSERT_EQ(device->LightEnable(0, TRUE), D3D_OK);
    D3DMATERIAL9 material{};
    material.Diffuse = {1, 0.5f, 0, 1};
    material.Ambient = {0, 0, 1, 1};
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_AMBIENT, D3DCOLOR_XRGB(64, 64, 64));
    device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    NormalVertex v[6] = {{-1, 1, 0.5f, 0, 0, -1},  {1, 1, 0.5f, 0, 0, -1}, {-1, -1, 0.5f, 0, 0, -1},
                         {-1, -1, 0.5f, 0, 0, -1}, {1, 1, 0.5f, 0, 0, -1}, {1, -1, 0.5f, 0, 0, -1}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(NormalVertex)), D3D_OK);
    EXPECT_PIXEL(Pixel(32, 32), {255, 128, 64});

    // Facing away from the light only the ambient term remains.
    for (auto& vertex : v)
        vertex.nz = 1;
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(NormalVertex)), D3D_OK);
    EXPECT_PIXEL(Pixel(32, 32), {0, 0, 64});

    // Light disabled: ambient alone as well.
    device->LightEnable(0, FALSE);
    for (auto& vertex : v)
        vertex.nz = -1;
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(NormalVertex)), D3D_OK);
    EXPECT_PIXEL(Pixel(32, 32), {0, 0, 64});
}

TEST_F(DrawTest, WorldViewProjectionTransformRowVectors) {
    Unlit();
    ClearTo(0xff000000);
    // World moves the quad right by 1 clip unit; only the right half is covered.
    D3DMATRIX world = {};
    world._11 = world._22 = world._33 = world._44 = 1;
    world._41 = 1;
    device->SetTransform(D3DTS_WORLD, &world);
    DrawQuad(-0.5f, -0.5f, 0.5f, 0.5f, 0.5f, kRed);
    EXPECT_PIXEL(Pixel(56, 32), {255, 0, 0});
    EXPECT_PIXEL(Pixel(24, 32), {0, 0, 0});
}

} // namespace
} // namespace d3d9test

namespace d3d9test {
namespace {

TEST_F(DeviceTest, BackBufferWithoutAlphaReadsDestinationAlphaAsOne) {
    Unlit();
    ClearTo(0x00000000); // the alpha written here is not kept
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_DESTALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    DrawQuad(-1, -1, 1, 1, 0.5f, D3DCOLOR_XRGB(40, 80, 120));
    EXPECT_PIXEL(Pixel(32, 32), {40, 80, 120});
}

TEST_F(DeviceTest, ResetToAnotherSizeResizesTheBackBuffer) {
    D3DPRESENT_PARAMETERS small = params;
    small.BackBufferWidth = 32;
    small.BackBufferHeight = 16;
    ASSERT_EQ(device->Reset(&small), D3D_OK);
    IDirect3DSurface9* backBuffer = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer), D3D_OK);
    D3DSURFACE_DESC desc{};
    backBuffer->GetDesc(&desc);
    backBuffer->Release();
    EXPECT_EQ(desc.Width, 32u);
    EXPECT_EQ(desc.Height, 16u);
    D3DVIEWPORT9 viewport{};
    device->GetViewport(&viewport);
    EXPECT_EQ(viewport.Height, 16u);
    Unlit();
    ClearTo(0xff000000);
    DrawQuad(-1, 0, 1, 1, 0.5f, 0xff00ff00); // the top half
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(fw::d3d9test::ReadBackBuffer(device, &w, &h, &rgba));
    EXPECT_EQ(w, 32);
    EXPECT_EQ(h, 16);
    EXPECT_PIXEL(Pixel(16, 3), {0, 255, 0});
    EXPECT_PIXEL(Pixel(16, 12), {0, 0, 0});
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    ASSERT_EQ(device->Reset(&params), D3D_OK);
}

} // namespace
} // namespace d3d9test

namespace d3d9test {
namespace {

// Every value of the states the fixed-function pipeline translates, drawn once each:
// none may turn into an invalid GL call (checked after the test) or a failed draw.
TEST_F(DeviceTest, EveryStateValueTranslatesToValidGl) {
    IDirect3DTexture9* texture = MakeTexture(
        4, 4, [](UINT x, UINT y) -> D3DCOLOR { return D3DCOLOR_ARGB(128, x * 60, y * 60, 200); });
    device->SetTexture(0, texture);
    device->SetTexture(1, texture);
    struct Vertex {
        float x, y, z, nx, ny, nz;
        D3DCOLOR diffuse, specular;
        float u, v, s, t, r;
    };
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2 |
                      D3DFVF_TEXCOORDSIZE3(1);
    Vertex v[3] = {{-1, 1, 0.5f, 0, 0, -1, 0xff808080, 0xff101010, 0, 0, 0, 0, 1},
                   {1, 1, 0.5f, 0, 0, -1, 0xff808080, 0xff101010, 1, 0, 1, 0, 1},
                   {-1, -1, 0.5f, 0, 0, -1, 0xff808080, 0xff101010, 0, 1, 0, 1, 1}};
    auto draw = [&](const std::string& what) {
        device->SetFVF(fvf);
        EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(Vertex)), D3D_OK)
            << what;
        EXPECT_EQ(fw::d3d9test::TakeGlError(device), 0u) << what;
    };
    for (DWORD op = D3DTOP_DISABLE; op <= D3DTOP_LERP; ++op) {
        device->SetTextureStageState(1, D3DTSS_COLOROP, op);
        device->SetTextureStageState(1, D3DTSS_ALPHAOP, op);
        for (DWORD arg : {DWORD(D3DTA_DIFFUSE), DWORD(D3DTA_TFACTOR | D3DTA_COMPLEMENT),
                          DWORD(D3DTA_SPECULAR | D3DTA_ALPHAREPLICATE), DWORD(D3DTA_CONSTANT),
                          DWORD(D3DTA_TEMP)}) {
            device->SetTextureStageState(1, D3DTSS_COLORARG2, arg);
            device->SetTextureStageState(1, D3DTSS_COLORARG0, arg);
            testing::internal::CaptureStderr(); // approximated operations say so once
            draw("stage op " + std::to_string(op) + " arg " + std::to_string(arg));
            testing::internal::GetCapturedStderr();
        }
    }
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    for (DWORD tci :
         {DWORD(D3DTSS_TCI_CAMERASPACENORMAL), DWORD(D3DTSS_TCI_CAMERASPACEPOSITION),
          DWORD(D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR), DWORD(D3DTSS_TCI_SPHEREMAP), DWORD(1)})
        for (DWORD flags : {0u, 1u, 2u, 3u, 4u, 0x102u, 0x103u, 0x104u}) {
            device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, tci);
            device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, flags);
            draw("texcoord " + std::to_string(tci) + " flags " + std::to_string(flags));
        }
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, 0);
    for (DWORD address = D3DTADDRESS_WRAP; address <= D3DTADDRESS_MIRRORONCE; ++address)
        for (DWORD filter = D3DTEXF_NONE; filter <= D3DTEXF_ANISOTROPIC; ++filter) {
            device->SetSamplerState(0, D3DSAMP_ADDRESSU, address);
            device->SetSamplerState(0, D3DSAMP_ADDRESSV, address);
            device->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
            device->SetSamplerState(0, D3DSAMP_MAGFILTER, filter);
            device->SetSamplerState(0, D3DSAMP_MIPFILTER, filter);
            draw("address " + std::to_string(address) + " filter " + std::to_string(filter));
        }
    struct State {
        D3DRENDERSTATETYPE state;
        std::vector<DWORD> values;
    } states[] = {
        {D3DRS_FILLMODE, {D3DFILL_POINT, D3DFILL_WIREFRAME, D3DFILL_SOLID}},
        {D3DRS_SHADEMODE, {D3DSHADE_FLAT, D3DSHADE_GOURAUD}},
        {D3DRS_ZFUNC, {1, 2, 3, 4, 5, 6, 7, 8}},
        {D3DRS_ALPHATESTENABLE, {TRUE}},
        {D3DRS_ALPHAFUNC, {1, 2, 3, 4, 5, 6, 7, 8}},
        {D3DRS_ALPHABLENDENABLE, {TRUE}},
        {D3DRS_SRCBLEND, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
        {D3DRS_BLENDOP, {1, 2, 3, 4, 5}},
        {D3DRS_SEPARATEALPHABLENDENABLE, {TRUE}},
        {D3DRS_DESTBLENDALPHA, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
        {D3DRS_FOGENABLE, {TRUE}},
        {D3DRS_FOGTABLEMODE, {D3DFOG_EXP, D3DFOG_EXP2, D3DFOG_LINEAR}},
        {D3DRS_SPECULARENABLE, {TRUE, FALSE}},
        {D3DRS_LIGHTING, {TRUE}},
        {D3DRS_DIFFUSEMATERIALSOURCE, {D3DMCS_MATERIAL, D3DMCS_COLOR1, D3DMCS_COLOR2}},
        {D3DRS_AMBIENTMATERIALSOURCE, {D3DMCS_COLOR1, D3DMCS_MATERIAL}},
        {D3DRS_NORMALIZENORMALS, {TRUE}},
        {D3DRS_STENCILENABLE, {TRUE}},
        {D3DRS_STENCILPASS, {1, 2, 3, 4, 5, 6, 7, 8}},
        {D3DRS_COLORWRITEENABLE, {0, 5, 15}},
        {D3DRS_DITHERENABLE, {TRUE}},
    };
    for (const State& s : states)
        for (DWORD value : s.values) {
            device->SetRenderState(s.state, value);
            draw("render state " + std::to_string(s.state) + " = " + std::to_string(value));
        }
    for (D3DLIGHTTYPE type : {D3DLIGHT_POINT, D3DLIGHT_SPOT, D3DLIGHT_DIRECTIONAL}) {
        D3DLIGHT9 light{};
        light.Type = type;
        light.Diffuse = {1, 1, 1, 1};
        light.Direction = {0, 0, 1};
        light.Position = {0, 0, -2};
        light.Range = 100;
        light.Attenuation0 = 1;
        light.Theta = 0.5f;
        light.Phi = 1.0f;
        light.Falloff = 1;
        ASSERT_EQ(device->SetLight(type, &light), D3D_OK);
        device->LightEnable(type, TRUE);
        draw("light type " + std::to_string(type));
    }
    for (DWORD i = 10; i < 20; ++i)
        device->LightEnable(i, TRUE); // more than GL's eight
    testing::internal::CaptureStderr();
    draw("many lights");
    testing::internal::GetCapturedStderr();

    // Screen-space vertices.
    struct Screen {
        float x, y, z, rhw;
        D3DCOLOR color;
    } screen[3] = {
        {0, 0, 0.5f, 1, 0xffffffff}, {64, 0, 0.5f, 1, 0xffffffff}, {0, 64, 0.5f, 1, 0xffffffff}};
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, screen, sizeof(Screen)), D3D_OK);
    for (D3DPRIMITIVETYPE type :
         {D3DPT_POINTLIST, D3DPT_LINELIST, D3DPT_LINESTRIP, D3DPT_TRIANGLESTRIP, D3DPT_TRIANGLEFAN})
        EXPECT_EQ(device->DrawPrimitiveUP(type, 1, screen, sizeof(Screen)), D3D_OK);
    device->SetTexture(0, nullptr);
    device->SetTexture(1, nullptr);
    texture->Release();
}

} // namespace
} // namespace d3d9test
