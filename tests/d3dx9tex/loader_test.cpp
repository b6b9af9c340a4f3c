// Texture files into textures: formats, sizes, mip chains, texel values, damaged files.
#include "device_kit.h"
#include "image_files.h"

#include "platform/d3d9/formats.h"
#include "platform/d3dx9tex.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>

namespace textest {
namespace {

using d3d9test::DeviceTest;

class LoaderTest : public DeviceTest {
protected:
    void TearDown() override {
        if (texture)
            texture->Release();
        DeviceTest::TearDown();
    }

    HRESULT Load(const std::string& path) {
        if (texture)
            texture->Release();
        texture = nullptr;
        return D3DXCreateTextureFromFileA(device, path.c_str(), &texture);
    }

    D3DSURFACE_DESC Desc(UINT level) {
        D3DSURFACE_DESC desc{};
        EXPECT_EQ(texture->GetLevelDesc(level, &desc), D3D_OK);
        return desc;
    }

    // The level's bytes with packed rows, read through LockRect and its pitch.
    std::vector<uint8_t> Bytes(UINT level) {
        D3DSURFACE_DESC desc = Desc(level);
        UINT rowBytes = fw::d3d9::RowPitch(desc.Format, desc.Width);
        UINT rows = fw::d3d9::RowCount(desc.Format, desc.Height);
        D3DLOCKED_RECT rect{};
        EXPECT_EQ(texture->LockRect(level, &rect, nullptr, D3DLOCK_READONLY), D3D_OK);
        std::vector<uint8_t> out(size_t(rowBytes) * rows);
        for (UINT r = 0; r < rows; ++r)
            std::memcpy(out.data() + size_t(r) * rowBytes,
                        static_cast<uint8_t*>(rect.pBits) + size_t(r) * rect.Pitch, rowBytes);
        texture->UnlockRect(level);
        return out;
    }

    // Level texels as RGBA8.
    std::vector<uint8_t> Rgba(UINT level) {
        D3DSURFACE_DESC desc = Desc(level);
        std::vector<uint8_t> bytes = Bytes(level), rgba(size_t(desc.Width) * desc.Height * 4);
        EXPECT_TRUE(fw::d3d9::DecodeToRgba(desc.Format, bytes.data(),
                                           fw::d3d9::RowPitch(desc.Format, desc.Width), desc.Width,
                                           desc.Height, rgba.data()));
        return rgba;
    }

    void ExpectShape(D3DFORMAT format, UINT width, UINT height, DWORD levels) {
        ASSERT_NE(texture, nullptr);
        D3DSURFACE_DESC desc = Desc(0);
        EXPECT_EQ(desc.Format, format);
        EXPECT_EQ(desc.Width, width);
        EXPECT_EQ(desc.Height, height);
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
        EXPECT_EQ(texture->GetLevelCount(), levels);
    }

