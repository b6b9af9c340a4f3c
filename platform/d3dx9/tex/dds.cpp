#include "platform/d3dx9/tex/dds.h"

#include "platform/d3d9/formats.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fw::d3dx9 {

namespace {

constexpr size_t kHeaderBytes = 128; // magic + DDS_HEADER
constexpr DWORD kDepthFlag = 0x800000;
constexpr DWORD kCubeMap = 0x200;
constexpr DWORD kVolume = 0x200000;
constexpr DWORD kAlphaPixels = 0x1, kAlphaOnly = 0x2, kFourCC = 0x4, kRgb = 0x40,
                kLuminance = 0x20000;

DWORD Read32(const uint8_t* p) {
    return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24;
}

struct PixelFormat {
    DWORD flags, fourCC, bits, r, g, b, a;
};

std::string Hex(DWORD v) {
    char text[16];
    snprintf(text, sizeof text, "0x%X", v);
    return text;
}

D3DFORMAT FormatOf(const PixelFormat& pf) {
    if (pf.flags & kFourCC) {
        switch (pf.fourCC) {
        case D3DFMT_DXT1:
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            return D3DFORMAT(pf.fourCC);
        default:
            // Some writers store a D3DFORMAT number as the FourCC.
            if (pf.fourCC < 256 && d3d9::DescribeFormat(D3DFORMAT(pf.fourCC)).known)
                return D3DFORMAT(pf.fourCC);
            return D3DFMT_UNKNOWN;
        }
    }
    bool alpha = pf.flags & kAlphaPixels;
    DWORD a = alpha ? pf.a : 0;
    if (pf.flags & kRgb) {
        auto masks = [&](DWORD r, DWORD g, DWORD b) { return pf.r == r && pf.g == g && pf.b == b; };
        if (pf.bits == 32 && masks(0xff0000, 0xff00, 0xff))
            return a == 0xff000000 ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
        if (pf.bits == 32 && masks(0xff, 0xff00, 0xff0000))
            return a == 0xff000000 ? D3DFMT_A8B8G8R8 : D3DFMT_X8B8G8R8;
        if (pf.bits == 24 && masks(0xff0000, 0xff00, 0xff))
            return D3DFMT_R8G8B8;
        if (pf.bits == 16 && masks(0xf800, 0x7e0, 0x1f))
            return D3DFMT_R5G6B5;
        if (pf.bits == 16 && masks(0x7c00, 0x3e0, 0x1f))
            return a == 0x8000 ? D3DFMT_A1R5G5B5 : D3DFMT_X1R5G5B5;
        if (pf.bits == 16 && masks(0xf00, 0xf0, 0xf))
            return a == 0xf000 ? D3DFMT_A4R4G4B4 : D3DFMT_X4R4G4B4;
        return D3DFMT_UNKNOWN;
    }
    if (pf.flags & kLuminance) {
        if (pf.bits == 8 && pf.r == 0xff && a == 0)
            return D3DFMT_L8;
        if (pf.bits == 16 && pf.r == 0xff && a == 0xff00)
            return D3DFMT_A8L8;
        return D3DFMT_UNKNOWN;
    }
    if ((pf.flags & kAlphaOnly) && pf.bits == 8 && pf.a == 0xff)
        return D3DFMT_A8;
    return D3DFMT_UNKNOWN;
}

} // namespace

bool IsDds(const uint8_t* data, size_t size) {
    return size >= 4 && std::memcmp(data, "DDS ", 4) == 0;
}

bool ParseDdsHeader(const uint8_t* data, size_t size, DdsImage& image, UINT& levelCount,
                    std::string& error) {
    if (!IsDds(data, size)) {
        error = "not a DDS file";
        return false;
    }
    if (size < kHeaderBytes) {
        error = "truncated DDS header (" + std::to_string(size) + " bytes)";
        return false;
    }
    if (Read32(data + 4) != 124 || Read32(data + 76) != 32) {
        error = "corrupt DDS header (structure sizes " + std::to_string(Read32(data + 4)) + ", " +
                std::to_string(Read32(data + 76)) + ")";
        return false;
    }
    DWORD flags = Read32(data + 8);
    image.height = Read32(data + 12);
    image.width = Read32(data + 16);
    DWORD depth = Read32(data + 24);
    DWORD mipCount = Read32(data + 28);
    PixelFormat pf = {Read32(data + 80), Read32(data + 84),  Read32(data + 88), Read32(data + 92),
                      Read32(data + 96), Read32(data + 100), Read32(data + 104)};
    DWORD caps2 = Read32(data + 112);
    if (caps2 & kCubeMap) {
        error = "cube map textures are not supported";
        return false;
    }
    if ((caps2 & kVolume) || ((flags & kDepthFlag) && depth > 1)) {
        error = "volume textures are not supported";
        return false;
    }
    if (image.width == 0 || image.height == 0 || image.width > kMaxDdsSide ||
        image.height > kMaxDdsSide) {
        error = "unsupported size " + std::to_string(image.width) + " x " +
                std::to_string(image.height) + ": at most " + std::to_string(kMaxDdsSide) + " x " +
                std::to_string(kMaxDdsSide);
        return false;
    }
    image.format = FormatOf(pf);
    if (image.format == D3DFMT_UNKNOWN) {
        if ((pf.flags & kFourCC) && pf.fourCC == MAKEFOURCC('D', 'X', '1', '0'))
            error = "DX10 extended headers are not supported";
        else
            error = "unsupported pixel format (flags " + Hex(pf.flags) + ", FourCC " +
                    Hex(pf.fourCC) + ", " + std::to_string(pf.bits) + " bits, masks " + Hex(pf.r) +
                    " " + Hex(pf.g) + " " + Hex(pf.b) + " " + Hex(pf.a) + ")";
        return false;
    }
    // A count of 0 means one level; more than a full chain cannot be meant.
    levelCount = std::clamp<UINT>(mipCount, 1, d3d9::FullChainLength(image.width, image.height));
    return true;
}

bool ParseDds(const uint8_t* data, size_t size, DdsImage& image, std::string& error) {
    UINT levelCount = 0;
    if (!ParseDdsHeader(data, size, image, levelCount, error))
        return false;
    size_t offset = kHeaderBytes;
    image.levels.clear();
    image.levels.reserve(levelCount);
    for (UINT i = 0; i < levelCount; ++i) {
        UINT w = std::max(1u, image.width >> i), h = std::max(1u, image.height >> i);
        size_t bytes = d3d9::LevelBytes(image.format, w, h);
        if (bytes > size - offset) {
            error = "truncated data: level " + std::to_string(i) + " needs " +
                    std::to_string(bytes) + " bytes, " + std::to_string(size - offset) + " remain";
            image.levels.clear();
            return false;
        }
        image.levels.emplace_back(data + offset, data + offset + bytes);
        offset += bytes;
    }
    return true;
}

} // namespace fw::d3dx9
