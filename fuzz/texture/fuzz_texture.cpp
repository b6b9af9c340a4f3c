// libFuzzer target: the texture loader's decoders (PNG, JPEG, BMP, TGA, DDS) and the level
// conversions behind them must reject or read any input without reading outside it, and
// without work or memory out of proportion to it.
#include "platform/d3dx9/tex/image.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fw::d3dx9::SourceImage image;
    std::string error;
    if (!fw::d3dx9::DecodeImage(data, size, false, image, error))
        return 0;
    for (const fw::d3dx9::Level& level : image.levels) {
        fw::d3dx9::Level converted;
        if (fw::d3dx9::ConvertLevel(level, D3DFMT_A8R8G8B8, converted))
            fw::d3dx9::BoxFilterHalf(converted);
    }
    return 0;
}
