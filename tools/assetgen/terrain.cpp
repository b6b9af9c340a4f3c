#include "terrain.h"

#include "hero.h"
#include "noise.h"
#include "xmath.h"

#include <algorithm>
#include <cmath>

namespace assetgen {

namespace {

// Heights are stretched over texel values 3 .. 253: most of the range, none clipped.
constexpr float kLowestValue = 3.0f, kHighestValue = 253.0f;

struct Colour {
    float r, g, b;
};

Colour mixc(Colour a, Colour b, float t) {
    t = clamp01(t);
    return {mix(a.r, b.r, t), mix(a.g, b.g, t), mix(a.b, b.b, t)};
}

} // namespace

TerrainShape::TerrainShape() : heightmapRaw_(size_t(kHeightmapSize) * kHeightmapSize) {
    low_ = 1e30f;
    high_ = -1e30f;
    for (int j = 0; j < kHeightmapSize; ++j)
        for (int i = 0; i < kHeightmapSize; ++i) {
            float h = raw(heightmapTexelToWorld(float(i)), heightmapTexelToWorld(float(j)));
            heightmapRaw_[size_t(j) * kHeightmapSize + i] = h;
            low_ = std::min(low_, h);
            high_ = std::max(high_, h);
        }
}

float TerrainShape::heightmapHeight(int i, int j) const {
    return stretch(heightmapRaw_[size_t(j) * kHeightmapSize + i]);
}

float TerrainShape::heightmapTexelToWorld(float texel) {
    const float cells = kHeightmapSize / 16 - 1;
    return (texel - 7.5f) / 16.0f * (kTerrainSize / cells) - kTerrainSize * 0.5f;
}

float TerrainShape::raw(float x, float z) const {
    const float r = std::hypot(x, z);
    // Rolling hills, rising into ridged mountains towards the edges.
    float hills = fbm(x / 620.0f + 13.7f, z / 620.0f + 5.3f, 11, 6);
    float ridge = 1 - std::fabs(fbm(x / 950.0f + 3.1f, z / 950.0f - 7.7f, 23, 5));
    ridge *= ridge;
    float edge = smoothstep(550.0f, 1400.0f, r);
    float h = 62 + 60 * hills + edge * (150 * ridge + 40 * hills);

    // A gentle, slightly tilted floor where the hero stands.
    float floorHeight = 50 + 0.010f * x + 0.004f * z;
    h = mix(h, floorHeight, 1 - smoothstep(130.0f, 520.0f, r));

    // A shallow valley from the hero towards -z, where the camera starts, keeps the first view
    // open: the ground there stays below the hero's feet.
    float corridor = (1 - smoothstep(110.0f, 320.0f, std::fabs(x))) *
                     smoothstep(-40.0f, -220.0f, z) * (1 - smoothstep(-700.0f, -1000.0f, z));
    float valley = floorHeight - 3 - 0.02f * std::max(0.0f, -z - 100);
    h = mix(h, std::min(h, valley), corridor);

    // A knoll whose flank reaches into the camera's orbit, so the ground pushes the camera in
    // on that side.
    float dx = x - 240, dz = z - 225;
    float along = (dx * 0.87f - dz * 0.5f) / 120.0f, across = (dx * 0.5f + dz * 0.87f) / 80.0f;
    float knoll = std::exp(-0.5f * (along * along + across * across));
    h += 50 * knoll * (0.85f + 0.3f * fbm(x / 90.0f, z / 90.0f, 61, 3));
    return h;
}

float TerrainShape::stretch(float rawHeight) const {
    float t = (rawHeight - low_) / (high_ - low_);
    return (kLowestValue + t * (kHighestValue - kLowestValue)) * (kTerrainHeightScale / 255.0f);
}

float TerrainShape::height(float x, float z) const {
    return stretch(raw(x, z));
}

GreyImage makeHeightmap(const TerrainShape& shape) {
    GreyImage image(kHeightmapSize, kHeightmapSize);
    for (int j = 0; j < kHeightmapSize; ++j)
        for (int i = 0; i < kHeightmapSize; ++i)
            image.at(i, j) = toByte(shape.heightmapHeight(i, j) / kTerrainHeightScale);
    return image;
}

RgbImage makeTerrainTexture(const TerrainShape& shape) {
    const Colour grassA{0.29f, 0.44f, 0.16f}, grassB{0.40f, 0.51f, 0.21f};
    const Colour dry{0.55f, 0.52f, 0.31f}, earth{0.45f, 0.35f, 0.23f};
    const Colour rock{0.50f, 0.48f, 0.45f}, rockDark{0.34f, 0.33f, 0.32f};
    const Colour snow{0.93f, 0.95f, 0.98f};
    // Heights at every texel centre plus a border ring, for the slope by central differences.
    const int n = kTerrainTextureSize;
    const float spacing = kTerrainSize / n;
    auto worldOf = [&](int texel) { return ((texel + 0.5f) / n - 0.5f) * kTerrainSize; };
    std::vector<float> grid(size_t(n + 2) * (n + 2));
    for (int j = -1; j <= n; ++j)
        for (int i = -1; i <= n; ++i)
            grid[size_t(j + 1) * (n + 2) + (i + 1)] = shape.height(worldOf(i), worldOf(j));
    auto heightAt = [&](int i, int j) { return grid[size_t(j + 1) * (n + 2) + (i + 1)]; };

    RgbImage image(n, n);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            // Texture coordinates run over the terrain once, v = 0 at z = -size/2.
            float x = worldOf(i), z = worldOf(j);
            float h = heightAt(i, j);
            float dhdx = (heightAt(i + 1, j) - heightAt(i - 1, j)) / (2 * spacing);
            float dhdz = (heightAt(i, j + 1) - heightAt(i, j - 1)) / (2 * spacing);
            float slope = std::hypot(dhdx, dhdz);
            float large = fbm(x / 180.0f, z / 180.0f, 31, 4);
            float small = fbm(x / 22.0f, z / 22.0f, 37, 3);

            Colour c = mixc(grassA, grassB, 0.5f + 0.8f * large + 0.35f * small);
            c = mixc(c, dry, 0.75f * smoothstep(100.0f, 145.0f, h + 20 * large));
            float earthy = smoothstep(0.22f, 0.42f, slope + 0.12f * small) +
                           0.7f * smoothstep(0.25f, 0.55f, large + 0.3f * small);
            c = mixc(c, earth, earthy);
            float rocky = smoothstep(0.42f, 0.7f, slope + 0.1f * small) +
                          0.5f * smoothstep(160.0f, 180.0f, h + 10 * small);
            c = mixc(c, mixc(rock, rockDark, 0.5f + 0.7f * small), rocky);
            float snowy =
                smoothstep(172.0f, 186.0f, h + 10 * small) * (1 - smoothstep(0.6f, 1.0f, slope));
            c = mixc(c, snow, snowy);
            // Trodden ground where the hero stands.
            float trodden = 1 - smoothstep(12.0f, 30.0f, std::hypot(x, z) + 6 * small);
            c = mixc(c, earth, 0.75f * trodden);

            Vec3 normal = normalize({-dhdx, 1, -dhdz});
            float shade =
                0.35f + 0.65f * std::max(0.0f, dot(normal, kLightDirection)) / kLightDirection.y;
            shade *= 0.96f + 0.08f * hashUnit(i, j, 41);
            image.at(i, j) = rgbFromFloats(c.r * shade, c.g * shade, c.b * shade);
        }
    return image;
}

RgbImage makeDetailTexture() {
    const int size = kDetailTextureSize;
    RgbImage image(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            // Integer lattice periods across the image, so the repeat has no seam. Clumps a
            // few texels wide, a finer grain inside them and single grains: ground seen close.
            float clumps = fbm(x * 16.0f / size, y * 16.0f / size, 51, 3, 0.5f, 16);
            float grain = fbm(x * 64.0f / size, y * 64.0f / size, 53, 2, 0.5f, 64);
            float grains = hashUnit(x, y, 57) - 0.5f;
            float value = 0.82f + 0.22f * clumps + 0.15f * grain + 0.13f * grains;
            // A faint warm or cool cast that follows the clumps, as soil and dry grass do.
            float cast = 0.04f * fbm(x * 8.0f / size, y * 8.0f / size, 59, 2, 0.5f, 8);
            image.at(x, y) = {toByte(value * (1.0f + cast)), toByte(value),
                              toByte(value * (1.0f - cast))};
        }
    return image;
}

} // namespace assetgen
