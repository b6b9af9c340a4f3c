// The hero's textures.
#pragma once

#include "image.h"

namespace assetgen {

// Armour panels, seams, rivets and accents laid out as atlas.h describes.
RgbImage makeBodyTexture();

// Soft highlight for sphere mapping: neutral grey (so a 2 x source x destination blend leaves
// the surface as it is) with a bright spot up and to the left and a darker rim.
RgbImage makeHighlightTexture();

// Loud pattern on the bounding box, which must never be seen.
RgbImage makeBoundTexture();

} // namespace assetgen
