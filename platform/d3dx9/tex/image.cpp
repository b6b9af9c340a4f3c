#include "platform/d3dx9/tex/image.h"

#include "platform/d3d9/formats.h"
#include "platform/d3dx9/tex/dds.h"
#include "platform/d3dx9/tex/jpeg.h"
#include "platform/d3dx9/tex/png.h"

#include <algorithm>
#include <cstring>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS (1 << 24) // ours is lower and checked first, with a clearer message
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#include <stb/stb_image.h>
#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace fw::d3dx9 {

namespace {

D3DXIMAGE_FILEFORMAT ContainerOf(const uint8_t* data, size_t size) {
    static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (size >= 8 && std::memcmp(data, png, 8) == 0)
        return D3DXIFF_PNG;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        return D3DXIFF_BMP;
    if (size >= 2 && data[0] == 0xff && data[1] == 0xd8)
        return D3DXIFF_JPG;
    return D3DXIFF_TGA; // the one container without a signature
}

// The byte-per-channel formats, which filter channel by channel without decoding.
int ByteChannels(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_L8:
    case D3DFMT_A8:
        return 1;
    case D3DFMT_A8L8:
        return 2;
    case D3DFMT_R8G8B8:
        return 3;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
        return 4;
    default:
        return 0;
    }
}

bool ToRgba(const Level& level, std::vector<uint8_t>& rgba) {
    rgba.resize(size_t(level.width) * level.height * 4);
    return d3d9::DecodeToRgba(level.format, level.bytes.data(),
                              d3d9::RowPitch(level.format, level.width), level.width, level.height,
                              rgba.data());
}

bool FromRgba(const std::vector<uint8_t>& rgba, D3DFORMAT format, UINT width, UINT height,
              Level& out) {
    out.format = format;
    out.width = width;
    out.height = height;
    out.bytes.assign(d3d9::LevelBytes(format, width, height), 0);
    return d3d9::EncodeFromRgba(format, rgba.data(), width, height, out.bytes.data());
}

void BoxFilterBytes(const BYTE* src, UINT w, UINT h, int channels, BYTE* dst, UINT nw, UINT nh) {
    for (UINT y = 0; y < nh; ++y) {
        UINT y0 = std::min(2 * y, h - 1), y1 = std::min(2 * y + 1, h - 1);
        for (UINT x = 0; x < nw; ++x) {
            UINT x0 = std::min(2 * x, w - 1), x1 = std::min(2 * x + 1, w - 1);
            for (int c = 0; c < channels; ++c) {
                unsigned sum = src[(size_t(y0) * w + x0) * channels + c] +
                               src[(size_t(y0) * w + x1) * channels + c] +
                               src[(size_t(y1) * w + x0) * channels + c] +
                               src[(size_t(y1) * w + x1) * channels + c];
                dst[(size_t(y) * nw + x) * channels + c] = BYTE((sum + 2) / 4);
            }
        }
    }
}

uint32_t Le16(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}
uint32_t Le32(const uint8_t* p) {
    return Le16(p) | Le16(p + 2) << 16;
}

