// Device creation, loss and recovery, the call trace, and the pure D3D-to-GL translations.
#include "device_kit.h"

#include "platform/d3d9/translate.h"
#include "platform/win32/host.h"

#include <GL/gl.h>

#include <cstring>

namespace d3d9test {
namespace {

using fw::d3d9test::CallTraceTexts;
using fw::d3d9test::EnableCallTrace;
using fw::d3d9test::TraceId;

using DeviceLifeTest = DeviceTest;

TEST_F(DeviceLifeTest, LostDeviceReportsLostThenNotResetUntilReset) {
    fw::d3d9test::LoseDevice(device, 2);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Reset(&params), D3DERR_DEVICELOST); // cannot reset yet
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    // While lost, drawing is accepted and discarded; Present keeps failing.
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->Reset(&params), D3D_OK);
    EXPECT_EQ(device->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);

    fw::d3d9test::LoseDevice(device, 0); // straight to not-reset
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
}

TEST_F(DeviceLifeTest, ScenesPairAndPresentShowsTheFrame) {
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->EndScene(), D3D_OK);
    int presented = 0;
    fw::SetFramePresentedHook([&](HWND hwnd) {
        EXPECT_EQ(hwnd, TestWindow());
        ++presented;
    });
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    fw::SetFramePresentedHook(nullptr);
    EXPECT_EQ(presented, 1);
}

TEST_F(DeviceLifeTest, CreationFailuresAreReported) {
    fw::d3d9test::FailDirect3DCreate(true);
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
    fw::d3d9test::FailDirect3DCreate(false);
    EXPECT_EQ(Direct3DCreate9(31), nullptr);

    IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr);
    D3DDISPLAYMODE mode{};
    ASSERT_EQ(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), D3D_OK);
    EXPECT_EQ(mode.Format, D3DFMT_X8R8G8B8);
    EXPECT_GT(mode.Width, 0u);
    EXPECT_EQ(d3d->GetAdapterDisplayMode(1, &mode), D3DERR_INVALIDCALL);

    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    IDirect3DDevice9* other = reinterpret_cast<IDirect3DDevice9*>(1);
    fw::d3d9test::FailCreateDevice(true);
    EXPECT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, TestWindow(),
                                D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &other),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(other, nullptr);
    fw::d3d9test::FailCreateDevice(false);
    testing::internal::CaptureStderr();
    EXPECT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr,
                                D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &other),
              D3DERR_INVALIDCALL);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(d3d->Release(), 0u);
}