    IDirect3DTexture9* texture = nullptr;
};

TEST_F(LoaderTest, GreyPngBecomesL8WithBoxFilteredLevels) {
    const int side = 1024;
    std::vector<uint8_t> grey = Noise(size_t(side) * side, 7);
    ASSERT_EQ(Load(WritePng("heightmap.png", side, side, 1, grey)), D3D_OK);
    ExpectShape(D3DFMT_L8, side, side, 11);
    EXPECT_EQ(Bytes(0), grey);

    // Level 4: 64 x 64, each texel the mean of its 16 x 16 block, rows packed.
    D3DSURFACE_DESC desc = Desc(4);
    EXPECT_EQ(desc.Width, 64u);
    EXPECT_EQ(desc.Height, 64u);
    D3DLOCKED_RECT rect{};
    ASSERT_EQ(texture->LockRect(4, &rect, nullptr, 0), D3D_OK);
    EXPECT_EQ(rect.Pitch, 64);
    texture->UnlockRect(4);
    std::vector<uint8_t> level4 = Bytes(4);
    int worst = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            int sum = 0;
            for (int dy = 0; dy < 16; ++dy)
                for (int dx = 0; dx < 16; ++dx)
                    sum += grey[size_t(y * 16 + dy) * side + x * 16 + dx];
            worst = std::max(worst, std::abs(level4[size_t(y) * 64 + x] - sum / 256));
        }
    EXPECT_LE(worst, 2);
    EXPECT_EQ(Desc(10).Width, 1u);
}

TEST_F(LoaderTest, TruecolourFilesLoadInTheirFormats) {
    // 2 x 2: red, green / blue, half-transparent white.
    const std::vector<uint8_t> rgba = {255, 0, 0,   255, 0,   255, 0,   255,
                                       0,   0, 255, 255, 255, 255, 255, 128};
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < rgba.size(); i += 4)
        rgb.insert(rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
    // The same BMP stored top row first: a negative height, rows reversed.
    std::vector<uint8_t> topDown = ReadBytes(WriteBmp("rgb.bmp", 2, 2, 3, rgb));
    const size_t stride = 8, pixels = topDown.size() - 2 * stride;
    std::swap_ranges(topDown.begin() + pixels, topDown.begin() + pixels + stride,
                     topDown.begin() + pixels + stride);
    const int32_t negative = -2;
    std::memcpy(&topDown[22], &negative, 4);
    struct Case {
        std::string path;
        D3DFORMAT format;
        bool alpha;
    } cases[] = {
        {WritePng("rgb.png", 2, 2, 3, rgb), D3DFMT_X8R8G8B8, false},
        {WritePng("rgba.png", 2, 2, 4, rgba), D3DFMT_A8R8G8B8, true},
        {WriteBmp("rgb.bmp", 2, 2, 3, rgb), D3DFMT_X8R8G8B8, false},
        {WriteBytes("topdown.bmp", topDown), D3DFMT_X8R8G8B8, false},
        {WriteTga("rgba.tga", 2, 2, 4, rgba), D3DFMT_A8R8G8B8, true},
        {WriteTga("rgb.tga", 2, 2, 3, rgb), D3DFMT_X8R8G8B8, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_EQ(Load(c.path), D3D_OK);
        ExpectShape(c.format, 2, 2, 2);
        std::vector<uint8_t> got = Rgba(0);
        for (size_t i = 0; i < rgba.size(); ++i)
            EXPECT_EQ(got[i], (i % 4 == 3 && !c.alpha) ? 255 : rgba[i]) << "byte " << i;
        // The 1 x 1 level averages the four texels.
        std::vector<uint8_t> last = Rgba(1);
        EXPECT_NEAR(last[0], (255 + 255 + 1) / 4, 1);
        EXPECT_NEAR(last[2], (255 + 255 + 1) / 4, 1);
    }
}

TEST_F(LoaderTest, ImageInfoReportsTheFileFormat) {
    std::vector<uint8_t> rgb(3 * 5 * 3, 90);
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXGetImageInfoFromFileA(WriteBmp("odd.bmp", 3, 5, 3, rgb).c_str(), &info), D3D_OK);
    EXPECT_EQ(info.Width, 3u);
    EXPECT_EQ(info.Height, 5u);
    EXPECT_EQ(info.Format, D3DFMT_R8G8B8);
    EXPECT_EQ(info.ImageFileFormat, D3DXIFF_BMP);
    EXPECT_EQ(info.MipLevels, 1u);
}

TEST_F(LoaderTest, SizesRoundUpToPowersOfTwoUnlessAskedNotTo) {
    std::vector<uint8_t> rgb(3 * 5 * 3);
    for (size_t i = 0; i < rgb.size(); i += 3)
        rgb[i] = 200, rgb[i + 1] = 100, rgb[i + 2] = 50;
    std::string path = WritePng("odd.png", 3, 5, 3, rgb);
    ASSERT_EQ(Load(path), D3D_OK);
    ExpectShape(D3DFMT_X8R8G8B8, 4, 8, 4);
    std::vector<uint8_t> texels = Rgba(0);
    EXPECT_NEAR(texels[(7 * 4 + 3) * 4 + 0], 200, 1); // rescaled, still the same colour
    EXPECT_NEAR(texels[(7 * 4 + 3) * 4 + 2], 50, 1);

    texture->Release();
    texture = nullptr;
    D3DXIMAGE_INFO info{};
    ASSERT_EQ(D3DXCreateTextureFromFileExA(device, path.c_str(), D3DX_DEFAULT_NONPOW2, 0, 1, 0,
                                           D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                           D3DX_DEFAULT, 0, &info, nullptr, &texture),
              D3D_OK);
    ExpectShape(D3DFMT_X8R8G8B8, 3, 5, 1);
    EXPECT_EQ(info.Format, D3DFMT_R8G8B8);

    texture->Release();
    texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileExA(device, path.c_str(), D3DX_FROM_FILE, 16, D3DX_FROM_FILE,
                                           0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                           D3DX_DEFAULT, 0, nullptr, nullptr, &texture),
              D3D_OK);
    ExpectShape(D3DFMT_A8R8G8B8, 3, 16, 1);
}

