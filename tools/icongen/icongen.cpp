// Writes the program's icon groups as .ico files for the Windows resource script, from the
// drawing the Linux layer shows (platform/win32/icon_art.h). Built and run on the build
// machine by the Windows build.
// Usage: icongen ICON_107.ico ICON_108.ico
#include "platform/win32/icon_art.h"

#include <cstdio>
#include <vector>

namespace {

using fw::icon_art::Image;

void Put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

int RowBytes(int size, int bitsPerPixel) {
    return (size * bitsPerPixel + 31) / 32 * 4; // rows of a DIB end on a 4-byte boundary
}

// One image as the icon format stores it: a bottom-up DIB of twice the height (the colour
// rows, then a 1-bit mask, set where the pixel is transparent).
std::vector<uint8_t> EncodeImage(const Image& image) {
    const int size = image.size;
    const int bits = image.bitsPerPixel;
    const int colourRow = RowBytes(size, bits);
    const int maskRow = RowBytes(size, 1);
    std::vector<uint8_t> out;
    Put32(out, 40);
    Put32(out, size);
    Put32(out, 2 * size);
    Put16(out, 1);
    Put16(out, bits);
    Put32(out, 0); // BI_RGB
    Put32(out, (colourRow + maskRow) * size);
    for (int k = 0; k < 4; ++k)
        Put32(out, 0);
    if (bits < 32)
        for (uint32_t k = 0; k < (1u << bits); ++k)
            Put32(out, k < image.palette.size() ? image.palette[k] & 0xFFFFFF : 0); // B, G, R, 0
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(colourRow, 0);
        for (int x = 0; x < size; ++x) {
            const int at = y * size + x;
            if (bits == 32)
                for (int c = 0; c < 4; ++c)
                    row[4 * x + c] = uint8_t(image.argb[at] >> (8 * c)); // B, G, R, A
            else if (bits == 8)
                row[x] = image.indices[at];
            else
                row[x / 2] |= uint8_t(image.indices[at] << (x % 2 ? 0 : 4));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(maskRow, 0);
        for (int x = 0; x < size; ++x)
            if (bits == 32 && (image.argb[y * size + x] >> 24) == 0)
                row[x / 8] |= uint8_t(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<uint8_t> EncodeIcon(const std::vector<Image>& images) {
    std::vector<uint8_t> out;
    Put16(out, 0);
    Put16(out, 1); // an icon, not a cursor
    Put16(out, uint32_t(images.size()));
    std::vector<std::vector<uint8_t>> encoded;
    uint32_t offset = 6 + 16 * uint32_t(images.size());
    for (const Image& image : images) {
        encoded.push_back(EncodeImage(image));
        out.push_back(uint8_t(image.size));
        out.push_back(uint8_t(image.size));
        out.push_back(uint8_t(image.bitsPerPixel < 8 ? 1u << image.bitsPerPixel : 0));
        out.push_back(0);
        Put16(out, 1);
        Put16(out, image.bitsPerPixel);
        Put32(out, uint32_t(encoded.back().size()));
        Put32(out, offset);
        offset += uint32_t(encoded.back().size());
    }
    for (const auto& bytes : encoded)
        out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

bool WriteFile(const char* path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::perror(path);
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
    if (!written)
        std::fprintf(stderr, "icongen: could not write %s\n", path);
    return written;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: icongen ICON_107.ico ICON_108.ico\n");
        return 2;
    }
    bool written = WriteFile(argv[1], EncodeIcon(fw::icon_art::DrawGroup(false)));
    written = WriteFile(argv[2], EncodeIcon(fw::icon_art::DrawGroup(true))) && written;
    return written ? 0 : 1;
}
