// DXT1 (BC1) compression and the DDS container with a full mip chain.
#pragma once

#include "image.h"

#include <array>
#include <cstdint>
#include <vector>

namespace assetgen {

// One 4 x 4 block, texel (x, y) at index 4y + x.
using ColorBlock = std::array<Rgb, 16>;

// Encodes an opaque block in four-colour mode (first endpoint above the second), so no texel
// decodes as transparent. Endpoints come from the block's principal colour axis and are then
// refined by a least-squares fit to the chosen indices.
std::array<uint8_t, 8> encodeDxt1Block(const ColorBlock& block);

// Decodes a block the way the usual hardware does (bit replication, thirds rounded).
ColorBlock decodeDxt1Block(const uint8_t* block);

// Half-size image by 2 x 2 averaging (dimensions not below 1).
RgbImage halveImage(const RgbImage& image);

// A DDS file holding the image and every smaller mip level down to 1 x 1, DXT1 compressed.
// Width and height must be powers of two.
std::vector<uint8_t> encodeDdsDxt1(const RgbImage& image);

} // namespace assetgen
