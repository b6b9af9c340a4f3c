// D3DXCreateTextureFromFile*: decode, size, convert, fill the file's levels and box-filter
// the rest of the chain, as D3DX does with its defaults.
#include "platform/d3d9/formats.h"
#include "platform/d3d9/resources.h"
#include "platform/d3dx9/tex/image.h"
#include "platform/win32/host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace fw::d3dx9 {

namespace {

void Report(const char* function, const std::string& name, const std::string& reason) {
    std::string line = std::string(function) + ": \"" + name + "\": " + reason + "\n";
    OutputDebugStringA(line.c_str());
}

// As Windows opens it, from the working directory. A model that the user names with --model
// keeps its textures beside it more often: they are looked for there next, by the name given
// and then by its last part (exporters often write the author's own absolute paths).
bool ReadTextureFile(const char* name, std::vector<uint8_t>& bytes, std::string& error) {
    if (fw::ReadUserFile(name, bytes, error))
        return true;
    const std::string& model = fw::GetRunOptions().model;
    if (model.empty() || error != "file not found")
        return false;
    const std::string folder = model.substr(0, model.find_last_of('/') + 1), given = name;
    const std::string last = given.substr(given.find_last_of("/\\:") + 1);
    std::string besideError;
    if (given[0] != '/' && fw::ReadUserFile(folder + given, bytes, besideError))
        return true;
    if (fw::ReadUserFile(folder + last, bytes, besideError))
        return true;
    if (besideError != "file not found")
        error = besideError; // a file is there but cannot be read: say why
    return false;
}

// The format a colour key needs: one with alpha.
D3DFORMAT WithAlpha(D3DFORMAT format) {
    switch (format) {
    case D3DFMT_X8R8G8B8:
        return D3DFMT_A8R8G8B8;
    case D3DFMT_X8B8G8R8:
        return D3DFMT_A8B8G8R8;
    case D3DFMT_L8:
        return D3DFMT_A8L8;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
        return D3DFMT_A1R5G5B5;
    case D3DFMT_X4R4G4B4:
        return D3DFMT_A4R4G4B4;
    default:
        return format;
    }
}

UINT ResolveSide(UINT requested, UINT fileSide) {
    UINT side = requested;
    if (requested == D3DX_DEFAULT)
        side = NextPowerOfTwo(fileSide);
    else if (requested == 0 || requested == D3DX_DEFAULT_NONPOW2 || requested == D3DX_FROM_FILE)
        side = fileSide;
    return std::min(side, kMaxImageSide);
}

// Levels from first on, box-filtered from the level above when something first uses them.
// Byte-channel levels are filtered from the texture's own level; others from a working copy
// of it (kept), so that a compressed chain does not pile up encoding errors.
void DeferChain(IDirect3DTexture9* texture, UINT first, D3DFORMAT format, Level* working) {
    D3DSURFACE_DESC top{};
    texture->GetLevelDesc(0, &top);
    std::shared_ptr<Level> kept;
    if (working)
        kept = std::make_shared<Level>(std::move(*working));
    d3d9::DeferTextureLevels(texture, first, [kept, format, top](UINT level, const auto& above) {
        Level next = kept ? BoxFilterHalf(*kept)
                          : BoxFilterHalf(format, std::max(1u, top.Width >> (level - 1)),
                                          std::max(1u, top.Height >> (level - 1)), above.data());
        if (kept)
            *kept = next;
        Level written;
        return ConvertLevel(std::move(next), format, written) ? std::move(written.bytes)
                                                              : std::vector<BYTE>{};
    });
}

HRESULT CreateFromMemory(const char* function, const std::string& name, IDirect3DDevice9* device,
                         const uint8_t* data, size_t size, UINT width, UINT height, UINT mipLevels,
                         DWORD usage, D3DFORMAT format, D3DPOOL pool, D3DCOLOR colorKey,
                         D3DXIMAGE_INFO* info, IDirect3DTexture9** texture) {
    SourceImage source;
    std::string error;
    if (!DecodeImage(data, size, false, source, error)) {
        Report(function, name, error);
        return D3DXERR_INVALIDDATA;
    }
    const D3DXIMAGE_INFO& file = source.info;
    if (format == D3DFMT_UNKNOWN || UINT(format) == D3DX_DEFAULT) {
        format = TextureFormatFor(file.Format);
        if (colorKey)
            format = WithAlpha(format);
    } else if (!d3d9::DescribeFormat(format).known) {
        Report(function, name, "texture format " + std::to_string(format) + " is not supported");
        return D3DERR_INVALIDCALL;
    }
    UINT w = ResolveSide(width, file.Width), h = ResolveSide(height, file.Height);
    UINT fullChain = d3d9::FullChainLength(w, h);
    UINT levels = mipLevels == D3DX_DEFAULT || mipLevels == 0 ? fullChain
                  : mipLevels == D3DX_FROM_FILE               ? file.MipLevels
                                                              : mipLevels;
    levels = std::clamp(levels, 1u, fullChain);

    HRESULT hr = device->CreateTexture(w, h, levels, usage, format, pool, texture, nullptr);
    if (FAILED(hr)) {
        Report(function, name,
               "the device refused a " + std::to_string(w) + " x " + std::to_string(h) +
                   " texture");
        return hr;
    }
    // The file's own levels are used while they match the texture's sizes; the rest of
    // the chain is box-filtered from the level above when something first uses it.
    // Filtering runs on an uncompressed working copy, so compressed levels are encoded once
    // and errors do not accumulate.
    bool fileSized = w == file.Width && h == file.Height;
    D3DFORMAT working = IsByteChannelFormat(format) ? format : D3DFMT_A8R8G8B8;
    Level previous;
    for (UINT i = 0; i < levels; ++i) {
        bool fromFile = i == 0 || (fileSized && i < source.levels.size());
        if (!fromFile) {
            DeferChain(*texture, i, format, working == format ? nullptr : &previous);
            break;
        }
        // A working copy is kept only where the texture's own level cannot serve.
        bool keepWorking =
            i + 1 < levels && !(fileSized && i + 1 < source.levels.size()) && working != format;
        Level level, written;
        bool ok = true;
        if (fileSized && !colorKey) {
            // Stored as the file holds it: a same-format level is taken over bit for bit.
            ok = (!keepWorking || ConvertLevel(source.levels[i], working, level)) &&
                 ConvertLevel(std::move(source.levels[i]), format, written);
        } else {
            Level converted;
            ok = ConvertLevel(source.levels[fileSized ? i : 0], working, converted) &&
                 ResizeLevel(converted, std::max(1u, w >> i), std::max(1u, h >> i), level) &&
                 (!colorKey || ApplyColorKey(level, colorKey)) &&
                 ConvertLevel(level, format, written);
        }
        if (!ok || !d3d9::UpdateTextureLevel(*texture, i, std::move(written.bytes))) {
            (*texture)->Release();
            *texture = nullptr;
            Report(function, name, "cannot convert the image to format " + std::to_string(format));
            return D3DERR_INVALIDCALL;
        }
        previous = std::move(level);
    }
    if (info)
        *info = file;
    return D3D_OK;
}

} // namespace

} // namespace fw::d3dx9

