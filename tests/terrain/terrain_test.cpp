#include "terrain/terrain.h"
#include "platform/d3d9/testing.h"
#include "platform/d3dx9math.h"
#include "tests/kit/kit.h"
#include "tests/kit/environment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A write past a block fails the program even when no expectation sees it.
const auto* const kGuardWatch = kit::AddShared(new kit::GuardDamageWatch);

using Texels = std::vector<uint8_t>;

// An uncompressed 8-bit luminance DDS, the simplest file D3DX loads as one byte per texel.
std::string WriteL8Dds(const std::string& name, uint32_t width, uint32_t height,
                       const Texels& texels) {
    uint32_t header[32] = {};
    header[0] = 0x20534444; // "DDS "
    header[1] = 124;
    header[2] = 0x1 | 0x2 | 0x4 | 0x8 | 0x1000; // caps, height, width, pitch, pixel format
    header[3] = height;
    header[4] = width;
    header[5] = width;
    header[19] = 32;      // pixel format size
    header[20] = 0x20000; // luminance
    header[22] = 8;
    header[23] = 0xFF;
    header[27] = 0x1000; // texture
    std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(header),
                               reinterpret_cast<const uint8_t*>(header) + sizeof(header));
    bytes.insert(bytes.end(), texels.begin(), texels.end());
    return kit::WriteScratchFile(name, bytes.data(), bytes.size());
}

Texels Ramp(uint32_t width, uint32_t height) {
    Texels texels(width * height);
    for (uint32_t j = 0; j < height; ++j)
        for (uint32_t i = 0; i < width; ++i)
            texels[j * width + i] = static_cast<uint8_t>((i * 37 + j * 91 + i * j * 7) & 0xFF);
    return texels;
}

class TerrainTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        offscreen = new kit::OffscreenDevice("terrain", 64, 64, D3DFMT_D24S8);
        device = offscreen->device;
        plain = WriteL8Dds("terrain_plain.dds", 4, 4, Texels(16, 200));
    }
    static void TearDownTestSuite() {
        delete offscreen;
        offscreen = nullptr;
        device = nullptr;
        std::string().swap(plain); // a block the end-of-process report would otherwise list
    }
    void SetUp() override { ASSERT_NE(device, nullptr) << "no Direct3D device"; }

    // Builds from a heightmap written for the test, with plain colour and detail textures.
    bool BuildFrom(Terrain& terrain, const Texels& texels, uint32_t width, uint32_t height,
                   float size = 400.0f, float heightScale = 200.0f, UINT detailRepeat = 2,
                   UINT level = 0) {
        std::string heightmap = WriteL8Dds("terrain_heights.dds", width, height, texels);
        return terrain.Build(size, level, heightScale, plain.c_str(), heightmap.c_str(),
                             plain.c_str(), detailRepeat, device);
    }

    std::vector<std::string> DrawTrace(Terrain& terrain) {
        fw::d3d9test::EnableCallTrace(device, true);
        terrain.Draw();
        std::vector<std::string> calls = fw::d3d9test::CallTraceTexts(device);
        fw::d3d9test::EnableCallTrace(device, false);
        return calls;
    }

    // What Draw left on stream 0 and the index slot, read back.
    std::vector<TerrainVertex> DrawnVertices(UINT count) {
        IDirect3DVertexBuffer9* buffer = nullptr;
        UINT offset = 0, stride = 0;
        device->GetStreamSource(0, &buffer, &offset, &stride);
        EXPECT_EQ(stride, sizeof(TerrainVertex));
        std::vector<TerrainVertex> vertices(count);
        void* data = nullptr;
        if (buffer && SUCCEEDED(buffer->Lock(0, 0, &data, D3DLOCK_READONLY))) {
            std::memcpy(vertices.data(), data, count * sizeof(TerrainVertex));
            buffer->Unlock();
        }
        if (buffer)
            buffer->Release();
        return vertices;
    }
    std::vector<WORD> DrawnIndices(UINT count) {
        IDirect3DIndexBuffer9* buffer = nullptr;
        device->GetIndices(&buffer);
        std::vector<WORD> indices(count);
        void* data = nullptr;
        if (buffer && SUCCEEDED(buffer->Lock(0, 0, &data, D3DLOCK_READONLY))) {
            std::memcpy(indices.data(), data, count * sizeof(WORD));
            buffer->Unlock();
        }
        if (buffer)
            buffer->Release();
        return indices;
    }

    static inline kit::OffscreenDevice* offscreen = nullptr;
    static inline IDirect3DDevice9* device = nullptr;
    static inline std::string plain;
};

