// JPEG decoding (libjpeg-turbo) into a texture loader's source image.
#pragma once

#include "platform/d3dx9/tex/image.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fw::d3dx9 {

// Fills image.info from the header and, unless headerOnly, one level: L8 for grey files,
// X8R8G8B8 for colour ones (CMYK included). False with a reason for a damaged or truncated
// file or one wider or taller than maxSide.
bool DecodeJpeg(const uint8_t* data, size_t size, bool headerOnly, UINT maxSide, SourceImage& image,
                std::string& error);

} // namespace fw::d3dx9
