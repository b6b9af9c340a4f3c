// The program's two icon groups (resources 107 and 108) as pixels: one drawing shared by the
// Linux layer's resource table and the generator of the Windows build's .ico files
// (tools/icongen). Plain data, no library.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace fw::icon_art {

struct Image {
    int size = 0;                  // width = height
    int bitsPerPixel = 0;          // 4, 8 or 32
    std::vector<uint32_t> palette; // 0xAARRGGBB, for 4 and 8 bits per pixel
    std::vector<uint8_t> indices;  // one palette index per pixel, rows top first (4 and 8 bits)
    std::vector<uint32_t> argb;    // one 0xAARRGGBB per pixel, rows top first (32 bits)
};

// A dark tile with a light figure standing on a green ground band. Which region a point in
// 0..1 falls into: 0 background, 1 ground, 2 figure.
inline int Region(float u, float v) {
    bool head = (u - 0.5f) * (u - 0.5f) + (v - 0.22f) * (v - 0.22f) < 0.012f;
    bool body = u > 0.4f && u < 0.6f && v > 0.3f && v < 0.62f;
    bool legs = v >= 0.62f && v < 0.8f && ((u > 0.41f && u < 0.48f) || (u > 0.52f && u < 0.59f));
    if (head || body || legs)
        return 2;
    return v >= 0.8f ? 1 : 0;
}

constexpr uint32_t kBackground = 0xFF202838;
constexpr uint32_t kGround = 0xFF3C8C3C;
constexpr uint32_t kFigure = 0xFFE0E0E8;

inline Image DrawImage(int size, int bitsPerPixel, bool smallIcon) {
    Image image;
    image.size = size;
    image.bitsPerPixel = bitsPerPixel;
    // The small icon swaps figure and ground colours so the two groups differ.
    uint32_t colours[3] = {kBackground, smallIcon ? kFigure : kGround,
                           smallIcon ? kGround : kFigure};
    if (bitsPerPixel < 32)
        image.palette.assign(colours, colours + 3);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            int region = Region((x + 0.5f) / size, (y + 0.5f) / size);
            if (bitsPerPixel < 32) {
                image.indices.push_back((uint8_t)region);
                continue;
            }
            // The 32-bit images have rounded, transparent corners.
            float dx = std::max(0.0f, std::abs(x + 0.5f - size / 2.0f) - size * 0.38f);
            float dy = std::max(0.0f, std::abs(y + 0.5f - size / 2.0f) - size * 0.38f);
            bool outside = dx * dx + dy * dy > (size * 0.12f) * (size * 0.12f);
            image.argb.push_back(outside ? 0x00000000u : colours[region]);
        }
    }
    return image;
}

// The images of group 107 (smallIcon false) or 108 (true), in resource order.
inline std::vector<Image> DrawGroup(bool smallIcon) {
    std::vector<Image> images;
    const int layout[][2] = {{32, 4}, {16, 4},  {48, 8},  {32, 8},
                             {16, 8}, {48, 32}, {32, 32}, {16, 32}};
    for (const auto& [size, bits] : layout)
        images.push_back(DrawImage(size, bits, smallIcon));
    return images;
}

} // namespace fw::icon_art