// A NULLREF device keeps its resources on the processor and draws nothing: its draws are
// checked and then change no GL state, so the GL device's picture stays as it was.
TEST_F(DeviceLifeTest, NullRefDeviceLocksResourcesAndDrawsNothing) {
    Unlit();
    ClearTo(0xff0000ff);
    IDirect3D9* d3d = nullptr;
    ASSERT_EQ(device->GetDirect3D(&d3d), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_NULLREF, D3DFMT_X8R8G8B8,
                                   D3DFMT_X8R8G8B8, TRUE),
              D3DERR_NOTAVAILABLE);
    D3DPRESENT_PARAMETERS pp{};
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    IDirect3DDevice9* null = nullptr;
    ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_NULLREF, nullptr,
                                D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &null),
              D3D_OK); // no window needed
    d3d->Release();
    EXPECT_EQ(pp.BackBufferWidth, 1u);
    EXPECT_EQ(pp.BackBufferFormat, D3DFMT_X8R8G8B8);

    ColorVertex quad[4] = {{-1, 1, 0.5f, 0xffff0000, 0, 0, 0, 0},
                           {1, 1, 0.5f, 0xffff0000, 0, 0, 0, 0},
                           {-1, -1, 0.5f, 0xffff0000, 0, 0, 0, 0},
                           {1, -1, 0.5f, 0xffff0000, 0, 0, 0, 0}};
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(
        null->CreateVertexBuffer(sizeof quad, 0, kColorVertexFvf, D3DPOOL_MANAGED, &vb, nullptr),
        D3D_OK);
    void* bytes = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &bytes, 0), D3D_OK);
    std::memcpy(bytes, quad, sizeof quad);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    ASSERT_EQ(vb->Lock(sizeof(ColorVertex), sizeof(ColorVertex), &bytes, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<ColorVertex*>(bytes)->x, 1.0f); // the second vertex
    vb->Unlock();
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(null->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM, &ib, nullptr),
              D3D_OK);
    ASSERT_EQ(ib->Lock(0, 0, &bytes, 0), D3D_OK);
    const WORD indices[6] = {0, 1, 2, 2, 1, 3};
    std::memcpy(bytes, indices, sizeof indices);
    ib->Unlock();
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(null->CreateTexture(4, 2, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 3u);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(locked.Pitch, 16);
    static_cast<DWORD*>(locked.pBits)[5] = 0x12345678; // x 1, y 1
    texture->UnlockRect(0);
    const RECT texel{1, 1, 2, 2};
    ASSERT_EQ(texture->LockRect(0, &locked, &texel, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(*static_cast<DWORD*>(locked.pBits), 0x12345678u);
    texture->UnlockRect(0);

    // Checked as on any device, then nothing is drawn.
    null->SetRenderState(D3DRS_LIGHTING, FALSE);
    null->SetTexture(0, texture);
    null->SetFVF(kColorVertexFvf);
    null->SetStreamSource(0, vb, 0, sizeof(ColorVertex));
    null->SetIndices(ib);
    EXPECT_EQ(null->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xffff0000, 1.0f, 0),
              D3D_OK);
    EXPECT_EQ(null->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(null->BeginScene(), D3D_OK);
    EXPECT_EQ(null->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EXPECT_EQ(null->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 3), D3DERR_INVALIDCALL); // 5 vertices
    EXPECT_EQ(null->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
    EXPECT_EQ(null->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ColorVertex)), D3D_OK);
    EXPECT_EQ(null->EndScene(), D3D_OK);
    EXPECT_EQ(null->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(null->Reset(&pp), D3D_OK);
    std::vector<uint8_t> rgba;
    EXPECT_FALSE(fw::d3d9test::ReadBackBuffer(null, nullptr, nullptr, &rgba));
    EXPECT_EQ(fw::d3d9test::TakeGlError(null), 0u);
    EXPECT_PIXEL(Pixel(32, 32), {0, 0, 255}); // the GL device's clear, untouched

    null->SetTexture(0, nullptr);
    texture->Release();
    ib->Release();
    vb->Release();
    EXPECT_EQ(null->Release(), 0u);
}

TEST_F(DeviceLifeTest, CallTraceRecordsCallsInOrder) {
    IDirect3DTexture9* texture = MakeTexture(1, 1, [](UINT, UINT) -> D3DCOLOR { return 0; });
    EnableCallTrace(device, true);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetTexture(0, texture);
    device->SetTexture(1, nullptr);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    D3DMATRIX identity = {};
    identity._11 = identity._22 = identity._33 = identity._44 = 1;
    device->SetTransform(D3DTS_WORLD, &identity);
    device->LightEnable(0, FALSE);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX2);
    std::string tex = "res#" + std::to_string(TraceId(texture));
    std::vector<std::string> expected = {
        "SetRenderState(22, 3)",    "SetTexture(0, " + tex + ")",
        "SetTexture(1, null)",      "SetTextureStageState(1, 1, 4)",
        "SetSamplerState(0, 6, 2)", "SetTransform(256, {1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1})",
        "LightEnable(0, 0)",        "SetFVF(514)",
    };
    EXPECT_EQ(CallTraceTexts(device), expected);
    EnableCallTrace(device, false);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    EXPECT_EQ(CallTraceTexts(device).size(), expected.size());
    device->SetTexture(0, nullptr);
    texture->Release();
}

TEST(TranslateTest, FlexibleVertexFormatsDecodeToOffsetsAndStrides) {
    using fw::d3d9::DecodeFvf;
    EXPECT_EQ(DecodeFvf(D3DFVF_XYZ | D3DFVF_TEX2).stride, 28u);
    EXPECT_EQ(DecodeFvf(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1).stride, 32u);
    EXPECT_EQ(DecodeFvf(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1).stride, 28u);
    auto skinned = DecodeFvf(D3DFVF_XYZB3 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_NORMAL |
                             D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2 |
                             D3DFVF_TEXCOORDSIZE3(0) | D3DFVF_TEXCOORDSIZE1(1));
    ASSERT_TRUE(skinned.valid);
    EXPECT_EQ(skinned.normal, 24);
    EXPECT_EQ(skinned.diffuse, 36);
    EXPECT_EQ(skinned.specular, 40);
    EXPECT_EQ(skinned.texOffset[0], 44u);
    EXPECT_EQ(skinned.texSize[0], 3u);
    EXPECT_EQ(skinned.texOffset[1], 56u);
    EXPECT_EQ(skinned.texSize[1], 1u);
    EXPECT_EQ(skinned.stride, 60u);
    EXPECT_FALSE(DecodeFvf(D3DFVF_NORMAL).valid);
    EXPECT_FALSE(DecodeFvf(D3DFVF_XYZ | 0xf00).valid);
}

TEST(TranslateTest, TextureMatricesMoveD3DTranslationRowsToGlRows) {
    using fw::d3d9::GlTextureMatrix;
    using fw::d3d9::Matrix;
    // A 2-D translation by (0.25, 0.5) sits in row 3 for D3D.
    Matrix shift = fw::d3d9::Identity();
    shift[8] = 0.25f, shift[9] = 0.5f;
    Matrix gl = GlTextureMatrix(shift, D3DTTFF_COUNT2, 2);
    EXPECT_EQ(gl[12], 0.25f); // GL's q row carries it
    EXPECT_EQ(gl[13], 0.5f);
    EXPECT_EQ(gl[15], 1.0f);
    // Disabled: identity whatever the matrix.
    EXPECT_EQ(GlTextureMatrix(shift, D3DTTFF_DISABLE, 2), fw::d3d9::Identity());
    // Projected COUNT3 divides by the third output: GL's q column becomes column 3.
    Matrix projected = GlTextureMatrix(fw::d3d9::Identity(), D3DTTFF_COUNT3 | D3DTTFF_PROJECTED, 3);
    EXPECT_EQ(projected[2 * 4 + 3], 1.0f);
    EXPECT_EQ(projected[3 * 4 + 3], 0.0f);
}

TEST(TranslateTest, StateValuesMapToGl) {
    using namespace fw::d3d9;
    EXPECT_EQ(DecodeBlend(D3DBLEND_DESTCOLOR), GLenum(GL_DST_COLOR));
    EXPECT_EQ(DecodeBlend(D3DBLEND_INVSRCALPHA), GLenum(GL_ONE_MINUS_SRC_ALPHA));
    EXPECT_EQ(DecodeCompare(D3DCMP_LESSEQUAL), GLenum(GL_LEQUAL));
    EXPECT_EQ(DecodeMinFilter(D3DTEXF_LINEAR, D3DTEXF_NONE), GL_LINEAR);
    EXPECT_EQ(DecodeMinFilter(D3DTEXF_POINT, D3DTEXF_LINEAR), GL_NEAREST_MIPMAP_LINEAR);
    EXPECT_EQ(DecodeMinFilter(D3DTEXF_ANISOTROPIC, D3DTEXF_POINT), GL_LINEAR_MIPMAP_NEAREST);
    EXPECT_FALSE(DecodeCull(D3DCULL_NONE).enable);
    EXPECT_EQ(DecodeCull(D3DCULL_CW).face, GLenum(GL_FRONT));
    auto modulate = DecodeStageOp(D3DTOP_MODULATE2X, D3DTA_TEXTURE,
                                  D3DTA_DIFFUSE | D3DTA_COMPLEMENT, D3DTA_CURRENT, false);
    EXPECT_EQ(modulate.scale, 2.0f);
    EXPECT_EQ(modulate.source[1], GLenum(GL_PRIMARY_COLOR));
    EXPECT_EQ(modulate.operand[1], GLenum(GL_ONE_MINUS_SRC_COLOR));
    auto blend = DecodeStageOp(D3DTOP_BLENDTEXTUREALPHA, D3DTA_TEXTURE, D3DTA_CURRENT, 0, false);
    EXPECT_EQ(blend.source[2], GLenum(GL_TEXTURE));
    EXPECT_EQ(blend.operand[2], GLenum(GL_SRC_ALPHA));

    // Times an opaque white primary colour: the other argument, scale kept; times its
    // complement (black) or in another operation: unchanged.
    auto white = DecodeStageOp(D3DTOP_MODULATE2X, D3DTA_CURRENT, D3DTA_TEXTURE, 0, false);
    DropWhitePrimary(white);
    EXPECT_EQ(white.mode, GLenum(GL_REPLACE));
    EXPECT_EQ(white.source[0], GLenum(GL_TEXTURE));
    EXPECT_EQ(white.scale, 2.0f);
    auto black = modulate;
    DropWhitePrimary(black);
    EXPECT_EQ(black.mode, GLenum(GL_MODULATE));
    DropWhitePrimary(blend);
    EXPECT_EQ(blend.mode, GLenum(GL_INTERPOLATE));
}

} // namespace
} // namespace d3d9test

