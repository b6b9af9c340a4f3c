#include "image_files.h"

#include "tests/kit/kit.h"

#include <cstring>
#include <fstream>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace textest {

namespace {

std::string PathOf(const std::string& name) {
    return kit::ScratchPath(name).string();
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = uint8_t(v >> (8 * i));
}

} // namespace

std::filesystem::path ScratchDir() {
    return kit::ScratchPath("");
}

std::string WritePng(const std::string& name, int w, int h, int channels,
                     const std::vector<uint8_t>& pixels) {
    std::string path = PathOf(name);
    stbi_write_png(path.c_str(), w, h, channels, pixels.data(), w * channels);
    return path;
}

std::string WriteBmp(const std::string& name, int w, int h, int channels,
                     const std::vector<uint8_t>& pixels) {
    std::string path = PathOf(name);
    stbi_write_bmp(path.c_str(), w, h, channels, pixels.data());
    return path;
}

std::string WriteTga(const std::string& name, int w, int h, int channels,
                     const std::vector<uint8_t>& pixels) {
    std::string path = PathOf(name);
    stbi_write_tga_with_rle = 0; // uncompressed, so a cut file is detectably short
    stbi_write_tga(path.c_str(), w, h, channels, pixels.data());
    return path;
}

std::string WriteJpg(const std::string& name, int w, int h, int channels,
                     const std::vector<uint8_t>& pixels) {
    std::string path = PathOf(name);
    stbi_write_jpg(path.c_str(), w, h, channels, pixels.data(), 100);
    return path;
}

std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    return kit::WriteScratchFile(name, bytes.data(), bytes.size());
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> DdsBytes(const DdsLayout& layout,
                              const std::vector<std::vector<uint8_t>>& levels) {
    std::vector<uint8_t> out(128, 0);
    std::memcpy(out.data(), "DDS ", 4);
    Put32(out, 4, 124);
    Put32(out, 8,
          layout.flags | (layout.mipCount > 1 ? 0x20000 : 0) | (layout.depth ? 0x800000 : 0));
    Put32(out, 12, layout.height);
    Put32(out, 16, layout.width);
    Put32(out, 24, layout.depth);
    Put32(out, 28, layout.mipCount);
    Put32(out, 76, 32);
    struct Masks {
        uint32_t flags, bits, r, g, b, a;
    } m{};
    switch (layout.format) {
    case D3DFMT_A8R8G8B8:
        m = {0x41, 32, 0xff0000, 0xff00, 0xff, 0xff000000};
        break;
    case D3DFMT_X8R8G8B8:
        m = {0x40, 32, 0xff0000, 0xff00, 0xff, 0};
        break;
    case D3DFMT_R8G8B8:
        m = {0x40, 24, 0xff0000, 0xff00, 0xff, 0};
        break;
    case D3DFMT_R5G6B5:
        m = {0x40, 16, 0xf800, 0x7e0, 0x1f, 0};
        break;
    case D3DFMT_A1R5G5B5:
        m = {0x41, 16, 0x7c00, 0x3e0, 0x1f, 0x8000};
        break;
    case D3DFMT_A4R4G4B4:
        m = {0x41, 16, 0xf00, 0xf0, 0xf, 0xf000};
        break;
    case D3DFMT_L8:
        m = {0x20000, 8, 0xff, 0, 0, 0};
        break;
    case D3DFMT_A8L8:
        m = {0x20001, 16, 0xff, 0, 0, 0xff00};
        break;
    case D3DFMT_A8:
        m = {0x2, 8, 0, 0, 0, 0xff};
        break;
    default:
        m = {0x4, 0, 0, 0, 0, 0};
        break; // FourCC
    }
    Put32(out, 80, m.flags);
    Put32(out, 84, m.flags == 0x4 ? uint32_t(layout.format) : 0);
    Put32(out, 88, m.bits);
    Put32(out, 92, m.r);
    Put32(out, 96, m.g);
    Put32(out, 100, m.b);
    Put32(out, 104, m.a);
    Put32(out, 108, 0x1000 | (layout.mipCount > 1 ? 0x400008 : 0));
    Put32(out, 112, layout.caps2);
    for (const auto& level : levels)
        out.insert(out.end(), level.begin(), level.end());
    return out;
}

std::vector<uint8_t> Noise(size_t count, uint32_t seed) {
    std::vector<uint8_t> out(count);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 7);
    }
    return out;
}

} // namespace textest
