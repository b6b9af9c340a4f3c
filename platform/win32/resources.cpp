// The program's resource table: its strings and icon groups, built into the executable.
#include "platform/win32/host.h"
#include "platform/win32/window_impl.h"

#include <SDL.h>

#include <array>
#include <cstring>
#include <vector>

// An icon handle points at one of these: one group of images of several sizes and depths.
struct HICON__ {
    struct Image {
        int size = 0;                  // width = height
        int bitsPerPixel = 0;          // 4, 8 or 32
        std::vector<uint32_t> palette; // 0xAARRGGBB, for 4 and 8 bits per pixel
        std::vector<uint8_t> indices;  // one palette index per pixel (4 and 8 bits)
        std::vector<uint32_t> argb;    // one 0xAARRGGBB per pixel (32 bits)
    };
    int id = 0;
    std::vector<Image> images;
};

namespace {

struct StringResource {
    UINT id;
    const char* text;
};
constexpr std::array kStrings{
    StringResource{103, "Ferrowalk"},
    StringResource{109, "FERROWALK"},
};

// The icon: a dark tile with a light figure standing on a green ground band. `inside`
// tells which region a point in 0..1 falls into: 0 background, 1 ground, 2 figure.
int Region(float u, float v) {
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

HICON__::Image MakeImage(int size, int bitsPerPixel, bool smallIcon) {
    HICON__::Image image;
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

HICON__ MakeGroup(int id, bool smallIcon) {
    HICON__ group;
    group.id = id;
    const int layout[][2] = {{32, 4}, {16, 4},  {48, 8},  {32, 8},
                             {16, 8}, {48, 32}, {32, 32}, {16, 32}};
    for (const auto& [size, bits] : layout)
        group.images.push_back(MakeImage(size, bits, smallIcon));
    return group;
}

HICON__* FindIcon(int id) {
    static HICON__ groups[] = {MakeGroup(107, false), MakeGroup(108, true)};
    for (HICON__& group : groups)
        if (group.id == id)
            return &group;
    return nullptr;
}

uint32_t Pixel(const HICON__::Image& image, int index) {
    return image.bitsPerPixel == 32 ? image.argb[index] : image.palette[image.indices[index]];
}

} // namespace

namespace fw {

std::vector<IconImageInfo> DescribeIcon(HICON icon) {
    std::vector<IconImageInfo> infos;
    if (icon)
        for (const auto& image : icon->images)
            infos.push_back({image.size, image.size, image.bitsPerPixel});
    return infos;
}

} // namespace fw

namespace fw::win32 {

void ApplyWindowIcon(SDL_Window* window, HICON icon) {
    if (!window || !icon || icon->images.empty())
        return;
    // The largest, deepest image: the window manager scales it as it needs.
    const HICON__::Image* best = &icon->images.front();
    for (const auto& image : icon->images)
        if (image.size > best->size ||
            (image.size == best->size && image.bitsPerPixel > best->bitsPerPixel))
            best = &image;
    std::vector<uint32_t> pixels(best->size * best->size);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = Pixel(*best, (int)i);
    fw::LibraryScope scope;
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
        pixels.data(), best->size, best->size, 32, best->size * 4, SDL_PIXELFORMAT_ARGB8888);
    if (!surface)
        return;
    SDL_SetWindowIcon(window, surface);
    SDL_FreeSurface(surface);
}

} // namespace fw::win32

int WINAPI LoadStringA(HINSTANCE, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    if (!lpBuffer || cchBufferMax <= 0)
        return 0; // a read-only pointer to the string is not offered
    for (const StringResource& entry : kStrings) {
        if (entry.id != uID)
            continue;
        // Truncated to the buffer and always terminated; returns the characters copied.
        size_t length = std::min(std::strlen(entry.text), (size_t)cchBufferMax - 1);
        std::memcpy(lpBuffer, entry.text, length);
        lpBuffer[length] = '\0';
        return (int)length;
    }
    lpBuffer[0] = '\0';
    return 0;
}

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
    if (!lpIconName || !IS_INTRESOURCE(lpIconName))
        return nullptr; // the program names its icons by number only
    if (!hInstance)     // system icons: the application icon stands in for all of them
        return lpIconName == IDI_APPLICATION ? FindIcon(107) : nullptr;
    return FindIcon(LOWORD(lpIconName));
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    // The program's own module; other modules do not exist here.
    static int module;
    return lpModuleName ? nullptr : reinterpret_cast<HMODULE>(&module);
}