constexpr float kK200 = 0.003921569f * 200.0f; // height of one texel step at scale 200

} // namespace

TEST_F(TerrainTest, GridVerticesCarryPositionsAndBothTextureSets) {
    // 8 x 4 texels: 7 x 3 cells over 400 units, spacing 400/7, z from -200 to about -28.6.
    const Texels texels = Ramp(8, 4);
    Terrain terrain;
    ASSERT_TRUE(BuildFrom(terrain, texels, 8, 4));
    ASSERT_FALSE(DrawTrace(terrain).empty());
    const UINT cellsX = 7, cellsZ = 3;
    std::vector<TerrainVertex> vertices = DrawnVertices(4 * cellsX * cellsZ);
    const float spacing = 400.0f / 7.0f;

    for (UINT z = 0; z < cellsZ; ++z) {
        for (UINT x = 0; x < cellsX; ++x) {
            const TerrainVertex* cell = &vertices[4 * (z * cellsX + x)];
            for (UINT corner = 0; corner < 4; ++corner) {
                SCOPED_TRACE("cell " + std::to_string(x) + "," + std::to_string(z) + " corner " +
                             std::to_string(corner));
                UINT i = x + (corner & 1), j = z + (corner >> 1);
                const TerrainVertex& v = cell[corner];
                EXPECT_NEAR(v.x, i * spacing - 200.0f, 1e-3f);
                EXPECT_NEAR(v.z, j * spacing - 200.0f, 1e-3f);
                EXPECT_FLOAT_EQ(v.y, texels[j * 8 + i] * kK200);
                EXPECT_FLOAT_EQ(v.tu0, i / 7.0f);
                EXPECT_FLOAT_EQ(v.tv0, j / 3.0f);
            }
        }
    }
    // The detail texture runs 0 to 1 over every two cells: columns 0 to 3 carry
    // 0-0.5, 0.5-1, 0-0.5, 0.5-1, so a border point is 1 on one side and 0 on the other.
    const float expectedTu1[4][2] = {{0.0f, 0.5f}, {0.5f, 1.0f}, {0.0f, 0.5f}, {0.5f, 1.0f}};
    for (UINT x = 0; x < 4; ++x) {
        EXPECT_EQ(vertices[4 * x + 0].tu1, expectedTu1[x][0]);
        EXPECT_EQ(vertices[4 * x + 1].tu1, expectedTu1[x][1]);
        EXPECT_EQ(vertices[4 * x + 3].tu1, expectedTu1[x][1]);
    }
    const TerrainVertex* secondRow = &vertices[4 * cellsX];
    EXPECT_EQ(secondRow[0].tv1, 0.5f);
    EXPECT_EQ(secondRow[2].tv1, 1.0f);
    // The colour texture covers the terrain exactly once.
    EXPECT_EQ(vertices[0].tu0, 0.0f);
    EXPECT_EQ(vertices[0].tv0, 0.0f);
    EXPECT_EQ(vertices.back().tu0, 1.0f);
    EXPECT_EQ(vertices.back().tv0, 1.0f);
}

TEST_F(TerrainTest, EveryCellIsTwoClockwiseTrianglesOfItsOwnVertices) {
    Terrain terrain;
    ASSERT_TRUE(BuildFrom(terrain, Ramp(4, 4), 4, 4));
    DrawTrace(terrain);
    const UINT cells = 9;
    std::vector<TerrainVertex> vertices = DrawnVertices(4 * cells);
    std::vector<WORD> indices = DrawnIndices(6 * cells);
    for (UINT c = 0; c < cells; ++c) {
        const WORD expected[6] = {WORD(4 * c), WORD(4 * c + 3), WORD(4 * c + 1),
                                  WORD(4 * c), WORD(4 * c + 2), WORD(4 * c + 3)};
        for (int n = 0; n < 6; ++n)
            EXPECT_EQ(indices[6 * c + n], expected[n]) << "cell " << c;
        for (int t = 0; t < 2; ++t) {
            const TerrainVertex& a = vertices[indices[6 * c + 3 * t]];
            const TerrainVertex& b = vertices[indices[6 * c + 3 * t + 1]];
            const TerrainVertex& d = vertices[indices[6 * c + 3 * t + 2]];
            // Seen from above with x right and z up, clockwise means a negative area.
            float area = (b.x - a.x) * (d.z - a.z) - (b.z - a.z) * (d.x - a.x);
            EXPECT_LT(area, 0.0f) << "cell " << c << " triangle " << t;
        }
    }
}