// stb_image reads zeros past the end of BMP and TGA data, so a cut file would load
// as a picture with a black tail: check the data is all there where the layout tells.
bool CheckComplete(const uint8_t* data, size_t size, D3DXIMAGE_FILEFORMAT container,
                   std::string& error) {
    // Headers themselves first: past their end the decoder would read zeros as sizes.
    if ((container == D3DXIFF_BMP && size < 30) || (container == D3DXIFF_TGA && size < 18)) {
        error = "truncated header";
        return false;
    }
    uint64_t needed = 0;
    if (container == D3DXIFF_BMP) {
        uint32_t headerSize = Le32(data + 14);
        bool core = headerSize == 12;
        uint64_t w = core ? Le16(data + 18) : uint32_t(std::abs(int32_t(Le32(data + 18))));
        uint64_t h = core ? Le16(data + 20) : uint32_t(std::abs(int32_t(Le32(data + 22))));
        uint32_t bpp = core ? Le16(data + 24) : Le16(data + 28);
        uint32_t compression = core || size < 34 ? 0 : Le32(data + 30);
        // Plain rows or bit fields only: the decoder would read any other value as plain
        // rows of zeros past the end.
        if (compression != 0 && compression != 3 && compression != 6) {
            error = "unsupported BMP compression " + std::to_string(compression);
            return false;
        }
        needed = Le32(data + 10) + ((uint64_t(bpp) * w + 31) / 32) * 4 * h;
    } else if (container == D3DXIFF_TGA) {
        uint32_t type = data[2];
        uint64_t palette = data[1] == 1 ? uint64_t(Le16(data + 5)) * ((data[7] + 7) / 8) : 0;
        uint64_t pixels = uint64_t(Le16(data + 12)) * Le16(data + 14), bytes = (data[16] + 7) / 8;
        if (type >= 1 && type <= 3)
            needed = 18 + data[0] + palette + pixels * bytes;
        // Run-length data holds at most 128 pixels a packet, each packet a count byte and a
        // pixel at least: a tiny file cannot make a huge image.
        if (type >= 9 && type <= 11)
            needed = 18 + data[0] + palette + (pixels + 127) / 128 * (1 + bytes);
    }
    if (needed > size) {
        error = "truncated data: " + std::to_string(needed) + " bytes needed, " +
                std::to_string(size) + " present";
        return false;
    }
    return true;
}

// The common BMP, uncompressed 24-bit rows, read directly into B, G, R, 255 texels; false
// (and nothing filled) for any other kind, which stb_image reads. Sizes are checked against
// the file before anything is allocated.
bool DecodePlainBmp(const uint8_t* data, size_t size, bool headerOnly, SourceImage& image) {
    if (size < 54 || data[0] != 'B' || data[1] != 'M' || Le32(data + 14) < 40 ||
        Le16(data + 26) != 1 || Le16(data + 28) != 24 || Le32(data + 30) != 0)
        return false;
    int32_t width = int32_t(Le32(data + 18)), height = int32_t(Le32(data + 22));
    UINT rows = UINT(height < 0 ? -int64_t(height) : height);
    if (width <= 0 || rows == 0 || UINT(width) > kMaxImageSide || rows > kMaxImageSide)
        return false;
    size_t stride = (size_t(width) * 3 + 3) & ~size_t(3), offset = Le32(data + 10);
    if (offset > size || stride * rows > size - offset)
        return false;
    image.info = {UINT(width), rows, 1, 1, D3DFMT_R8G8B8, D3DRTYPE_TEXTURE, D3DXIFF_BMP};
    if (headerOnly)
        return true;
    Level level{D3DFMT_X8R8G8B8, UINT(width), rows, std::vector<BYTE>(size_t(width) * rows * 4)};
    for (UINT y = 0; y < rows; ++y) {
        // Rows are stored bottom-up unless the height is negative.
        const uint8_t* in = data + offset + stride * (height < 0 ? y : rows - 1 - y);
        BYTE* out = level.bytes.data() + size_t(y) * width * 4;
        for (int32_t x = 0; x < width; ++x, in += 3, out += 4)
            out[0] = in[0], out[1] = in[1], out[2] = in[2], out[3] = 255;
    }
    image.levels.push_back(std::move(level));
    return true;
}

bool DecodeDds(const uint8_t* data, size_t size, bool headerOnly, SourceImage& image,
               std::string& error) {
    DdsImage dds;
    UINT levelCount = 0;
    if (!ParseDdsHeader(data, size, dds, levelCount, error))
        return false;
    if (!headerOnly && !ParseDds(data, size, dds, error))
        return false;
    image.info = {dds.width, dds.height, 1, levelCount, dds.format, D3DRTYPE_TEXTURE, D3DXIFF_DDS};
    for (UINT i = 0; i < dds.levels.size(); ++i)
        image.levels.push_back({dds.format, std::max(1u, dds.width >> i),
                                std::max(1u, dds.height >> i), std::move(dds.levels[i])});
    return true;
}

} // namespace

