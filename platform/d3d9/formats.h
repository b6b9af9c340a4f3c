// Texel formats: sizes of levels and rows, how each format goes to GL, and decoding to RGBA8
// (for DXT fallbacks, tests and the texture loader's filters).
#pragma once

#include "platform/d3d9.h"

#include <cstddef>
#include <cstdint>

namespace fw::d3d9 {

struct FormatInfo {
    bool known = false;      // a texture format this layer creates
    bool compressed = false; // 4 x 4 blocks
    UINT bytes = 0;          // bytes per texel, or per block when compressed
    UINT glInternal = 0;     // GL internal format (the compressed format for DXT)
    UINT glFormat = 0;       // GL pixel transfer format and type (0 when compressed)
    UINT glType = 0;
};
FormatInfo DescribeFormat(D3DFORMAT format);

// Pitch of packed rows, the number of rows (of blocks when compressed) and a level's bytes.
UINT RowPitch(D3DFORMAT format, UINT width);
UINT RowCount(D3DFORMAT format, UINT height);
size_t LevelBytes(D3DFORMAT format, UINT width, UINT height);
// Levels of a full chain down to 1 x 1.
UINT FullChainLength(UINT width, UINT height);

// Decodes width x height texels of format (rows pitch bytes apart) into RGBA8 rows, as a
// D3D9 sampler would see them (X8R8G8B8 alpha 255, L8 grey with alpha 255, A8 black with
// its alpha). Returns false for a format it cannot read.
bool DecodeToRgba(D3DFORMAT format, const BYTE* src, UINT pitch, UINT width, UINT height,
                  uint8_t* rgba);
// Encodes RGBA8 rows into format (packed rows); DXT formats are compressed block by block.
bool EncodeFromRgba(D3DFORMAT format, const uint8_t* rgba, UINT width, UINT height, BYTE* dst);

} // namespace fw::d3d9
