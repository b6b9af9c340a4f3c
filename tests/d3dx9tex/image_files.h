// Test images written on the spot: PNG, BMP, TGA, JPEG through stb_image_write, DDS by hand.
#pragma once

#include "platform/d3d9.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace textest {

// A scratch folder removed at the end of the test program.
std::filesystem::path ScratchDir();

// channels: 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA; pixels rows top first.
std::string WritePng(const std::string& name, int w, int h, int channels,
                     const std::vector<uint8_t>& pixels);
std::string WriteBmp(const std::string& name, int w, int h, int channels,
                     const std::vector<uint8_t>& pixels);
std::string WriteTga(const std::string& name, int w, int h, int channels,
                     const std::vector<uint8_t>& pixels);
std::string WriteJpg(const std::string& name, int w, int h, int channels,
                     const std::vector<uint8_t>& pixels);
std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

// A DDS file: header for format (FourCC or masks) and the given level data.
struct DdsLayout {
    D3DFORMAT format = D3DFMT_A8R8G8B8;
    uint32_t width = 4, height = 4, mipCount = 1;
    uint32_t caps2 = 0;
    uint32_t flags = 0x1007; // caps, height, width, pixel format
    uint32_t depth = 0;
};
std::vector<uint8_t> DdsBytes(const DdsLayout& layout,
                              const std::vector<std::vector<uint8_t>>& levels);

// Deterministic pseudo-random bytes.
std::vector<uint8_t> Noise(size_t count, uint32_t seed);

} // namespace textest