bool FinishDecode(bool read, bool headerOnly, const char* kind, const char* reason,
                  SourceImage& image, std::string& error) {
    if (read) {
        if (headerOnly)
            image.levels.clear();
        return true;
    }
    error = std::strncmp(reason, "unsupported", 11) == 0
                ? std::string(reason)
                : std::string("not a readable ") + kind + " image (" + reason + ")";
    image = {};
    return false;
}

bool IsByteChannelFormat(D3DFORMAT format) {
    return ByteChannels(format) != 0;
}

UINT NextPowerOfTwo(UINT value) {
    UINT power = 1;
    while (power < value && power < (1u << 31))
        power <<= 1;
    return power;
}

D3DFORMAT TextureFormatFor(D3DFORMAT fileFormat) {
    if (fileFormat == D3DFMT_R8G8B8)
        return D3DFMT_X8R8G8B8; // devices do not create 24-bit textures
    return d3d9::DescribeFormat(fileFormat).known ? fileFormat : D3DFMT_A8R8G8B8;
}

bool DecodeImage(const uint8_t* data, size_t size, bool headerOnly, SourceImage& image,
                 std::string& error) {
    image = {};
    if (!data || size == 0) {
        error = "empty file";
        return false;
    }
    if (IsDds(data, size))
        return DecodeDds(data, size, headerOnly, image, error);
    const D3DXIMAGE_FILEFORMAT container = ContainerOf(data, size);
    if (container == D3DXIFF_PNG)
        return DecodePng(data, size, headerOnly, kMaxImageSide, image, error);
    if (container == D3DXIFF_JPG)
        return DecodeJpeg(data, size, headerOnly, kMaxImageSide, image, error);
    if (DecodePlainBmp(data, size, headerOnly, image))
        return true;
    if (size > size_t(INT32_MAX)) {
        error = "file too large";
        return false;
    }
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(data, int(size), &w, &h, &channels)) {
        error = std::string("not a readable image (") + stbi_failure_reason() + ")";
        return false;
    }
    if (w <= 0 || h <= 0 || UINT(w) > kMaxImageSide || UINT(h) > kMaxImageSide) {
        error = "unsupported size " + std::to_string(w) + " x " + std::to_string(h) + ": at most " +
                std::to_string(kMaxImageSide) + " x " + std::to_string(kMaxImageSide);
        return false;
    }
    static const D3DFORMAT kFileFormats[5] = {D3DFMT_UNKNOWN, D3DFMT_L8, D3DFMT_A8L8, D3DFMT_R8G8B8,
                                              D3DFMT_A8R8G8B8};
    image.info = {UINT(w),          UINT(h),  1, 1, kFileFormats[std::clamp(channels, 1, 4)],
                  D3DRTYPE_TEXTURE, container};
    if (headerOnly)
        return true;
    if (!CheckComplete(data, size, container, error))
        return false;

    // Decode as the file's channels; three become four (BGRX) for X8R8G8B8.
    int wanted = channels == 3 ? 4 : std::clamp(channels, 1, 4);
    int gotW = 0, gotH = 0, gotChannels = 0;
    stbi_uc* pixels = stbi_load_from_memory(data, int(size), &gotW, &gotH, &gotChannels, wanted);
    if (!pixels) {
        error = std::string("corrupt image data (") + stbi_failure_reason() + ")";
        return false;
    }
    Level level;
    level.width = UINT(gotW);
    level.height = UINT(gotH);
    size_t count = size_t(gotW) * gotH;
    if (wanted == 4) {
        bool opaque = true;
        for (size_t i = 0; i < count; ++i)
            opaque = opaque && pixels[i * 4 + 3] == 255;
        // A 32-bit BMP's fourth byte is padding unless some pixel uses it.
        if (channels == 4 && container == D3DXIFF_BMP && opaque)
            image.info.Format = D3DFMT_X8R8G8B8;
        level.format = channels == 3 || image.info.Format == D3DFMT_X8R8G8B8 ? D3DFMT_X8R8G8B8
                                                                             : D3DFMT_A8R8G8B8;
        level.bytes.resize(count * 4);
        for (size_t i = 0; i < count; ++i) {
            const stbi_uc* p = pixels + i * 4;
            BYTE* q = level.bytes.data() + i * 4;
            q[0] = p[2], q[1] = p[1], q[2] = p[0];
            q[3] = level.format == D3DFMT_X8R8G8B8 ? 255 : p[3];
        }
    } else {
        level.format = wanted == 1 ? D3DFMT_L8 : D3DFMT_A8L8;
        level.bytes.assign(pixels, pixels + count * size_t(wanted));
    }
    stbi_image_free(pixels);
    image.levels.push_back(std::move(level));
    return true;
}

