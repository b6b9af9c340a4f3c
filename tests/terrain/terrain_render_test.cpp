// The terrain as the program shows it: drawn on the offscreen device and read back.
#include "camera/camera.h"
#include "platform/d3d9/testing.h"
#include "terrain/terrain.h"
#include "tests/kit/kit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
    // The share of pixels in rows [top, bottom) that are not black.
    double Covered(int top, int bottom) const {
        int lit = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = &rgba[(size_t(y) * width + x) * 4];
                lit += (p[0] | p[1] | p[2]) > 8;
            }
        return double(lit) / (double(bottom - top) * width);
    }
};

} // namespace

TEST(TerrainRender, DefaultTerrainFillsTheLowerPartOfTheView) {
    const std::string data = FERROWALK_SOURCE_DIR "/data/";
    FILE* probe = std::fopen((data + "terrain_heightmap.png").c_str(), "rb");
    if (!probe)
        GTEST_SKIP() << "no default data set in " << data;
    std::fclose(probe);

    kit::OffscreenDevice offscreen("terrain", 200, 150, D3DFMT_D24S8);
    ASSERT_NE(offscreen.window, nullptr);
    ASSERT_NE(offscreen.d3d, nullptr);
    ASSERT_EQ(offscreen.result, D3D_OK);
    HWND window = offscreen.window;
    IDirect3DDevice9* device = offscreen.device;

    Frame frame;
    {
        Terrain terrain;
        ASSERT_TRUE(terrain.Build(3000.0f, 4, 200.0f, (data + "terrain_texture.dds").c_str(),
                                  (data + "terrain_heightmap.png").c_str(),
                                  (data + "terrain_detail.dds").c_str(), 2, device));
        // The program's first view: level, 300 units behind a point 15 above the ground.
        Camera camera(window, device, D3DXVECTOR3(0, 0, 0));
        D3DXVECTOR3 target(0, terrain.GetHeight(0, 0) + 15.0f, 0);
        camera.SetTarget(&target);
        while (camera.distance > 0 &&
               terrain.GetHeight(camera.GetEye()->x, camera.GetEye()->z) + 5.0f >
                   camera.GetEye()->y) {
            camera.distance -= 1.0f;
            camera.SetTarget(&target);
        }
        camera.Apply(0.0f);

        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        terrain.Draw();
        device->EndScene();
        ASSERT_TRUE(fw::d3d9test::ReadBackBuffer(device, &frame.width, &frame.height, &frame.rgba));
    }
    ASSERT_EQ(frame.width, 200);
    ASSERT_EQ(frame.height, 150);
    // Looking level over the ground: textured ground fills the bottom rows, the top rows
    // are the cleared black sky. Culling the wrong winding would leave the bottom black.
    EXPECT_GT(frame.Covered(frame.height * 3 / 4, frame.height), 0.95);
    EXPECT_LT(frame.Covered(0, frame.height / 8), 0.05);
    // Textured, not flat: the bottom quarter holds many different colours.
    std::set<uint32_t> colours;
    for (int y = frame.height * 3 / 4; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const uint8_t* p = &frame.rgba[(size_t(y) * frame.width + x) * 4];
            colours.insert(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
        }
    EXPECT_GT(colours.size(), 50u);
}