TEST_F(LoaderTest, JpegLoadsAsX8R8G8B8) {
    std::vector<uint8_t> rgb(16 * 16 * 3);
    for (size_t i = 0; i < rgb.size(); i += 3)
        rgb[i] = 30, rgb[i + 1] = 160, rgb[i + 2] = 220;
    ASSERT_EQ(Load(WriteJpg("colour.jpg", 16, 16, 3, rgb)), D3D_OK);
    ExpectShape(D3DFMT_X8R8G8B8, 16, 16, 5);
    std::vector<uint8_t> texels = Rgba(0);
    EXPECT_NEAR(texels[100 * 4 + 0], 30, 4);
    EXPECT_NEAR(texels[100 * 4 + 1], 160, 4);
    EXPECT_NEAR(texels[100 * 4 + 2], 220, 4);
}

TEST_F(LoaderTest, DdsKeepsItsOwnLevelsAndFormat) {
    // DXT1 8 x 8 with all four levels: each level stored as it is in the file.
    DdsLayout layout{D3DFMT_DXT1, 8, 8, 4};
    std::vector<std::vector<uint8_t>> levels = {Noise(32, 1), Noise(8, 2), Noise(8, 3),
                                                Noise(8, 4)};
    ASSERT_EQ(Load(WriteBytes("full.dds", DdsBytes(layout, levels))), D3D_OK);
    ExpectShape(D3DFMT_DXT1, 8, 8, 4);
    for (UINT i = 0; i < 4; ++i)
        EXPECT_EQ(Bytes(i), levels[i]) << "level " << i;
    D3DLOCKED_RECT rect{};
    ASSERT_EQ(texture->LockRect(0, &rect, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(rect.Pitch, 16); // two blocks of 8 bytes per row of blocks
    texture->UnlockRect(0);

    // DXT5 with one level: the rest of the chain is filtered from it.
    std::vector<uint8_t> rgba(16 * 16 * 4);
    for (size_t i = 0; i < rgba.size(); i += 4)
        rgba[i] = 255, rgba[i + 1] = 128, rgba[i + 2] = 0, rgba[i + 3] = 64;
    std::vector<uint8_t> dxt5(fw::d3d9::LevelBytes(D3DFMT_DXT5, 16, 16));
    ASSERT_TRUE(fw::d3d9::EncodeFromRgba(D3DFMT_DXT5, rgba.data(), 16, 16, dxt5.data()));
    ASSERT_EQ(Load(WriteBytes("one.dds", DdsBytes({D3DFMT_DXT5, 16, 16, 1}, {dxt5}))), D3D_OK);
    ExpectShape(D3DFMT_DXT5, 16, 16, 5);
    std::vector<uint8_t> smallest = Rgba(4);
    EXPECT_NEAR(smallest[0], 255, 4);
    EXPECT_NEAR(smallest[1], 128, 4);
    EXPECT_NEAR(smallest[3], 64, 4);
}

TEST_F(LoaderTest, UncompressedDdsFormatsFollowTheirMasks) {
    struct Case {
        D3DFORMAT file, texture;
        std::vector<uint8_t> texel; // one texel in the file
        uint8_t r, g, b, a;         // as sampled
    } cases[] = {
        {D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8, {10, 20, 30, 40}, 30, 20, 10, 40},
        {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, {10, 20, 30, 0}, 30, 20, 10, 255},
        {D3DFMT_R8G8B8, D3DFMT_X8R8G8B8, {10, 20, 30}, 30, 20, 10, 255},
        {D3DFMT_R5G6B5, D3DFMT_R5G6B5, {0x00, 0xf8}, 255, 0, 0, 255},
        {D3DFMT_A1R5G5B5, D3DFMT_A1R5G5B5, {0x1f, 0x00}, 0, 0, 255, 0},
        {D3DFMT_A4R4G4B4, D3DFMT_A4R4G4B4, {0xf0, 0x8f}, 255, 255, 0, 136},
        {D3DFMT_L8, D3DFMT_L8, {77}, 77, 77, 77, 255},
        {D3DFMT_A8L8, D3DFMT_A8L8, {77, 99}, 77, 77, 77, 99},
        {D3DFMT_A8, D3DFMT_A8, {99}, 0, 0, 0, 99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("format " + std::to_string(c.file));
        std::vector<uint8_t> level;
        for (int i = 0; i < 4; ++i)
            level.insert(level.end(), c.texel.begin(), c.texel.end());
        ASSERT_EQ(Load(WriteBytes("masks.dds", DdsBytes({c.file, 2, 2, 1}, {level}))), D3D_OK);
        ExpectShape(c.texture, 2, 2, 2);
        std::vector<uint8_t> got = Rgba(0);
        EXPECT_EQ(got[0], c.r);
        EXPECT_EQ(got[1], c.g);
        EXPECT_EQ(got[2], c.b);
        EXPECT_EQ(got[3], c.a);
    }
}

TEST_F(LoaderTest, DefaultPoolTexturesAreFilledToo) {
    std::vector<uint8_t> grey = {10, 20, 30, 40};
    std::string path = WritePng("pool.png", 2, 2, 1, grey);
    ASSERT_EQ(D3DXCreateTextureFromFileExA(
                  device, path.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN,
                  D3DPOOL_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &texture),
              D3D_OK);
    EXPECT_EQ(Desc(0).Pool, D3DPOOL_DEFAULT);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetTexture(0, texture);
    ClearTo(0xff000000);
    DrawQuad(-1, -1, 1, 1, 0.5f, 0xffffffff);
    EXPECT_PIXEL(Pixel(48, 48), {40, 40, 40});
    device->SetTexture(0, nullptr);
    // A default-pool texture blocks Reset, as D3D's do.
    testing::internal::CaptureStderr();
    EXPECT_EQ(device->Reset(&params), D3DERR_INVALIDCALL);
    testing::internal::GetCapturedStderr();
    texture->Release();
    texture = nullptr;
    EXPECT_EQ(device->Reset(&params), D3D_OK);
}

TEST_F(LoaderTest, ColourKeyMakesMatchingTexelsTransparent) {
    const std::vector<uint8_t> rgb = {255, 0, 255, 10, 20, 30};
    std::string path = WriteBmp("keyed.bmp", 2, 1, 3, rgb);
    ASSERT_EQ(D3DXCreateTextureFromFileExA(device, path.c_str(), D3DX_DEFAULT, D3DX_DEFAULT, 1, 0,
                                           D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                           D3DX_DEFAULT, 0xffff00ff, nullptr, nullptr, &texture),
              D3D_OK);
    ExpectShape(D3DFMT_A8R8G8B8, 2, 1, 1);
    std::vector<uint8_t> got = Rgba(0);
    EXPECT_EQ(got[3], 0);
    EXPECT_EQ(got[7], 255);
    EXPECT_EQ(got[4], 10);
}

TEST_F(LoaderTest, MissingAndDamagedFilesFailWithOneLineNamingTheFile) {
    std::vector<uint8_t> grey = Noise(64 * 64, 3), rgb = Noise(32 * 32 * 3, 5);
    std::vector<uint8_t> png = ReadBytes(WritePng("good.png", 64, 64, 1, grey));
    std::vector<uint8_t> bmp = ReadBytes(WriteBmp("good.bmp", 32, 32, 3, rgb));
    std::vector<uint8_t> jpg = ReadBytes(WriteJpg("good.jpg", 32, 32, 3, rgb));
    std::vector<uint8_t> tga = ReadBytes(WriteTga("good.tga", 32, 32, 3, rgb));
    std::vector<uint8_t> dds =
        DdsBytes({D3DFMT_DXT1, 8, 8, 4}, {Noise(32, 1), Noise(8, 2), Noise(8, 3), Noise(8, 4)});
    auto cut = [](std::vector<uint8_t> bytes, size_t keep) {
        bytes.resize(std::min(keep, bytes.size()));
        return bytes;
    };
    // A Huffman table that claims more codes than it can hold (sixteen counts of 255).
    std::vector<uint8_t> badHuffman = jpg;
    for (size_t i = 0; i + 21 < badHuffman.size(); ++i)
        if (badHuffman[i] == 0xff && badHuffman[i + 1] == 0xc4) {
            std::fill(badHuffman.begin() + long(i) + 5, badHuffman.begin() + long(i) + 21, 0xff);
            break;
        }
    std::vector<uint8_t> corruptPng = png;
    for (size_t i = 60; i < corruptPng.size() - 12; ++i)
        corruptPng[i] ^= 0x5a;
    DdsLayout cube{D3DFMT_DXT1, 8, 8, 1, 0xfe00};
    DdsLayout volume{D3DFMT_A8R8G8B8, 4, 4, 1, 0x200000, 0x1007, 4};
    DdsLayout huge{D3DFMT_DXT1, 0x7fffffff, 0x7fffffff, 1};
    // A run-length TGA that claims 8192 x 8192 from 56 bytes.
    std::vector<uint8_t> bombTga = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0x20, 32, 0};
    bombTga.resize(56, 0xff);
    // A 36-byte BMP of 2048 x 7676 one-bit pixels in a compression nobody knows.
    const std::vector<uint8_t> packedBmp = {
        0x42, 0x4d, 0x4a, 0x01, 0,    0, 0, 0, 0, 0x57, 0x24, 0, 0,    0,    0x7c, 0,    0,   0, 0,
        0x08, 0,    0,    0xfc, 0x1d, 0, 0, 1, 0, 1,    0,    0, 0x32, 0xfc, 0xff, 0x42, 0xff};
    // A 150-byte PNG whose text chunk claims 1.5 GB (found by fuzzing: libpng allocated it).
    const std::vector<uint8_t> claimingPng = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
        0x52, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x10, 0x02, 0x00, 0x00, 0x00, 0x1b,
        0xfd, 0xf5, 0x9f, 0x00, 0x00, 0x00, 0x04, 0x67, 0x41, 0x4d, 0x41, 0x00, 0x00, 0xb1, 0x8f,
        0x0b, 0xfc, 0x61, 0x05, 0x00, 0x00, 0x00, 0x20, 0x63, 0x48, 0x52, 0x4d, 0x00, 0x00, 0x49,
        0x00, 0xb6, 0x87, 0x6d, 0x00, 0x92, 0x87, 0x92, 0x00, 0x6d, 0xb0, 0x87, 0xb6, 0x00, 0x49,
        0x87, 0xdb, 0x00, 0x00, 0xea, 0x60, 0x00, 0x00, 0x3a, 0x98, 0x00, 0x00, 0x17, 0x70, 0x9c,
        0xba, 0x51, 0x3c, 0x00, 0x00, 0x00, 0x06, 0x62, 0x4b, 0x47, 0x44, 0xff, 0x01, 0x00, 0x00,
        0x00, 0x00, 0xf6, 0xa7, 0x08, 0xdc, 0x00, 0x00, 0x00, 0x07, 0x74, 0x49, 0x4d, 0x45, 0x07,
        0xea, 0x0c, 0x08, 0x0c, 0x44, 0x01, 0x09, 0x12, 0x92, 0x27, 0x5b, 0x00, 0x00, 0x25, 0x74,
        0x45, 0x58, 0x74, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    std::vector<uint8_t> unknownFourCC = dds;
    std::memcpy(unknownFourCC.data() + 84, "ATI2", 4);
    struct Case {
        std::string name;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"empty.png", {}},
        {"garbage.png", Noise(300, 9)},
        {"short.png", cut(png, png.size() / 2)},
        {"corrupt.png", corruptPng},
        {"short.bmp", cut(bmp, 40)},
        {"headless.bmp", cut(bmp, 10)},
        {"short.jpg", cut(jpg, 100)},
        {"cut.jpg", cut(jpg, jpg.size() - 40)},
        {"huffman.jpg", badHuffman},
        {"cut.bmp", cut(bmp, bmp.size() - 1)},
        {"cut.tga", cut(tga, tga.size() - 1)},
        {"short.tga", cut(tga, 12)},
        {"bomb.tga", bombTga},
        {"headerless.tga", cut(bombTga, 17)},
        {"packed.bmp", packedBmp},
        {"short.dds", cut(dds, dds.size() - 1)},
        {"header.dds", cut(dds, 100)},
        {"cube.dds", DdsBytes(cube, {Noise(32 * 6, 1)})},
        {"volume.dds", DdsBytes(volume, {Noise(256, 1)})},
        {"huge.dds", DdsBytes(huge, {})},
        {"unknown.dds", unknownFourCC},
        {"claiming.png", claimingPng},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = WriteBytes(c.name, c.bytes);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Load(path), D3DXERR_INVALIDDATA);
        std::string output = testing::internal::GetCapturedStderr();
        EXPECT_EQ(texture, nullptr);
        EXPECT_NE(output.find(c.name), std::string::npos) << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    }

    testing::internal::CaptureStderr();
    EXPECT_EQ(Load((ScratchDir() / "nowhere.png").string()), D3DXERR_INVALIDDATA);
    std::string output = testing::internal::GetCapturedStderr();
    EXPECT_NE(output.find("nowhere.png"), std::string::npos);
    EXPECT_NE(output.find("not found"), std::string::npos);
    EXPECT_EQ(D3DXCreateTextureFromFileA(device, nullptr, &texture), D3DERR_INVALIDCALL);
}

