// libFuzzer target: the DDS reader and the texel decoders behind it must reject or read any
// input without reading outside it.
#include "platform/d3d9/formats.h"
#include "platform/d3dx9/tex/dds.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fw::d3dx9::DdsImage image;
    std::string error;
    if (!fw::d3dx9::ParseDds(data, size, image, error))
        return 0;
    for (size_t i = 0; i < image.levels.size(); ++i) {
        UINT w = std::max(1u, image.width >> i), h = std::max(1u, image.height >> i);
        std::vector<uint8_t> rgba(size_t(w) * h * 4);
        fw::d3d9::DecodeToRgba(image.format, image.levels[i].data(),
                               fw::d3d9::RowPitch(image.format, w), w, h, rgba.data());
    }
    return 0;
}
