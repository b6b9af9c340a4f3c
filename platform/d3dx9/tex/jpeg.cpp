// JPEG files through libjpeg-turbo, a decoder made and fuzzed for untrusted files.
#include "platform/d3dx9/tex/jpeg.h"

#include <cstdio>
#include <csetjmp>
#include <cstring>
#include <new>

#include <jpeglib.h>

namespace fw::d3dx9 {

namespace {

struct JpegErrors {
    jpeg_error_mgr manager;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void Fail(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Counts warnings (a damaged or cut file) without printing them.
void Count(j_common_ptr info, int level) {
    if (level < 0)
        ++info->err->num_warnings;
}

// Adobe's CMYK (stored inverted) to B, G, R, 255 in place: four bytes in, four out.
void CmykToBgrx(BYTE* texels, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        BYTE* p = texels + i * 4;
        unsigned c = p[0], m = p[1], y = p[2], k = p[3];
        p[0] = BYTE(y * k / 255), p[1] = BYTE(m * k / 255), p[2] = BYTE(c * k / 255), p[3] = 255;
    }
}

// Reads the header and, unless headerOnly, the texels: grey as L8, colour as X8R8G8B8. A
// failure inside libjpeg jumps back to Read, so nothing here owns memory.
bool ReadImage(jpeg_decompress_struct& info, bool headerOnly, UINT maxSide, SourceImage& image,
               JpegErrors& errors) {
    jpeg_read_header(&info, TRUE);
    if (info.image_width > maxSide || info.image_height > maxSide) {
        std::snprintf(errors.message, sizeof errors.message,
                      "unsupported size %u x %u: at most %u x %u", info.image_width,
                      info.image_height, maxSide, maxSide);
        return false;
    }
    bool grey = info.num_components == 1;
    bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    image.info = {info.image_width, info.image_height, 1, 1, grey ? D3DFMT_L8 : D3DFMT_R8G8B8,
                  D3DRTYPE_TEXTURE, D3DXIFF_JPG};
    if (headerOnly)
        return true;
    info.out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    size_t stride = size_t(info.output_width) * info.output_components;
    Level& level = image.levels.front();
    level = {grey ? D3DFMT_L8 : D3DFMT_X8R8G8B8, info.output_width, info.output_height, {}};
    bool allocated = true;
    try {
        level.bytes.resize(stride * info.output_height);
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (!allocated) {
        std::strcpy(errors.message, "out of memory");
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = level.bytes.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    if (cmyk)
        CmykToBgrx(level.bytes.data(), size_t(level.width) * level.height);
    return true;
}

bool Read(const uint8_t* data, size_t size, bool headerOnly, UINT maxSide, SourceImage& image,
          JpegErrors& errors) {
    jpeg_decompress_struct info{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = Fail;
    errors.manager.emit_message = Count;
    bool read = false;
    image.levels.resize(1);
    if (setjmp(errors.jump) == 0) {
        jpeg_create_decompress(&info);
        // A file cut short ends the data early: libjpeg would pad it with grey and warn.
        jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
        read = ReadImage(info, headerOnly, maxSide, image, errors);
        if (read && info.err->num_warnings > 0) {
            std::strcpy(errors.message, "damaged or truncated data");
            read = false;
        }
    }
    jpeg_destroy_decompress(&info);
    return read;
}

} // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, bool headerOnly, UINT maxSide, SourceImage& image,
                std::string& error) {
    JpegErrors errors{};
    image = {};
    bool read = Read(data, size, headerOnly, maxSide, image, errors);
    return FinishDecode(read, headerOnly, "JPEG", errors.message, image, error);
}

} // namespace fw::d3dx9
