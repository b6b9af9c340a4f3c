#include "platform/d3d9/formats.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstring>

#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>

namespace fw::d3d9 {

FormatInfo DescribeFormat(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_A8R8G8B8:
        return {true, false, 4, GL_RGBA8, GL_BGRA, GL_UNSIGNED_BYTE};
    case D3DFMT_X8R8G8B8:
        return {true, false, 4, GL_RGB8, GL_BGRA, GL_UNSIGNED_BYTE};
    case D3DFMT_A8B8G8R8:
        return {true, false, 4, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE};
    case D3DFMT_X8B8G8R8:
        return {true, false, 4, GL_RGB8, GL_RGBA, GL_UNSIGNED_BYTE};
    case D3DFMT_R8G8B8:
        return {true, false, 3, GL_RGB8, GL_BGR, GL_UNSIGNED_BYTE};
    case D3DFMT_R5G6B5:
        return {true, false, 2, GL_RGB8, GL_RGB, GL_UNSIGNED_SHORT_5_6_5};
    case D3DFMT_X1R5G5B5:
        return {true, false, 2, GL_RGB5, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV};
    case D3DFMT_A1R5G5B5:
        return {true, false, 2, GL_RGB5_A1, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV};
    case D3DFMT_A4R4G4B4:
        return {true, false, 2, GL_RGBA4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV};
    case D3DFMT_X4R4G4B4:
        return {true, false, 2, GL_RGB4, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV};
    case D3DFMT_L8:
        return {true, false, 1, GL_LUMINANCE8, GL_LUMINANCE, GL_UNSIGNED_BYTE};
    case D3DFMT_A8L8:
        return {true, false, 2, GL_LUMINANCE8_ALPHA8, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE};
    case D3DFMT_A8:
        return {true, false, 1, GL_ALPHA8, GL_ALPHA, GL_UNSIGNED_BYTE};
    case D3DFMT_DXT1:
        return {true, true, 8, GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, 0, 0};
    case D3DFMT_DXT2:
    case D3DFMT_DXT3:
        return {true, true, 16, GL_COMPRESSED_RGBA_S3TC_DXT3_EXT, 0, 0};
    case D3DFMT_DXT4:
    case D3DFMT_DXT5:
        return {true, true, 16, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT, 0, 0};
    default:
        return {};
    }
}

UINT RowPitch(D3DFORMAT format, UINT width) {
    FormatInfo info = DescribeFormat(format);
    if (info.compressed)
        return std::max(1u, (width + 3) / 4) * info.bytes;
    return width * info.bytes;
}

UINT RowCount(D3DFORMAT format, UINT height) {
    return DescribeFormat(format).compressed ? std::max(1u, (height + 3) / 4) : height;
}

size_t LevelBytes(D3DFORMAT format, UINT width, UINT height) {
    return size_t(RowPitch(format, width)) * RowCount(format, height);
}

UINT FullChainLength(UINT width, UINT height) {
    UINT levels = 1;
    for (UINT side = std::max(width, height); side > 1; side >>= 1)
        ++levels;
    return levels;
}

