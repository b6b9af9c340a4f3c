// One offscreen device shared by the render tests, with helpers to draw and to read pixels.
#pragma once

#include "platform/d3d9.h"
#include "platform/d3d9/testing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace d3d9test {

constexpr int kSize = 64; // back buffer width and height

// Vertex with colour and two coordinate sets: D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX2.
struct ColorVertex {
    float x, y, z;
    D3DCOLOR color;
    float u0, v0, u1, v1;
};
constexpr DWORD kColorVertexFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX2;

struct Rgba {
    int r = 0, g = 0, b = 0, a = 255;
};

// A device on a 64 x 64 window, reset to its defaults before each test.
class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    IDirect3DDevice9* device = nullptr;
    D3DPRESENT_PARAMETERS params{};

    // Lighting off, identity transforms: vertex positions are D3D clip coordinates.
    void Unlit();
    void ClearTo(D3DCOLOR color, float depth = 1.0f);
    // A quad from (x0, y0) to (x1, y1) in clip coordinates at depth z, clockwise on screen.
    void DrawQuad(float x0, float y0, float x1, float y1, float z, D3DCOLOR color,
                  float uScale = 1.0f);
    void DrawTriangle(const ColorVertex (&v)[3]);
    // A texture of w x h texels of A8R8G8B8, filled by fill(x, y).
    IDirect3DTexture9* MakeTexture(UINT w, UINT h, D3DCOLOR (*fill)(UINT x, UINT y),
                                   D3DPOOL pool = D3DPOOL_MANAGED);
    Rgba Pixel(int x, int y); // x right, y down, of the back buffer now
};

bool Near(const Rgba& got, const Rgba& want, int tolerance = 3);
std::string Describe(const Rgba& c);

#define EXPECT_PIXEL(got, ...)                                                                     \
    EXPECT_TRUE(::d3d9test::Near(got, __VA_ARGS__))                                                \
        << "got " << ::d3d9test::Describe(got) << " want " << ::d3d9test::Describe(__VA_ARGS__)

HWND TestWindow();

} // namespace d3d9test