TEST_F(TerrainTest, DrawMakesItsCallsInOrder) {
    Terrain terrain;
    ASSERT_TRUE(BuildFrom(terrain, Ramp(4, 4), 4, 4));
    std::vector<std::string> calls = DrawTrace(terrain);

    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    IDirect3DBaseTexture9* base = nullptr;
    IDirect3DBaseTexture9* detail = nullptr;
    UINT offset = 0, stride = 0;
    device->GetStreamSource(0, &vertexBuffer, &offset, &stride);
    device->GetIndices(&indexBuffer);
    device->GetTexture(0, &base);
    device->GetTexture(1, &detail);
    ASSERT_TRUE(vertexBuffer && indexBuffer && base && detail);
    auto res = [](IDirect3DResource9* resource) {
        return "res#" + std::to_string(fw::d3d9test::TraceId(resource));
    };
    const std::vector<std::string> expectedTail = {
        "SetRenderState(7, 1)",
        "SetRenderState(22, 3)",
        "SetRenderState(139, 4294967295)",
        "SetRenderState(27, 0)",
        "SetRenderState(137, 0)",
        "SetRenderState(28, 0)",
        "SetSamplerState(0, 6, 2)",
        "SetSamplerState(0, 5, 2)",
        "SetTextureStageState(1, 1, 4)",
        "SetTextureStageState(1, 2, 2)",
        "SetTextureStageState(1, 3, 1)",
        "SetSamplerState(1, 6, 2)",
        "SetSamplerState(1, 5, 2)",
        "SetStreamSource(0, " + res(vertexBuffer) + ", 0, 28)",
        "SetIndices(" + res(indexBuffer) + ")",
        "SetTexture(0, " + res(base) + ")",
        "SetTexture(1, " + res(detail) + ")",
        "SetFVF(514)",
        "DrawIndexedPrimitive(4, 0, 0, 36, 0, 18)",
        "LightEnable(0, 0)",
        "SetRenderState(137, 0)",
        "SetTextureStageState(1, 1, 1)",
    };
    ASSERT_EQ(calls.size(), 25u);
    EXPECT_EQ(calls[0].rfind("SetMaterial(", 0), 0u);
    EXPECT_EQ(calls[1], "LightEnable(0, 1)");
    EXPECT_EQ(calls[2].rfind("SetTransform(256, ", 0), 0u);
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 3, calls.end()), expectedTail);
    EXPECT_NE(base, detail);

    // White diffuse and ambient, nothing else; the world transform is the identity.
    D3DMATERIAL9 material{};
    device->GetMaterial(&material);
    EXPECT_EQ(material.Diffuse.r, 1.0f);
    EXPECT_EQ(material.Diffuse.b, 1.0f);
    EXPECT_EQ(material.Diffuse.a, 0.0f);
    EXPECT_EQ(material.Ambient.g, 1.0f);
    EXPECT_EQ(material.Ambient.a, 0.0f);
    EXPECT_EQ(material.Specular.r, 0.0f);
    EXPECT_EQ(material.Emissive.g, 0.0f);
    EXPECT_EQ(material.Power, 0.0f);
    D3DXMATRIX world, identity;
    device->GetTransform(D3DTS_WORLD, &world);
    D3DXMatrixIdentity(&identity);
    EXPECT_EQ(world, identity);

    vertexBuffer->Release();
    indexBuffer->Release();
    base->Release();
    detail->Release();
}

TEST_F(TerrainTest, UnbuiltOrFailedTerrainDrawsNothingAndIsOutsideEverywhere) {
    Terrain never;
    EXPECT_TRUE(DrawTrace(never).empty());
    EXPECT_EQ(never.GetHeight(0.0f, 0.0f), 9999.0f);

    Terrain failed;
    std::string heightmap = WriteL8Dds("terrain_ok.dds", 4, 4, Ramp(4, 4));
    std::string missing = ::testing::TempDir() + "no_such_detail.dds";
    EXPECT_FALSE(failed.Build(400.0f, 0, 200.0f, plain.c_str(), heightmap.c_str(), missing.c_str(),
                              2, device));
    EXPECT_TRUE(DrawTrace(failed).empty());
    EXPECT_EQ(failed.GetHeight(0.0f, 0.0f), 9999.0f);

    // A later successful Build recovers; a failed rebuild leaves nothing of the first.
    EXPECT_TRUE(BuildFrom(failed, Ramp(4, 4), 4, 4));
    EXPECT_EQ(DrawTrace(failed).size(), 25u);
    EXPECT_FALSE(
        failed.Build(400.0f, 0, 200.0f, plain.c_str(), missing.c_str(), plain.c_str(), 2, device));
    EXPECT_TRUE(DrawTrace(failed).empty());
    EXPECT_EQ(failed.GetHeight(0.0f, 0.0f), 9999.0f);
}

