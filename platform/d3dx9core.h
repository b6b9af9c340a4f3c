// D3DX 9 core: the font object. A font lives on a device; like the SDK's, it holds
// device-pool resources that must be given up in OnLostDevice before the device is Reset,
// and are rebuilt in OnResetDevice.
#pragma once

#include "platform/d3d9.h"
#include "platform/d3dx9err.h"

#include <memory>

#define LF_FACESIZE 32

// Weights
#define FW_NORMAL 400
#define FW_BOLD 700
// Character sets, precisions, qualities, pitches
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define OUT_DEFAULT_PRECIS 0
#define DEFAULT_QUALITY 0
#define DEFAULT_PITCH 0
#define FF_DONTCARE 0

// DrawText formats
#define DT_TOP 0x00000000
#define DT_LEFT 0x00000000
#define DT_CENTER 0x00000001
#define DT_RIGHT 0x00000002
#define DT_VCENTER 0x00000004
#define DT_BOTTOM 0x00000008
#define DT_WORDBREAK 0x00000010
#define DT_SINGLELINE 0x00000020
#define DT_NOCLIP 0x00000100
#define DT_CALCRECT 0x00000400

struct D3DXFONT_DESCA {
    INT Height;
    UINT Width;
    UINT Weight;
    UINT MipLevels;
    BOOL Italic;
    BYTE CharSet;
    BYTE OutputPrecision;
    BYTE Quality;
    BYTE PitchAndFamily;
    CHAR FaceName[LF_FACESIZE];
};
typedef D3DXFONT_DESCA* LPD3DXFONT_DESCA;

class ID3DXSprite;

class ID3DXFont {
public:
    ULONG AddRef();
    ULONG Release();
    // Adds a reference to the device the font was made for.
    HRESULT GetDevice(IDirect3DDevice9** ppDevice);
    HRESULT GetDescA(D3DXFONT_DESCA* pDesc);
    // Text drawing is not offered: returns 0 (failure) and says so once on the debug stream.
    INT DrawTextA(ID3DXSprite* pSprite, LPCSTR pString, INT Count, LPRECT pRect, DWORD Format,
                  D3DCOLOR Color);
    // Releases the font's device-pool resources; call before IDirect3DDevice9::Reset.
    HRESULT OnLostDevice();
    // Rebuilds them after a successful Reset.
    HRESULT OnResetDevice();

    struct Impl;
    explicit ID3DXFont(std::unique_ptr<Impl> impl);
    ID3DXFont(const ID3DXFont&) = delete;
    ID3DXFont& operator=(const ID3DXFont&) = delete;

private:
    ~ID3DXFont();
    ULONG refCount = 1;
    std::unique_ptr<Impl> m_impl;
};
typedef ID3DXFont* LPD3DXFONT;

// Height in pixels (negative: character height, as GDI), Width 0 picks the face's own.
// Fails with D3DERR_INVALIDCALL for a null device, face or output pointer, or a face name
// longer than LF_FACESIZE - 1.
HRESULT WINAPI D3DXCreateFontA(IDirect3DDevice9* pDevice, INT Height, UINT Width, UINT Weight,
                               UINT MipLevels, BOOL Italic, DWORD CharSet, DWORD OutputPrecision,
                               DWORD Quality, DWORD PitchAndFamily, LPCSTR pFaceName,
                               ID3DXFont** ppFont);
HRESULT WINAPI D3DXCreateFontIndirectA(IDirect3DDevice9* pDevice, const D3DXFONT_DESCA* pDesc,
                                       ID3DXFont** ppFont);
