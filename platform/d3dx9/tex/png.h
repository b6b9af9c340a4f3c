// PNG decoding (libpng) into a texture loader's source image.
#pragma once

#include "platform/d3dx9/tex/image.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fw::d3dx9 {

// Fills image.info from the header and, unless headerOnly, one level of 8-bit channels: L8,
// A8L8, X8R8G8B8 (three channels) or A8R8G8B8. False with a reason for a damaged file or one
// wider or taller than maxSide.
bool DecodePng(const uint8_t* data, size_t size, bool headerOnly, UINT maxSide, SourceImage& image,
               std::string& error);

} // namespace fw::d3dx9