// Names written on Windows resolve as they would there; what is not a regular file of a sane
// size fails at once with one line saying why.
TEST_F(LoaderTest, WindowsNamesResolveAndOddFilesFailAtOnce) {
    const std::filesystem::path dir = ScratchDir() / "Maps";
    std::filesystem::create_directories(dir);
    const std::vector<uint8_t> red = {255, 0, 0}, green = {0, 255, 0};
    std::filesystem::rename(WritePng("Body.PNG", 1, 1, 3, red), dir / "Body.PNG");
    ASSERT_EQ(Load((ScratchDir() / "maps\\body.png").string()), D3D_OK);
    EXPECT_EQ(Rgba(0)[0], 255);
    // The exact name wins over one that differs only in case.
    std::filesystem::rename(WritePng("body.png", 1, 1, 3, green), dir / "body.png");
    ASSERT_EQ(Load((dir / "body.png").string()), D3D_OK);
    EXPECT_EQ(Rgba(0)[1], 255);

    const std::filesystem::path pipe = ScratchDir() / "pipe.png", big = ScratchDir() / "big.png";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::filesystem::resize_file(WriteBytes("big.png", {}), 300u << 20); // sparse
    const std::filesystem::path wide = WritePng("wide.png", 8193, 1, 1, std::vector<uint8_t>(8193));
    for (const auto& [path, reason] : {std::pair{dir, "not a regular file"},
                                       {pipe, "not a regular file"},
                                       {big, "at most 268435456 bytes"},
                                       {wide, "at most 8192 x 8192"}}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(Load(path.string()), D3DXERR_INVALIDDATA);
        std::string output = testing::internal::GetCapturedStderr();
        EXPECT_NE(output.find(reason), std::string::npos) << output;
    }
}

