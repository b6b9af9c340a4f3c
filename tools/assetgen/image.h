// In-memory images and the encoders for the file formats the program reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace assetgen {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

// Top row first, tightly packed.
struct RgbImage {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;

    RgbImage() = default;
    RgbImage(int w, int h, Rgb fill = {}) : width(w), height(h), pixels(size_t(w) * h, fill) {}
    Rgb& at(int x, int y) { return pixels[size_t(y) * width + x]; }
    const Rgb& at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

struct GreyImage {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;

    GreyImage() = default;
    GreyImage(int w, int h) : width(w), height(h), pixels(size_t(w) * h, 0) {}
    uint8_t& at(int x, int y) { return pixels[size_t(y) * width + x]; }
    uint8_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

uint8_t toByte(float v); // [0, 1] -> [0, 255], rounded and clamped
Rgb rgbFromFloats(float r, float g, float b);

// Uncompressed 24-bit Windows bitmap (BITMAPINFOHEADER, bottom-up rows padded to 4 bytes).
std::vector<uint8_t> encodeBmp(const RgbImage& image);

// 8-bit greyscale PNG.
std::vector<uint8_t> encodePngGrey(const GreyImage& image);

// Writes through a temporary file renamed into place, so a reader (or a second generator run)
// never sees a half-written file. Reports failures on standard error and returns false.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool writeFile(const std::string& path, const std::string& text);

} // namespace assetgen