bool ConvertLevel(Level source, D3DFORMAT format, Level& out) {
    if (source.format == format) {
        out = std::move(source);
        return true;
    }
    std::vector<uint8_t> rgba;
    return ToRgba(source, rgba) && FromRgba(rgba, format, source.width, source.height, out);
}

bool ResizeLevel(const Level& source, UINT width, UINT height, Level& out) {
    if (source.width == width && source.height == height) {
        out = source;
        return true;
    }
    int channels = ByteChannels(source.format);
    const BYTE* input = source.bytes.data();
    std::vector<uint8_t> rgba;
    if (!channels) {
        if (!ToRgba(source, rgba))
            return false;
        input = rgba.data();
        channels = 4;
    }
    std::vector<uint8_t> resized(size_t(width) * height * channels);
    int ok = stbir_resize_uint8_generic(
        input, int(source.width), int(source.height), int(source.width) * channels, resized.data(),
        int(width), int(height), int(width) * channels, channels, STBIR_ALPHA_CHANNEL_NONE, 0,
        STBIR_EDGE_CLAMP, STBIR_FILTER_TRIANGLE, STBIR_COLORSPACE_LINEAR, nullptr);
    if (!ok)
        return false;
    if (ByteChannels(source.format)) {
        out = {source.format, width, height, std::move(resized)};
        return true;
    }
    return FromRgba(resized, source.format, width, height, out);
}

Level BoxFilterHalf(D3DFORMAT format, UINT width, UINT height, const BYTE* bytes) {
    UINT nw = std::max(1u, width / 2), nh = std::max(1u, height / 2);
    int channels = ByteChannels(format);
    Level out{format, nw, nh, std::vector<BYTE>(size_t(nw) * nh * channels)};
    BoxFilterBytes(bytes, width, height, channels, out.bytes.data(), nw, nh);
    return out;
}

Level BoxFilterHalf(const Level& source) {
    if (ByteChannels(source.format))
        return BoxFilterHalf(source.format, source.width, source.height, source.bytes.data());
    UINT nw = std::max(1u, source.width / 2), nh = std::max(1u, source.height / 2);
    Level out{source.format, nw, nh, {}};
    std::vector<uint8_t> rgba, half(size_t(nw) * nh * 4);
    if (!ToRgba(source, rgba))
        return out;
    BoxFilterBytes(rgba.data(), source.width, source.height, 4, half.data(), nw, nh);
    FromRgba(half, source.format, nw, nh, out);
    return out;
}

bool ApplyColorKey(Level& level, D3DCOLOR colorKey) {
    std::vector<uint8_t> rgba;
    if (!ToRgba(level, rgba))
        return false;
    const uint8_t key[4] = {uint8_t(colorKey >> 16), uint8_t(colorKey >> 8), uint8_t(colorKey),
                            uint8_t(colorKey >> 24)};
    for (size_t i = 0; i < rgba.size(); i += 4)
        if (std::memcmp(&rgba[i], key, 4) == 0)
            std::memset(&rgba[i], 0, 4);
    return FromRgba(rgba, level.format, level.width, level.height, level);
}

} // namespace fw::d3dx9
