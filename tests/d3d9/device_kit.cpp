#include "device_kit.h"

#include "platform/win32/host.h"
#include "tests/kit/environment.h"

#include <cstdlib>
#include <string>

namespace d3d9test {

namespace {

// One window and device for the program: a GL context per test would cost more than the tests.
const auto* const kShared =
    kit::AddShared(new kit::SharedDeviceEnvironment("d3d9", kSize, D3DFMT_D16));

} // namespace

HWND TestWindow() {
    return kShared->get() ? kShared->get()->window : nullptr;
}

void DeviceTest::SetUp() {
    const kit::OffscreenDevice* shared = kShared->get();
    ASSERT_TRUE(shared && shared->device) << "no Direct3D device";
    device = shared->device;
    params = shared->params;
    ASSERT_EQ(device->Reset(&params), D3D_OK); // every test starts from the defaults
    fw::d3d9test::TakeGlError(device);
    fw::d3d9test::EnableCallTrace(device, false);
}

void DeviceTest::TearDown() {
    EXPECT_EQ(fw::d3d9test::TakeGlError(device), 0u) << "an OpenGL error was raised";
    device->SetTexture(0, nullptr);
    device->SetTexture(1, nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
}

void DeviceTest::Unlit() {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
}

void DeviceTest::ClearTo(D3DCOLOR color, float depth) {
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, color, depth, 0),
              D3D_OK);
}

void DeviceTest::DrawQuad(float x0, float y0, float x1, float y1, float z, D3DCOLOR color,
                          float uScale) {
    // Clockwise on screen: top-left, top-right, bottom-left, then bottom-left, top-right,
    // bottom-right (y up in clip space).
    const float top = std::max(y0, y1), bottom = std::min(y0, y1);
    const float left = std::min(x0, x1), right = std::max(x0, x1);
    ColorVertex v[6] = {
        {left, top, z, color, 0, 0, 0, 0},
        {right, top, z, color, uScale, 0, uScale, 0},
        {left, bottom, z, color, 0, uScale, 0, uScale},
        {left, bottom, z, color, 0, uScale, 0, uScale},
        {right, top, z, color, uScale, 0, uScale, 0},
        {right, bottom, z, color, uScale, uScale, uScale, uScale},
    };
    device->SetFVF(kColorVertexFvf);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 2, v, sizeof(ColorVertex)), D3D_OK);
}

void DeviceTest::DrawTriangle(const ColorVertex (&v)[3]) {
    device->SetFVF(kColorVertexFvf);
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(ColorVertex)), D3D_OK);
}

IDirect3DTexture9* DeviceTest::MakeTexture(UINT w, UINT h, D3DCOLOR (*fill)(UINT, UINT),
                                           D3DPOOL pool) {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device->CreateTexture(w, h, 1, pool == D3DPOOL_DEFAULT ? D3DUSAGE_DYNAMIC : 0,
                                    D3DFMT_A8R8G8B8, pool, &texture, nullptr),
              D3D_OK);
    if (!texture)
        return nullptr;
    D3DLOCKED_RECT rect;
    EXPECT_EQ(texture->LockRect(0, &rect, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x)
            reinterpret_cast<D3DCOLOR*>(static_cast<BYTE*>(rect.pBits) + y * rect.Pitch)[x] =
                fill(x, y);
    texture->UnlockRect(0);
    return texture;
}

Rgba DeviceTest::Pixel(int x, int y) {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    EXPECT_TRUE(fw::d3d9test::ReadBackBuffer(device, &w, &h, &rgba));
    if (x < 0 || y < 0 || x >= w || y >= h)
        return {-1, -1, -1, -1};
    const uint8_t* p = rgba.data() + (size_t(y) * w + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

bool Near(const Rgba& got, const Rgba& want, int tolerance) {
    return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
           std::abs(got.b - want.b) <= tolerance;
}

std::string Describe(const Rgba& c) {
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) +
           ")";
}

} // namespace d3d9test
