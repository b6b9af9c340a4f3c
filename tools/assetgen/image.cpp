#include "image.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace assetgen {

uint8_t toByte(float v) {
    if (!(v > 0))
        return 0;
    if (v >= 1)
        return 255;
    return static_cast<uint8_t>(std::lround(v * 255.0f));
}

Rgb rgbFromFloats(float r, float g, float b) {
    return {toByte(r), toByte(g), toByte(b)};
}

static void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

static void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::vector<uint8_t> encodeBmp(const RgbImage& image) {
    const uint32_t rowBytes = (uint32_t(image.width) * 3 + 3) & ~3u;
    const uint32_t dataBytes = rowBytes * uint32_t(image.height);
    const uint32_t headerBytes = 14 + 40;
    std::vector<uint8_t> out;
    out.reserve(headerBytes + dataBytes);
    // BITMAPFILEHEADER
    out.push_back('B');
    out.push_back('M');
    put32(out, headerBytes + dataBytes);
    put32(out, 0);
    put32(out, headerBytes);
    // BITMAPINFOHEADER: positive height means bottom-up rows.
    put32(out, 40);
    put32(out, uint32_t(image.width));
    put32(out, uint32_t(image.height));
    put16(out, 1);  // planes
    put16(out, 24); // bits per pixel
    put32(out, 0);  // BI_RGB
    put32(out, dataBytes);
    put32(out, 2835); // 72 dpi
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (int y = image.height - 1; y >= 0; --y) {
        size_t rowStart = out.size();
        for (int x = 0; x < image.width; ++x) {
            const Rgb& p = image.at(x, y);
            out.push_back(p.b);
            out.push_back(p.g);
            out.push_back(p.r);
        }
        out.resize(rowStart + rowBytes, 0);
    }
    return out;
}

static void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    auto* bytes = static_cast<uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

std::vector<uint8_t> encodePngGrey(const GreyImage& image) {
    std::vector<uint8_t> out;
    stbi_write_png_to_func(appendBytes, &out, image.width, image.height, 1, image.pixels.data(),
                           image.width);
    return out;
}

static bool writeBytes(const std::string& path, const void* data, size_t size) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target(path);
    if (target.has_parent_path())
        fs::create_directories(target.parent_path(), ec);
    if (ec) {
        std::fprintf(stderr, "assetgen: cannot create folder %s: %s\n",
                     target.parent_path().c_str(), ec.message().c_str());
        return false;
    }
    std::string temporary = path + ".tmp" + std::to_string(::getpid());
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "assetgen: cannot write %s: %s\n", temporary.c_str(),
                     std::strerror(errno));
        return false;
    }
    bool ok = std::fwrite(data, 1, size, file) == size;
    ok = (std::fclose(file) == 0) && ok;
    if (ok)
        fs::rename(temporary, target, ec);
    if (!ok || ec) {
        std::fprintf(stderr, "assetgen: cannot write %s\n", path.c_str());
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    return writeBytes(path, bytes.data(), bytes.size());
}

bool writeFile(const std::string& path, const std::string& text) {
    return writeBytes(path, text.data(), text.size());
}

} // namespace assetgen
