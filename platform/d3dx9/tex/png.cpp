// PNG files through libpng, the reference decoder, made and fuzzed for untrusted files and
// several times faster than a header-only decoder on large images.
#include "platform/d3dx9/tex/png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace fw::d3dx9 {

namespace {

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t offset;
    char message[128];
};

void ReadFromMemory(png_structp png, png_bytep out, size_t count) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (count > source->size - source->offset)
        png_error(png, "truncated data");
    std::memcpy(out, source->data + source->offset, count);
    source->offset += count;
}

void Fail(png_structp png, png_const_charp message) {
    auto* source = static_cast<PngSource*>(png_get_error_ptr(png));
    std::strncpy(source->message, message, sizeof source->message - 1);
    png_longjmp(png, 1);
}

void Ignore(png_structp, png_const_charp) {}

// libpng allocates what a text chunk's length field claims (gigabytes, in a damaged file)
// before it finds the data missing. Nothing a sound file needs comes near its own size plus
// room for rows, inflated profiles and text; a larger request is refused (libpng skips such a
// text chunk, and fails the file for anything it cannot do without).
constexpr size_t kAllocationRoom = size_t{16} << 20;

png_voidp Allocate(png_structp png, png_alloc_size_t bytes) {
    const auto* source = static_cast<const PngSource*>(png_get_mem_ptr(png));
    return bytes <= source->size + kAllocationRoom ? std::malloc(bytes) : nullptr;
}

void Release(png_structp, png_voidp block) {
    std::free(block);
}

// The D3D format of the file's channels, as the texture loader names them.
D3DFORMAT FileFormat(int channels) {
    static const D3DFORMAT kFormats[5] = {D3DFMT_UNKNOWN, D3DFMT_L8, D3DFMT_A8L8, D3DFMT_R8G8B8,
                                          D3DFMT_A8R8G8B8};
    return kFormats[channels];
}

// Reads the header, sets the transforms to 8-bit channels (palette and low bit depths
// expanded, transparency to alpha, 16 bits to their high byte, no gamma: as the file holds
// them) and, unless headerOnly, the rows. A failure inside libpng jumps back to Read, so
// nothing here owns memory: the rows' pointers live in Read's frame.
bool ReadImage(png_structp png, png_infop info, PngSource& source, bool headerOnly, UINT maxSide,
               SourceImage& image, std::vector<png_bytep>& rows) {
    png_set_read_fn(png, &source, ReadFromMemory);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (width > maxSide || height > maxSide) {
        std::snprintf(source.message, sizeof source.message,
                      "unsupported size %u x %u: at most %u x %u", unsigned(width),
                      unsigned(height), maxSide, maxSide);
        return false;
    }
    int type = png_get_color_type(png, info);
    bool alpha = (type & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    int channels = ((type & PNG_COLOR_MASK_COLOR) ? 3 : 1) + (alpha ? 1 : 0);
    image.info = {width, height, 1, 1, FileFormat(channels), D3DRTYPE_TEXTURE, D3DXIFF_PNG};
    if (headerOnly)
        return true;
    png_set_expand(png);
    png_set_strip_16(png);
    if (channels >= 3) {
        png_set_bgr(png); // texels are B, G, R, A in memory
        if (channels == 3)
            png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    int stored = channels == 3 ? 4 : channels;
    Level& level = image.levels.front();
    level.format = channels == 3 ? D3DFMT_X8R8G8B8 : FileFormat(channels);
    level.width = width;
    level.height = height;
    bool allocated = true;
    try {
        level.bytes.resize(size_t(width) * height * stored);
        rows.resize(height);
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (!allocated)
        png_error(png, "out of memory");
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = level.bytes.data() + size_t(y) * width * stored;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    return true;
}

bool Read(PngSource& source, bool headerOnly, UINT maxSide, SourceImage& image) {
    png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &source, Fail, Ignore,
                                               &source, Allocate, Release);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::strcpy(source.message, "out of memory");
        return false;
    }
    std::vector<png_bytep> rows;
    image.levels.resize(1);
    bool read = false;
    if (setjmp(png_jmpbuf(png)) == 0)
        read = ReadImage(png, info, source, headerOnly, maxSide, image, rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return read;
}

} // namespace

bool DecodePng(const uint8_t* data, size_t size, bool headerOnly, UINT maxSide, SourceImage& image,
               std::string& error) {
    PngSource source{data, size, 0, {}};
    image = {};
    bool read = Read(source, headerOnly, maxSide, image);
    return FinishDecode(read, headerOnly, "PNG", source.message, image, error);
}

} // namespace fw::d3dx9