TEST_F(TerrainTest, LevelsThatCannotMakeAGridAreRefused) {
    Terrain terrain;
    EXPECT_FALSE(BuildFrom(terrain, Texels(1, 10), 1, 1)) << "1 x 1";
    EXPECT_FALSE(BuildFrom(terrain, Ramp(8, 8), 8, 8, 400, 200, 2, 3)) << "level 3 is 1 x 1";
    EXPECT_FALSE(BuildFrom(terrain, Ramp(8, 8), 8, 8, 400, 200, 2, 9)) << "no level 9";
    EXPECT_FALSE(BuildFrom(terrain, Ramp(8, 8), 8, 8, 400, 200, 0)) << "detail repeat 0";
    EXPECT_FALSE(BuildFrom(terrain, Ramp(256, 128), 256, 128)) << "32385 cells";
    EXPECT_FALSE(BuildFrom(terrain, Ramp(8, 8), 8, 8, 0.0f)) << "no size";
    EXPECT_FALSE(BuildFrom(terrain, Ramp(8, 8), 8, 8, NAN)) << "NaN size";
    EXPECT_EQ(terrain.GetHeight(0.0f, 0.0f), 9999.0f);
    EXPECT_TRUE(DrawTrace(terrain).empty());

    // The largest grids 16-bit indices can reach still build.
    EXPECT_TRUE(BuildFrom(terrain, Ramp(256, 64), 256, 64)) << "16065 cells";
    std::vector<std::string> calls = DrawTrace(terrain);
    ASSERT_EQ(calls.size(), 25u);
    EXPECT_EQ(calls[21], "DrawIndexedPrimitive(4, 0, 0, 64260, 0, 32130)");
    // A lower mip level makes the grid: level 1 of 8 x 8 is 4 x 4, nine cells.
    EXPECT_TRUE(BuildFrom(terrain, Ramp(8, 8), 8, 8, 400, 200, 2, 1));
    calls = DrawTrace(terrain);
    ASSERT_EQ(calls.size(), 25u);
    EXPECT_EQ(calls[21], "DrawIndexedPrimitive(4, 0, 0, 36, 0, 18)");
}

TEST_F(TerrainTest, HeightAtGridPointsIsTheSample) {
    Texels texels = Ramp(4, 4);
    texels[1 * 4 + 2] = 128;
    texels[0] = 255;
    Terrain terrain;
    ASSERT_TRUE(BuildFrom(terrain, texels, 4, 4, 300.0f)); // spacing 100, half 150
    EXPECT_FLOAT_EQ(terrain.GetHeight(50.0f, -50.0f), 128 * kK200);
    EXPECT_NEAR(terrain.GetHeight(-150.0f, -150.0f), 200.0f, 1e-4f); // exactly -size/2: inside
    for (UINT j = 0; j < 4; ++j)
        for (UINT i = 0; i < 4; ++i)
            EXPECT_NEAR(terrain.GetHeight(i * 100.0f - 150.0f, j * 100.0f - 150.0f),
                        texels[j * 4 + i] * kK200, 1e-3f)
                << i << "," << j;
}

TEST_F(TerrainTest, HeightInsideACellFollowsTheOtherDiagonal) {
    // One cell: A = B = C = 0 and D = 255 (the corner at +x, +z).
    Terrain terrain;
    ASSERT_TRUE(BuildFrom(terrain, Texels{0, 0, 0, 255}, 2, 2, 100.0f));
    const float D = 255 * kK200;
    EXPECT_EQ(terrain.GetHeight(0.0f, 0.0f), 0.0f); // the mean of B and C, not of all four
    EXPECT_NEAR(terrain.GetHeight(25.0f, 25.0f), D * 0.5f, 1e-3f);
    EXPECT_NEAR(terrain.GetHeight(50.0f, 50.0f), D, 1e-3f); // far corner: the last cell
    // Continuous across the query's diagonal.
    EXPECT_NEAR(terrain.GetHeight(10.0f, -10.0f), terrain.GetHeight(10.001f, -9.999f), 0.01f);

    // Off the diagonal the plane through three corners: A = 0, B = 255, C = D = 0.
    ASSERT_TRUE(BuildFrom(terrain, Texels{0, 255, 0, 0}, 2, 2, 100.0f));
    EXPECT_NEAR(terrain.GetHeight(-25.0f, -40.0f), 255 * kK200 * 0.25f, 1e-3f); // dx .25 dz .1
    EXPECT_NEAR(terrain.GetHeight(40.0f, 40.0f), 255 * kK200 * 0.1f, 1e-3f);    // dx .9 dz .9
}

