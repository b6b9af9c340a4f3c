// The DDS container: 2-D textures with their mip levels, DXT1/3/5 or uncompressed masks.
// Pure parsing, no device: a damaged file yields a reason, never a read outside the data.
#pragma once

#include "platform/d3d9.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fw::d3dx9 {

struct DdsImage {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT width = 0;
    UINT height = 0;
    std::vector<std::vector<BYTE>> levels; // level 0 first, packed rows (of blocks)
};

constexpr UINT kMaxDdsSide = 16384;

bool IsDds(const uint8_t* data, size_t size);
// Reads the header only (levels stay empty); false with a reason for a file this reader
// cannot take (cube maps, volumes, unknown pixel formats, absurd sizes, short data).
bool ParseDdsHeader(const uint8_t* data, size_t size, DdsImage& image, UINT& levelCount,
                    std::string& error);
bool ParseDds(const uint8_t* data, size_t size, DdsImage& image, std::string& error);

} // namespace fw::d3dx9
