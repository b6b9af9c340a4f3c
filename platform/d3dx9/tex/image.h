// Decoded images in a D3D format, and the filters that size them and build mip chains.
#pragma once

#include "platform/d3dx9tex.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fw::d3dx9 {

// One level of texels: packed rows in format.
struct Level {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT width = 0;
    UINT height = 0;
    std::vector<BYTE> bytes;
};

// What a file holds: its levels (one for every container but DDS) and what D3DX reports.
struct SourceImage {
    D3DXIMAGE_INFO info{};
    std::vector<Level> levels;
};

constexpr UINT kMaxImageSide = 8192;

// PNG (libpng), JPEG (libjpeg-turbo), BMP, TGA (stb_image) or DDS, told apart by their
// signatures. headerOnly
// fills info alone. False with a reason when the data cannot be decoded.
bool DecodeImage(const uint8_t* data, size_t size, bool headerOnly, SourceImage& image,
                 std::string& error);

// The end of a library decoder's run (PNG, JPEG): keeps the level unless only the header was
// asked for; otherwise leaves image empty and sets error from the library's reason (a size
// over the limit as it stands, anything else as "not a readable KIND image (reason)").
bool FinishDecode(bool read, bool headerOnly, const char* kind, const char* reason,
                  SourceImage& image, std::string& error);

// The format a texture gets for a file's format: the closest one devices create.
D3DFORMAT TextureFormatFor(D3DFORMAT fileFormat);

// Formats whose texels are whole bytes per channel (filtered without decoding).
bool IsByteChannelFormat(D3DFORMAT format);

// Converts a level to another format (through RGBA8); false for a format without a codec. A
// level moved in that already has the format is handed over without a copy.
bool ConvertLevel(Level source, D3DFORMAT format, Level& out);
// Rescales a level (triangle filter); the format is kept.
bool ResizeLevel(const Level& source, UINT width, UINT height, Level& out);
// The next mip level: each texel the average of a 2 x 2 block (1 x 2 or 2 x 1 at odd edges).
Level BoxFilterHalf(const Level& source);
// The same for byte-channel texels held elsewhere (a texture's own level), read in place.
Level BoxFilterHalf(D3DFORMAT format, UINT width, UINT height, const BYTE* bytes);
// Makes texels equal to colorKey (A8R8G8B8) transparent black.
bool ApplyColorKey(Level& level, D3DCOLOR colorKey);

UINT NextPowerOfTwo(UINT value);

} // namespace fw::d3dx9
