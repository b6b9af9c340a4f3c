// The image encoders, checked by decoding their output with an independent reader (stb) and,
// for DXT1, with the block decoder that mirrors the hardware.
#include "dxt.h"
#include "image.h"

#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#include <cmath>
#include <cstring>

using namespace assetgen;

namespace {

uint32_t read32(const std::vector<uint8_t>& bytes, size_t offset) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + offset, 4);
    return v;
}

RgbImage patterned(int w, int h) {
    RgbImage image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.at(x, y) = {uint8_t(x * 40 + y), uint8_t(y * 50 + 7),
                              uint8_t((x * y * 13) & 255)};
    return image;
}

double blockError(const ColorBlock& a, const ColorBlock& b) {
    double sum = 0;
    for (int i = 0; i < 16; ++i) {
        sum += (a[i].r - b[i].r) * (a[i].r - b[i].r) + (a[i].g - b[i].g) * (a[i].g - b[i].g) +
               (a[i].b - b[i].b) * (a[i].b - b[i].b);
    }
    return std::sqrt(sum / 48.0);
}

} // namespace

TEST(Bmp, OddWidthImageDecodesToTheSamePixelsTopRowFirst) {
    // Width 5: each 15-byte row needs one byte of padding, a classic source of skewed images.
    RgbImage image = patterned(5, 3);
    std::vector<uint8_t> bytes = encodeBmp(image);
    EXPECT_EQ(bytes.size(), 54u + 16u * 3u);
    EXPECT_EQ(read32(bytes, 2), bytes.size());

    int w = 0, h = 0, channels = 0;
    uint8_t* pixels = stbi_load_from_memory(bytes.data(), int(bytes.size()), &w, &h, &channels, 3);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const uint8_t* p = pixels + (y * 5 + x) * 3;
            EXPECT_EQ(p[0], image.at(x, y).r);
            EXPECT_EQ(p[1], image.at(x, y).g);
            EXPECT_EQ(p[2], image.at(x, y).b);
        }
    stbi_image_free(pixels);
}

TEST(Png, GreyImageDecodesAsOneChannelWithTheSameValues) {
    GreyImage image(7, 4);
    for (size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = uint8_t(i * 9);
    std::vector<uint8_t> bytes = encodePngGrey(image);
    int w = 0, h = 0, channels = 0;
    uint8_t* pixels = stbi_load_from_memory(bytes.data(), int(bytes.size()), &w, &h, &channels, 0);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 4);
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(std::memcmp(pixels, image.pixels.data(), image.pixels.size()), 0);
    stbi_image_free(pixels);
}

TEST(Dxt1, FlatBlocksStayOpaqueAndKeepTheirColour) {
    // Equal endpoints would select the three-colour mode, where index 3 is transparent black.
    for (Rgb c : {Rgb{0, 0, 0}, Rgb{255, 255, 255}, Rgb{128, 128, 128}, Rgb{10, 200, 77}}) {
        ColorBlock block;
        block.fill(c);
        auto bytes = encodeDxt1Block(block);
        uint16_t c0 = uint16_t(bytes[0] | bytes[1] << 8), c1 = uint16_t(bytes[2] | bytes[3] << 8);
        EXPECT_GT(c0, c1) << "four-colour mode expected";
        ColorBlock decoded = decodeDxt1Block(bytes.data());
        for (const Rgb& d : decoded) {
            EXPECT_NEAR(d.r, c.r, 4);
            EXPECT_NEAR(d.g, c.g, 2);
            EXPECT_NEAR(d.b, c.b, 4);
        }
    }
}

// The plain approach: the block's per-channel minimum and maximum as endpoints.
ColorBlock boundingBoxEncoding(const ColorBlock& block) {
    Rgb lo{255, 255, 255}, hi{0, 0, 0};
    for (const Rgb& c : block) {
        lo = {std::min(lo.r, c.r), std::min(lo.g, c.g), std::min(lo.b, c.b)};
        hi = {std::max(hi.r, c.r), std::max(hi.g, c.g), std::max(hi.b, c.b)};
    }
    auto pack = [](Rgb c) { return uint16_t((c.r >> 3) << 11 | (c.g >> 2) << 5 | (c.b >> 3)); };
    uint16_t c0 = pack(hi), c1 = pack(lo);
    uint8_t bytes[8] = {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8), 0, 0, 0, 0};
    ColorBlock palette = decodeDxt1Block(bytes);
    for (int k = 1; k < 4; ++k) { // all four palette entries through the index field
        uint8_t withIndex[8] = {bytes[0], bytes[1], bytes[2], bytes[3], uint8_t(k), 0, 0, 0};
        palette[k] = decodeDxt1Block(withIndex)[0];
    }
    ColorBlock out;
    for (int i = 0; i < 16; ++i) {
        auto distance = [&](int k) {
            return std::abs(palette[k].r - block[i].r) + std::abs(palette[k].g - block[i].g) +
                   std::abs(palette[k].b - block[i].b);
        };
        int best = 0;
        for (int k = 1; k < 4; ++k)
            if (distance(k) < distance(best))
                best = k;
        out[i] = palette[best];
    }
    return out;
}

