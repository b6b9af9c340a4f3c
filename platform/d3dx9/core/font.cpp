// ID3DXFont: a font description bound to a device, with the device-pool vertex buffer its
// glyph quads would stream through. The buffer is what makes the lost-device protocol real:
// while it lives the device cannot be Reset.
#include "platform/d3dx9core.h"

#include <cstring>
#include <string>

struct ID3DXFont::Impl {
    IDirect3DDevice9* device = nullptr; // owns one reference
    D3DXFONT_DESCA desc{};
    IDirect3DVertexBuffer9* glyphQuads = nullptr; // D3DPOOL_DEFAULT; null while lost
    bool drawWarned = false;
};

namespace {

// Room for a line of glyph quads per batch: four pre-transformed, coloured, textured vertices.
constexpr DWORD kGlyphFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
constexpr UINT kGlyphVertexSize = 4 * sizeof(float) + sizeof(DWORD) + 2 * sizeof(float);
constexpr UINT kGlyphsPerBatch = 256;

HRESULT CreateGlyphQuads(ID3DXFont::Impl& font) {
    if (font.glyphQuads)
        return S_OK;
    return font.device->CreateVertexBuffer(kGlyphsPerBatch * 4 * kGlyphVertexSize,
                                           D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kGlyphFvf,
                                           D3DPOOL_DEFAULT, &font.glyphQuads, nullptr);
}

void ReleaseGlyphQuads(ID3DXFont::Impl& font) {
    if (font.glyphQuads) {
        font.glyphQuads->Release();
        font.glyphQuads = nullptr;
    }
}

} // namespace

ID3DXFont::ID3DXFont(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

ID3DXFont::~ID3DXFont() {
    ReleaseGlyphQuads(*m_impl);
    if (m_impl->device)
        m_impl->device->Release();
}

ULONG ID3DXFont::AddRef() {
    return ++refCount;
}

ULONG ID3DXFont::Release() {
    ULONG remaining = --refCount;
    if (remaining == 0)
        delete this;
    return remaining;
}

HRESULT ID3DXFont::GetDevice(IDirect3DDevice9** ppDevice) {
    if (!ppDevice)
        return D3DERR_INVALIDCALL;
    m_impl->device->AddRef();
    *ppDevice = m_impl->device;
    return D3D_OK;
}

HRESULT ID3DXFont::GetDescA(D3DXFONT_DESCA* pDesc) {
    if (!pDesc)
        return D3DERR_INVALIDCALL;
    *pDesc = m_impl->desc;
    return D3D_OK;
}

INT ID3DXFont::DrawTextA(ID3DXSprite*, LPCSTR, INT, LPRECT, DWORD, D3DCOLOR) {
    if (!m_impl->drawWarned) {
        m_impl->drawWarned = true;
        OutputDebugStringA("ID3DXFont::DrawTextA: drawing text is not supported\n");
    }
    return 0;
}

HRESULT ID3DXFont::OnLostDevice() {
    ReleaseGlyphQuads(*m_impl);
    return D3D_OK;
}

HRESULT ID3DXFont::OnResetDevice() {
    return CreateGlyphQuads(*m_impl);
}

HRESULT WINAPI D3DXCreateFontIndirectA(IDirect3DDevice9* pDevice, const D3DXFONT_DESCA* pDesc,
                                       ID3DXFont** ppFont) {
    if (ppFont)
        *ppFont = nullptr;
    if (!pDevice || !pDesc || !ppFont)
        return D3DERR_INVALIDCALL;
    if (std::memchr(pDesc->FaceName, '\0', LF_FACESIZE) == nullptr)
        return D3DERR_INVALIDCALL;
    auto impl = std::make_unique<ID3DXFont::Impl>();
    impl->desc = *pDesc;
    if (impl->desc.MipLevels == 0 || impl->desc.MipLevels == D3DX_DEFAULT)
        impl->desc.MipLevels = 1; // glyphs are drawn at their own size
    impl->device = pDevice;
    pDevice->AddRef();
    HRESULT hr = CreateGlyphQuads(*impl);
    if (FAILED(hr)) {
        OutputDebugStringA("D3DXCreateFontA: the device refused the font's vertex buffer\n");
        pDevice->Release();
        return hr;
    }
    *ppFont = new ID3DXFont(std::move(impl));
    return D3D_OK;
}

HRESULT WINAPI D3DXCreateFontA(IDirect3DDevice9* pDevice, INT Height, UINT Width, UINT Weight,
                               UINT MipLevels, BOOL Italic, DWORD CharSet, DWORD OutputPrecision,
                               DWORD Quality, DWORD PitchAndFamily, LPCSTR pFaceName,
                               ID3DXFont** ppFont) {
    if (!pFaceName || std::strlen(pFaceName) >= LF_FACESIZE) {
        if (ppFont)
            *ppFont = nullptr;
        return D3DERR_INVALIDCALL;
    }
    D3DXFONT_DESCA desc{};
    desc.Height = Height;
    desc.Width = Width;
    desc.Weight = Weight;
    desc.MipLevels = MipLevels;
    desc.Italic = Italic;
    desc.CharSet = (BYTE)CharSet;
    desc.OutputPrecision = (BYTE)OutputPrecision;
    desc.Quality = (BYTE)Quality;
    desc.PitchAndFamily = (BYTE)PitchAndFamily;
    std::strcpy(desc.FaceName, pFaceName);
    return D3DXCreateFontIndirectA(pDevice, &desc, ppFont);
}