namespace {

uint8_t Expand5(unsigned v) {
    return uint8_t((v << 3) | (v >> 2));
}
uint8_t Expand6(unsigned v) {
    return uint8_t((v << 2) | (v >> 4));
}
uint8_t Expand4(unsigned v) {
    return uint8_t(v * 17);
}

unsigned Read16(const BYTE* p) {
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}
uint32_t Read32(const BYTE* p) {
    return Read16(p) | uint32_t(Read16(p + 2)) << 16;
}

// One DXT colour block into 16 RGBA texels; fourColour forces the 4-colour mode of DXT3/5.
void DecodeColourBlock(const BYTE* block, bool fourColour, uint8_t out[16][4]) {
    unsigned c0 = Read16(block), c1 = Read16(block + 2);
    uint8_t palette[4][4];
    auto unpack = [](unsigned c, uint8_t* p) {
        p[0] = Expand5(c >> 11);
        p[1] = Expand6((c >> 5) & 63);
        p[2] = Expand5(c & 31);
        p[3] = 255;
    };
    unpack(c0, palette[0]);
    unpack(c1, palette[1]);
    for (int ch = 0; ch < 3; ++ch) {
        int a = palette[0][ch], b = palette[1][ch];
        if (fourColour || c0 > c1) {
            palette[2][ch] = uint8_t((2 * a + b + 1) / 3);
            palette[3][ch] = uint8_t((a + 2 * b + 1) / 3);
        } else {
            palette[2][ch] = uint8_t((a + b) / 2);
            palette[3][ch] = 0;
        }
    }
    palette[2][3] = 255;
    palette[3][3] = (fourColour || c0 > c1) ? 255 : 0;
    uint32_t indices = Read32(block + 4);
    for (int i = 0; i < 16; ++i)
        std::memcpy(out[i], palette[(indices >> (2 * i)) & 3], 4);
}

void DecodeDxt5Alpha(const BYTE* block, uint8_t out[16][4]) {
    unsigned a0 = block[0], a1 = block[1];
    unsigned values[8] = {a0, a1};
    for (unsigned i = 2; i < 8; ++i) {
        if (a0 > a1)
            values[i] = ((8 - i) * a0 + (i - 1) * a1 + 3) / 7;
        else if (i < 6)
            values[i] = ((6 - i) * a0 + (i - 1) * a1 + 2) / 5;
        else
            values[i] = i == 6 ? 0 : 255;
    }
    uint64_t bits = 0;
    for (int i = 0; i < 6; ++i)
        bits |= uint64_t(block[2 + i]) << (8 * i);
    for (int i = 0; i < 16; ++i)
        out[i][3] = uint8_t(values[(bits >> (3 * i)) & 7]);
}

void DecodeBlocks(D3DFORMAT format, const BYTE* src, UINT pitch, UINT width, UINT height,
                  uint8_t* rgba) {
    UINT blockBytes = DescribeFormat(format).bytes;
    for (UINT by = 0; by < (height + 3) / 4; ++by) {
        for (UINT bx = 0; bx < (width + 3) / 4; ++bx) {
            const BYTE* block = src + size_t(by) * pitch + size_t(bx) * blockBytes;
            uint8_t texels[16][4];
            if (format == D3DFMT_DXT1) {
                DecodeColourBlock(block, false, texels);
            } else {
                DecodeColourBlock(block + 8, true, texels);
                if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
                    for (int i = 0; i < 16; ++i)
                        texels[i][3] = Expand4((block[i / 2] >> (4 * (i & 1))) & 15);
                } else {
                    DecodeDxt5Alpha(block, texels);
                }
            }
            UINT columns = std::min(4u, width - bx * 4);
            for (UINT y = 0; y < 4 && by * 4 + y < height; ++y)
                std::memcpy(rgba + (size_t(by * 4 + y) * width + bx * 4) * 4, texels[y * 4],
                            size_t(columns) * 4);
        }
    }
}

void DecodeTexel(D3DFORMAT format, const BYTE* p, uint8_t* out) {
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
        out[0] = p[2], out[1] = p[1], out[2] = p[0];
        out[3] = format == D3DFMT_A8R8G8B8 ? p[3] : 255;
        break;
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
        out[0] = p[0], out[1] = p[1], out[2] = p[2];
        out[3] = format == D3DFMT_A8B8G8R8 ? p[3] : 255;
        break;
    case D3DFMT_R8G8B8:
        out[0] = p[2], out[1] = p[1], out[2] = p[0], out[3] = 255;
        break;
    case D3DFMT_R5G6B5: {
        unsigned v = Read16(p);
        out[0] = Expand5(v >> 11), out[1] = Expand6((v >> 5) & 63), out[2] = Expand5(v & 31);
        out[3] = 255;
        break;
    }
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
        unsigned v = Read16(p);
        out[0] = Expand5((v >> 10) & 31), out[1] = Expand5((v >> 5) & 31);
        out[2] = Expand5(v & 31);
        out[3] = (format == D3DFMT_X1R5G5B5 || (v & 0x8000)) ? 255 : 0;
        break;
    }
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4: {
        unsigned v = Read16(p);
        out[0] = Expand4((v >> 8) & 15), out[1] = Expand4((v >> 4) & 15);
        out[2] = Expand4(v & 15);
        out[3] = format == D3DFMT_A4R4G4B4 ? Expand4(v >> 12) : 255;
        break;
    }
    case D3DFMT_L8:
        out[0] = out[1] = out[2] = p[0], out[3] = 255;
        break;
    case D3DFMT_A8L8:
        out[0] = out[1] = out[2] = p[0], out[3] = p[1];
        break;
    case D3DFMT_A8:
        out[0] = out[1] = out[2] = 0, out[3] = p[0];
        break;
    default:
        break;
    }
}

unsigned Pack(unsigned value, int bits) {
    return (value * ((1u << bits) - 1) + 127) / 255;
}

