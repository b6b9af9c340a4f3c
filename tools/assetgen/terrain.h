// The terrain images: heightmap, colour texture and detail texture.
#pragma once

#include "image.h"

#include <vector>

namespace assetgen {

// The program spreads the heightmap over a square of this many world units and maps 255 to this
// height; the generator places its features in the same world units.
inline constexpr float kTerrainSize = 3000.0f;
inline constexpr float kTerrainHeightScale = 200.0f;
inline constexpr int kHeightmapSize = 1024;
inline constexpr int kTerrainTextureSize = 1024;
inline constexpr int kDetailTextureSize = 256;

// Height field in world units before it is stretched over 0..255.
class TerrainShape {
public:
    TerrainShape();

    // World height (0 .. kTerrainHeightScale) at a world point.
    float height(float x, float z) const;

    // World height at heightmap texel (i, j), computed once by the constructor.
    float heightmapHeight(int i, int j) const;

    // World x (or z) of a heightmap texel centre. The program builds its grid from mip level 4,
    // whose texel k averages level-0 texels 16k .. 16k + 15 and lies at grid point k.
    static float heightmapTexelToWorld(float texel);

private:
    float raw(float x, float z) const;
    float stretch(float rawHeight) const;

    std::vector<float> heightmapRaw_; // raw heights at the heightmap texels, row by row
    float low_ = 0, high_ = 1;
};

GreyImage makeHeightmap(const TerrainShape& shape);

// Grass, earth, rock and snow by height and slope, with baked hill shading.
RgbImage makeTerrainTexture(const TerrainShape& shape);

// Tileable near-white grey noise (mean about 0.9).
RgbImage makeDetailTexture();

} // namespace assetgen