TEST_F(TerrainTest, HeightOutsideTheSquareIsFarAboveTheGround) {
    Terrain terrain;
    ASSERT_TRUE(BuildFrom(terrain, Ramp(4, 4), 4, 4, 300.0f));
    EXPECT_EQ(terrain.GetHeight(150.01f, 0.0f), 9999.0f);
    EXPECT_EQ(terrain.GetHeight(-150.01f, 0.0f), 9999.0f);
    EXPECT_EQ(terrain.GetHeight(0.0f, 150.01f), 9999.0f);
    EXPECT_EQ(terrain.GetHeight(0.0f, -150.01f), 9999.0f);
    EXPECT_EQ(terrain.GetHeight(NAN, 0.0f), 9999.0f);
    EXPECT_EQ(terrain.GetHeight(0.0f, INFINITY), 9999.0f);
    // The far edges are inside and read the last row and column.
    const Texels texels = Ramp(4, 4);
    EXPECT_NEAR(terrain.GetHeight(150.0f, 150.0f), texels[15] * kK200, 1e-3f);
    EXPECT_NEAR(terrain.GetHeight(150.0f, -150.0f), texels[3] * kK200, 1e-3f);

    // A wide level covers only part of the square in z: rows it lacks are outside.
    Texels wide = Ramp(8, 2); // 7 x 1 cells, spacing 300/7, z up to about -107
    ASSERT_TRUE(BuildFrom(terrain, wide, 8, 2, 300.0f));
    EXPECT_NEAR(terrain.GetHeight(-150.0f, -150.0f + 300.0f / 7.0f), wide[8] * kK200, 1e-3f);
    EXPECT_EQ(terrain.GetHeight(0.0f, 0.0f), 9999.0f);
    EXPECT_EQ(terrain.GetHeight(0.0f, 150.0f), 9999.0f);
}

TEST_F(TerrainTest, HeroStandsOnTheMeanOfTheQueryDiagonalAtTheOrigin) {
    Texels texels = Ramp(64, 64);
    texels[31 * 64 + 32] = 40;  // B of cell (31, 31)
    texels[32 * 64 + 31] = 100; // C
    texels[31 * 64 + 31] = 250; // A and D do not count at the centre
    texels[32 * 64 + 32] = 0;
    Terrain terrain;
    ASSERT_TRUE(BuildFrom(terrain, texels, 64, 64, 3000.0f));
    EXPECT_NEAR(terrain.GetHeight(0.0f, 0.0f), (40 + 100) / 2.0f * kK200, 0.05f);
    EXPECT_EQ(DrawTrace(terrain)[21], "DrawIndexedPrimitive(4, 0, 0, 15876, 0, 7938)");
}

TEST_F(TerrainTest, DefaultDataSetBuildsTheProgramsTerrain) {
    const std::string data = FERROWALK_SOURCE_DIR "/data/";
    FILE* probe = std::fopen((data + "terrain_heightmap.png").c_str(), "rb");
    if (!probe)
        GTEST_SKIP() << "no default data set in " << data;
    std::fclose(probe);
    Terrain terrain;
    ASSERT_TRUE(terrain.Build(3000.0f, 4, 200.0f, (data + "terrain_texture.dds").c_str(),
                              (data + "terrain_heightmap.png").c_str(),
                              (data + "terrain_detail.dds").c_str(), 2, device));
    std::vector<std::string> calls = DrawTrace(terrain);
    ASSERT_EQ(calls.size(), 25u);
    EXPECT_EQ(calls[21], "DrawIndexedPrimitive(4, 0, 0, 15876, 0, 7938)"); // 63 x 63 cells
    float ground = terrain.GetHeight(0.0f, 0.0f);
    EXPECT_GE(ground, 0.0f);
    EXPECT_LE(ground, 200.0001f);
    EXPECT_EQ(terrain.GetHeight(1500.5f, 0.0f), 9999.0f);
}