using namespace fw::d3dx9;

HRESULT WINAPI D3DXGetImageInfoFromFileA(LPCSTR pSrcFile, D3DXIMAGE_INFO* pSrcInfo) {
    if (!pSrcFile || !pSrcInfo)
        return D3DERR_INVALIDCALL;
    std::vector<uint8_t> bytes;
    std::string error;
    SourceImage image;
    if (!ReadTextureFile(pSrcFile, bytes, error) ||
        !DecodeImage(bytes.data(), bytes.size(), true, image, error)) {
        Report("D3DXGetImageInfoFromFile", pSrcFile, error);
        return D3DXERR_INVALIDDATA;
    }
    *pSrcInfo = image.info;
    return D3D_OK;
}

HRESULT WINAPI D3DXCreateTextureFromFileExA(LPDIRECT3DDEVICE9 pDevice, LPCSTR pSrcFile, UINT Width,
                                            UINT Height, UINT MipLevels, DWORD Usage,
                                            D3DFORMAT Format, D3DPOOL Pool, DWORD, DWORD,
                                            D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo,
                                            PALETTEENTRY*, LPDIRECT3DTEXTURE9* ppTexture) {
    const char* function = "D3DXCreateTextureFromFile";
    if (ppTexture)
        *ppTexture = nullptr;
    if (!pDevice || !pSrcFile || !ppTexture)
        return D3DERR_INVALIDCALL;
    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadTextureFile(pSrcFile, bytes, error)) {
        Report(function, pSrcFile, error);
        return D3DXERR_INVALIDDATA;
    }
    return CreateFromMemory(function, pSrcFile, pDevice, bytes.data(), bytes.size(), Width, Height,
                            MipLevels, Usage, Format, Pool, ColorKey, pSrcInfo, ppTexture);
}

HRESULT WINAPI D3DXCreateTextureFromFileA(LPDIRECT3DDEVICE9 pDevice, LPCSTR pSrcFile,
                                          LPDIRECT3DTEXTURE9* ppTexture) {
    return D3DXCreateTextureFromFileExA(pDevice, pSrcFile, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT,
                                        0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                        D3DX_DEFAULT, 0, nullptr, nullptr, ppTexture);
}

HRESULT WINAPI D3DXCreateTextureFromFileInMemory(LPDIRECT3DDEVICE9 pDevice, LPCVOID pSrcData,
                                                 UINT SrcDataSize, LPDIRECT3DTEXTURE9* ppTexture) {
    if (ppTexture)
        *ppTexture = nullptr;
    if (!pDevice || !pSrcData || !ppTexture)
        return D3DERR_INVALIDCALL;
    return CreateFromMemory("D3DXCreateTextureFromFileInMemory", "<memory>", pDevice,
                            static_cast<const uint8_t*>(pSrcData), SrcDataSize, D3DX_DEFAULT,
                            D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, 0,
                            nullptr, ppTexture);
}
