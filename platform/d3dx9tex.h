// D3DX 9 texture loading: image files (PNG, BMP, TGA, JPEG, DDS) into IDirect3DTexture9.
#pragma once

#include "platform/d3d9.h"
#include "platform/d3dx9err.h"

struct PALETTEENTRY;

// Filters (D3DX_DEFAULT picks BOX for mip levels and a filter for resizing)
#define D3DX_FILTER_NONE (1 << 0)
#define D3DX_FILTER_POINT (2 << 0)
#define D3DX_FILTER_LINEAR (3 << 0)
#define D3DX_FILTER_TRIANGLE (4 << 0)
#define D3DX_FILTER_BOX (5 << 0)
#define D3DX_FILTER_MIRROR_U (1 << 16)
#define D3DX_FILTER_MIRROR_V (2 << 16)
#define D3DX_FILTER_MIRROR_W (4 << 16)
#define D3DX_FILTER_MIRROR (7 << 16)
#define D3DX_FILTER_DITHER (1 << 19)
#define D3DX_FILTER_DITHER_DIFFUSION (2 << 19)
#define D3DX_FILTER_SRGB_IN (1 << 21)
#define D3DX_FILTER_SRGB_OUT (2 << 21)
#define D3DX_FILTER_SRGB (3 << 21)
#define D3DX_SKIP_DDS_MIP_LEVELS_MASK 0x1F
#define D3DX_SKIP_DDS_MIP_LEVELS_SHIFT 26

enum D3DXIMAGE_FILEFORMAT {
    D3DXIFF_BMP = 0,
    D3DXIFF_JPG = 1,
    D3DXIFF_TGA = 2,
    D3DXIFF_PNG = 3,
    D3DXIFF_DDS = 4,
    D3DXIFF_PPM = 5,
    D3DXIFF_DIB = 6,
    D3DXIFF_HDR = 7,
    D3DXIFF_PFM = 8,
    D3DXIFF_FORCE_DWORD = 0x7fffffff
};

struct D3DXIMAGE_INFO {
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;
    D3DFORMAT Format;
    D3DRESOURCETYPE ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
};

// What the file holds, without creating anything. Fails with D3DXERR_INVALIDDATA for a
// file that cannot be decoded.
HRESULT WINAPI D3DXGetImageInfoFromFileA(LPCSTR pSrcFile, D3DXIMAGE_INFO* pSrcInfo);

// D3DX_DEFAULT everywhere: format from the file, sizes rounded up to powers of two, a full
// mip chain (the file's own DDS levels, then box-filtered ones), D3DPOOL_MANAGED.
// A missing, damaged or unsupported file fails with D3DXERR_INVALIDDATA (as D3DX does) and
// prints one line naming the file and the reason.
HRESULT WINAPI D3DXCreateTextureFromFileA(LPDIRECT3DDEVICE9 pDevice, LPCSTR pSrcFile,
                                          LPDIRECT3DTEXTURE9* ppTexture);

// Width/Height: D3DX_DEFAULT (round up to a power of two), D3DX_DEFAULT_NONPOW2, D3DX_FROM_FILE
// or 0 (the file's size), or a size. MipLevels: D3DX_DEFAULT or 0 (full chain), D3DX_FROM_FILE, or
// a count. Format: D3DFMT_UNKNOWN or D3DX_DEFAULT (from the file), or one of the formats the device
// creates. ColorKey: 0 or an ARGB colour made transparent black. pPalette is unused.
// Filter and MipFilter are not consulted: a resized image is triangle-filtered and
// generated levels are box-filtered, as with D3DX's defaults (DDS levels are never skipped).
HRESULT WINAPI D3DXCreateTextureFromFileExA(LPDIRECT3DDEVICE9 pDevice, LPCSTR pSrcFile, UINT Width,
                                            UINT Height, UINT MipLevels, DWORD Usage,
                                            D3DFORMAT Format, D3DPOOL Pool, DWORD Filter,
                                            DWORD MipFilter, D3DCOLOR ColorKey,
                                            D3DXIMAGE_INFO* pSrcInfo, PALETTEENTRY* pPalette,
                                            LPDIRECT3DTEXTURE9* ppTexture);

HRESULT WINAPI D3DXCreateTextureFromFileInMemory(LPDIRECT3DDEVICE9 pDevice, LPCVOID pSrcData,
                                                 UINT SrcDataSize, LPDIRECT3DTEXTURE9* ppTexture);

#define D3DXCreateTextureFromFile D3DXCreateTextureFromFileA
#define D3DXCreateTextureFromFileEx D3DXCreateTextureFromFileExA
#define D3DXGetImageInfoFromFile D3DXGetImageInfoFromFileA