namespace d3d9test {
namespace {

TEST_F(DeviceLifeTest, TwoDevicesOnOneWindowKeepTheirOwnState) {
    IDirect3D9* d3d = nullptr;
    ASSERT_EQ(device->GetDirect3D(&d3d), D3D_OK);
    D3DPRESENT_PARAMETERS pp = params;
    pp.BackBufferWidth = pp.BackBufferHeight = 32;
    IDirect3DDevice9* second = nullptr;
    ASSERT_EQ(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, TestWindow(),
                                D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &second),
              D3D_OK);
    d3d->Release();

    Unlit();
    ClearTo(0xff0000ff);
    DrawQuad(-1, -1, 1, 1, 0.5f, 0xff00ff00);
    EXPECT_PIXEL(Pixel(32, 32), {0, 255, 0});

    // The second device keeps D3D's defaults: lit, so a quad without normals is black.
    ColorVertex quad[3] = {{-1, 1, 0.5f, 0xffffffff, 0, 0, 0, 0},
                           {1, 1, 0.5f, 0xffffffff, 0, 0, 0, 0},
                           {-1, -1, 0.5f, 0xffffffff, 0, 0, 0, 0}};
    second->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xffff0000, 1.0f, 0);
    second->SetFVF(kColorVertexFvf);
    ASSERT_EQ(second->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, quad, sizeof(ColorVertex)), D3D_OK);
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(fw::d3d9test::ReadBackBuffer(second, &w, &h, &rgba));
    EXPECT_EQ(w, 32);
    EXPECT_EQ(rgba[(4 * 32 + 4) * 4 + 0], 0);     // drawn black
    EXPECT_EQ(rgba[(30 * 32 + 30) * 4 + 0], 255); // the red clear outside the triangle

    // The first device still draws unlit into its own back buffer.
    DrawQuad(-1, -1, 1, 1, 0.4f, 0xffffff00);
    EXPECT_PIXEL(Pixel(32, 32), {255, 255, 0});
    EXPECT_EQ(fw::d3d9test::TakeGlError(second), 0u);
    second->Release();

    // And once the second device is gone.
    ClearTo(0xff000000);
    DrawQuad(-1, -1, 1, 1, 0.5f, 0xff00ffff);
    EXPECT_PIXEL(Pixel(32, 32), {0, 255, 255});
}

} // namespace
} // namespace d3d9test