// Images written by other tools (the shared test data), when present.
TEST_F(LoaderTest, RealFilesFromOtherToolsLoad) {
    const std::filesystem::path dir =
        std::filesystem::path(FERROWALK_SHARED_DIR) / "testdata/xfiles";
    if (!std::filesystem::exists(dir))
        GTEST_SKIP() << "no shared test data at " << dir;
    struct Case {
        const char* file;
        D3DFORMAT format;
        UINT side;
        DWORD levels;
    } cases[] = {
        {"assimp/top.tga", D3DFMT_X8R8G8B8, 256, 9},
        {"assimp/bottom.tga", D3DFMT_X8R8G8B8, 256, 9},
        {"assimp/test.png", D3DFMT_X8R8G8B8, 512, 10},
        {"dx11x/jiji.png", D3DFMT_A8R8G8B8, 1024, 11}, // 656 x 519, rounded up
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(Load((dir / c.file).string()), D3D_OK);
        ExpectShape(c.format, c.side, c.side, c.levels);
    }
    // Bottom-up rows (the TGA default) come out top row first: "top" is bright at the top.
    auto brightness = [&](UINT firstRow, UINT rows) {
        std::vector<uint8_t> rgba = Rgba(0);
        long sum = 0;
        for (UINT y = firstRow; y < firstRow + rows; ++y)
            for (UINT x = 0; x < 256; ++x)
                sum += rgba[(size_t(y) * 256 + x) * 4];
        return sum / long(rows * 256);
    };
    ASSERT_EQ(Load((dir / "assimp/top.tga").string()), D3D_OK);
    EXPECT_GT(brightness(0, 64), brightness(192, 64) + 20);
    ASSERT_EQ(Load((dir / "assimp/bottom.tga").string()), D3D_OK);
    EXPECT_LT(brightness(0, 64) + 20, brightness(192, 64));
}

} // namespace
} // namespace textest