void EncodeTexel(D3DFORMAT format, const uint8_t* in, BYTE* p) {
    auto write16 = [p](unsigned v) {
        p[0] = BYTE(v);
        p[1] = BYTE(v >> 8);
    };
    switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
        p[0] = in[2], p[1] = in[1], p[2] = in[0];
        p[3] = format == D3DFMT_A8R8G8B8 ? in[3] : 255;
        break;
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
        p[0] = in[0], p[1] = in[1], p[2] = in[2];
        p[3] = format == D3DFMT_A8B8G8R8 ? in[3] : 255;
        break;
    case D3DFMT_R8G8B8:
        p[0] = in[2], p[1] = in[1], p[2] = in[0];
        break;
    case D3DFMT_R5G6B5:
        write16(Pack(in[0], 5) << 11 | Pack(in[1], 6) << 5 | Pack(in[2], 5));
        break;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5: {
        unsigned alpha = (format == D3DFMT_X1R5G5B5 || in[3] >= 128) ? 0x8000 : 0;
        write16(alpha | Pack(in[0], 5) << 10 | Pack(in[1], 5) << 5 | Pack(in[2], 5));
        break;
    }
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4: {
        unsigned alpha = format == D3DFMT_A4R4G4B4 ? Pack(in[3], 4) : 15;
        write16(alpha << 12 | Pack(in[0], 4) << 8 | Pack(in[1], 4) << 4 | Pack(in[2], 4));
        break;
    }
    case D3DFMT_L8:
        p[0] = in[0];
        break;
    case D3DFMT_A8L8:
        p[0] = in[0], p[1] = in[3];
        break;
    case D3DFMT_A8:
        p[0] = in[3];
        break;
    default:
        break;
    }
}

void EncodeBlocks(D3DFORMAT format, const uint8_t* rgba, UINT width, UINT height, BYTE* dst) {
    UINT blockBytes = DescribeFormat(format).bytes;
    UINT pitch = RowPitch(format, width);
    for (UINT by = 0; by < (height + 3) / 4; ++by) {
        for (UINT bx = 0; bx < (width + 3) / 4; ++bx) {
            // Texels beyond the edge repeat the last row/column so they do not skew the block.
            uint8_t texels[16 * 4];
            for (UINT y = 0; y < 4; ++y)
                for (UINT x = 0; x < 4; ++x) {
                    UINT sx = std::min(bx * 4 + x, width - 1),
                         sy = std::min(by * 4 + y, height - 1);
                    std::memcpy(texels + (y * 4 + x) * 4, rgba + (size_t(sy) * width + sx) * 4, 4);
                }
            BYTE* block = dst + size_t(by) * pitch + size_t(bx) * blockBytes;
            if (format == D3DFMT_DXT1) {
                stb_compress_dxt_block(block, texels, 0, STB_DXT_HIGHQUAL);
            } else if (format == D3DFMT_DXT5 || format == D3DFMT_DXT4) {
                stb_compress_dxt_block(block, texels, 1, STB_DXT_HIGHQUAL);
            } else {
                for (int i = 0; i < 8; ++i)
                    block[i] = BYTE(Pack(texels[(2 * i) * 4 + 3], 4) |
                                    Pack(texels[(2 * i + 1) * 4 + 3], 4) << 4);
                stb_compress_dxt_block(block + 8, texels, 0, STB_DXT_HIGHQUAL);
            }
        }
    }
}

} // namespace

bool DecodeToRgba(D3DFORMAT format, const BYTE* src, UINT pitch, UINT width, UINT height,
                  uint8_t* rgba) {
    FormatInfo info = DescribeFormat(format);
    if (!info.known)
        return false;
    if (info.compressed) {
        DecodeBlocks(format, src, pitch, width, height, rgba);
        return true;
    }
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x)
            DecodeTexel(format, src + size_t(y) * pitch + size_t(x) * info.bytes,
                        rgba + (size_t(y) * width + x) * 4);
    return true;
}

bool EncodeFromRgba(D3DFORMAT format, const uint8_t* rgba, UINT width, UINT height, BYTE* dst) {
    FormatInfo info = DescribeFormat(format);
    if (!info.known || width == 0 || height == 0)
        return false;
    if (info.compressed) {
        EncodeBlocks(format, rgba, width, height, dst);
        return true;
    }
    for (size_t i = 0; i < size_t(width) * height; ++i)
        EncodeTexel(format, rgba + i * 4, dst + i * info.bytes);
    return true;
}

} // namespace fw::d3d9