TEST(Dxt1, FitBeatsBoundingBoxEndpointsAndKeepsGradientsClose) {
    ColorBlock gradient, twoTone, noisy, diagonal;
    for (int i = 0; i < 16; ++i) {
        gradient[i] = {uint8_t(40 + i * 10), uint8_t(90 + i * 6), uint8_t(200 - i * 8)};
        twoTone[i] = (i % 3 == 0) ? Rgb{220, 120, 30} : Rgb{40, 40, 46};
        noisy[i] = {uint8_t((i * 97) % 256), uint8_t((i * 53 + 40) % 256), uint8_t((i * 31) % 256)};
        // Colours along an axis that runs against one channel: min/max endpoints miss it.
        diagonal[i] = {uint8_t(30 + i * 12), uint8_t(220 - i * 12), uint8_t(120)};
    }
    // Sixteen steps of a ramp on four palette entries: about a sixth of the range is unavoidable.
    EXPECT_LT(blockError(gradient, decodeDxt1Block(encodeDxt1Block(gradient).data())), 12.0);
    EXPECT_LT(blockError(twoTone, decodeDxt1Block(encodeDxt1Block(twoTone).data())), 4.0);
    for (const ColorBlock* block : {&gradient, &twoTone, &noisy, &diagonal}) {
        double fitted = blockError(*block, decodeDxt1Block(encodeDxt1Block(*block).data()));
        EXPECT_LE(fitted, blockError(*block, boundingBoxEncoding(*block)) + 0.5);
    }
    EXPECT_LT(blockError(diagonal, decodeDxt1Block(encodeDxt1Block(diagonal).data())),
              0.5 * blockError(diagonal, boundingBoxEncoding(diagonal)));
}

TEST(Dds, FileHoldsHeaderAndEveryMipLevelDownToOneTexel) {
    RgbImage image = patterned(16, 8);
    std::vector<uint8_t> bytes = encodeDdsDxt1(image);
    ASSERT_GE(bytes.size(), 128u);
    EXPECT_EQ(std::memcmp(bytes.data(), "DDS ", 4), 0);
    EXPECT_EQ(read32(bytes, 4), 124u);
    EXPECT_EQ(read32(bytes, 12), 8u);  // height
    EXPECT_EQ(read32(bytes, 16), 16u); // width
    EXPECT_EQ(read32(bytes, 20), 64u); // top level: 4 x 2 blocks of 8 bytes
    EXPECT_EQ(read32(bytes, 28), 5u);  // 16x8, 8x4, 4x2, 2x1, 1x1
    EXPECT_TRUE(read32(bytes, 8) & 0x20000u) << "mip count flag";
    EXPECT_EQ(read32(bytes, 76), 32u);
    EXPECT_EQ(read32(bytes, 80), 0x4u);
    EXPECT_EQ(std::memcmp(bytes.data() + 84, "DXT1", 4), 0);
    EXPECT_TRUE(read32(bytes, 108) & 0x400000u) << "mipmap cap";
    // 8 blocks, then 2, then one block for each level under 4 x 4.
    EXPECT_EQ(bytes.size(), 128u + (8 + 2 + 1 + 1 + 1) * 8u);
}

TEST(Dds, SmallerLevelsAreAveragesOfTheLevelAbove) {
    RgbImage image(8, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            image.at(x, y) = x < 4 ? Rgb{200, 40, 40} : Rgb{40, 40, 200};
    std::vector<uint8_t> bytes = encodeDdsDxt1(image);
    // Level 2 (2 x 2, one block) follows level 0 (4 blocks) and level 1 (1 block).
    ColorBlock level2 = decodeDxt1Block(bytes.data() + 128 + 5 * 8);
    EXPECT_NEAR(level2[0].r, 200, 6);
    EXPECT_NEAR(level2[1].b, 200, 6);
    // The last level is the mean of everything: halfway between red and blue.
    ColorBlock level3 = decodeDxt1Block(bytes.data() + 128 + 6 * 8);
    EXPECT_NEAR(level3[0].r, 120, 6);
    EXPECT_NEAR(level3[0].b, 120, 6);
}

TEST(Dds, HalvingHandlesOddAndSingleTexelSides) {
    RgbImage column(1, 4);
    column.at(0, 0) = {0, 0, 0};
    column.at(0, 1) = {100, 100, 100};
    column.at(0, 2) = {200, 200, 200};
    column.at(0, 3) = {200, 200, 200};
    RgbImage half = halveImage(column);
    ASSERT_EQ(half.width, 1);
    ASSERT_EQ(half.height, 2);
    EXPECT_EQ(half.at(0, 0).r, 50);
    EXPECT_EQ(half.at(0, 1).r, 200);
}
