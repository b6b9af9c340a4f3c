// The program's resource table: its strings and icon groups, built into the executable.
#include "platform/win32/host.h"
#include "platform/win32/icon_art.h"
#include "platform/win32/resource_strings.h"
#include "platform/win32/window_impl.h"

#include <SDL.h>

#include <array>
#include <cstring>
#include <vector>

// An icon handle points at one of these: one group of images of several sizes and depths.
struct HICON__ {
    using Image = fw::icon_art::Image;
    int id = 0;
    std::vector<Image> images;
};

namespace {

struct StringResource {
    UINT id;
    const char* text;
};
#define FW_STRING_RESOURCE(id, text) StringResource{id, text},
constexpr StringResource kStrings[] = {FERROWALK_STRING_TABLE(FW_STRING_RESOURCE)};
#undef FW_STRING_RESOURCE

HICON__ MakeGroup(int id, bool smallIcon) {
    HICON__ group;
    group.id = id;
    group.images = fw::icon_art::DrawGroup(smallIcon);
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
