// FVF codes to vertex layouts, and element conversion for mesh cloning.
#include "platform/d3dx9/mesh/vertex_format.h"

#include "platform/d3dx9mesh.h"

#include <algorithm>
#include <cstring>

namespace fw::d3dx9mesh {

namespace {

constexpr DWORD kReservedBits = D3DFVF_RESERVED0 | 0x2000;

void Add(VertexLayout* layout, BYTE usage, BYTE usageIndex, BYTE type) {
    layout->elements[layout->count++] = {usage, usageIndex, type, WORD(layout->size)};
    layout->size += DeclTypeSize(type);
}

BYTE FloatType(int components) {
    return BYTE(D3DDECLTYPE_FLOAT1 + components - 1);
}

int FloatComponents(BYTE type) {
    return type <= D3DDECLTYPE_FLOAT4 ? type - D3DDECLTYPE_FLOAT1 + 1 : 0;
}

// Position, then blend weights and indices of the XYZBn kinds.
bool AddPosition(DWORD fvf, VertexLayout* layout) {
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    const bool lastBetaIndices = (fvf & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR)) != 0;
    if (lastBetaIndices && !(position >= D3DFVF_XYZB1 && position <= D3DFVF_XYZB5))
        return false;
    if (position == D3DFVF_XYZRHW) {
        Add(layout, D3DDECLUSAGE_POSITIONT, 0, D3DDECLTYPE_FLOAT4);
    } else if (position == D3DFVF_XYZW) {
        Add(layout, D3DDECLUSAGE_POSITION, 0, D3DDECLTYPE_FLOAT4);
    } else if (position == 0) {
        return true;
    } else if (position >= D3DFVF_XYZ && position <= D3DFVF_XYZB5 && !(position & 1)) {
        layout->positionOffset = int(layout->size);
        Add(layout, D3DDECLUSAGE_POSITION, 0, D3DDECLTYPE_FLOAT3);
        // XYZB1 (0x6) to XYZB5 (0xE) carry 1 to 5 floats after the position.
        const int betas = position == D3DFVF_XYZ ? 0 : int(position - D3DFVF_XYZRHW) / 2;
        const int weights = lastBetaIndices ? betas - 1 : betas;
        if (weights > 0)
            Add(layout, D3DDECLUSAGE_BLENDWEIGHT, 0, FloatType(std::min(weights, 4)));
        if (weights > 4)
            Add(layout, D3DDECLUSAGE_BLENDWEIGHT, 1, D3DDECLTYPE_FLOAT1);
        if (lastBetaIndices)
            Add(layout, D3DDECLUSAGE_BLENDINDICES, 0,
                (fvf & D3DFVF_LASTBETA_UBYTE4) ? D3DDECLTYPE_UBYTE4 : D3DDECLTYPE_D3DCOLOR);
    } else {
        return false;
    }
    return true;
}

} // namespace

const VertexElement* VertexLayout::Find(BYTE usage, BYTE usageIndex) const {
    for (int i = 0; i < count; ++i)
        if (elements[i].usage == usage && elements[i].usageIndex == usageIndex)
            return &elements[i];
    return nullptr;
}

DWORD DeclTypeSize(BYTE type) {
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_D3DCOLOR:
    case D3DDECLTYPE_UBYTE4:
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_UBYTE4N:
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_UDEC3:
    case D3DDECLTYPE_DEC3N:
    case D3DDECLTYPE_FLOAT16_2:
        return 4;
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_SHORT4:
    case D3DDECLTYPE_SHORT4N:
    case D3DDECLTYPE_USHORT4N:
    case D3DDECLTYPE_FLOAT16_4:
        return 8;
    case D3DDECLTYPE_FLOAT3:
        return 12;
    case D3DDECLTYPE_FLOAT4:
        return 16;
    default:
        return 0;
    }
}

bool DescribeFVF(DWORD fvf, VertexLayout* layout) {
    *layout = VertexLayout();
    layout->size = 0;
    if (fvf & kReservedBits)
        return false;
    if (!AddPosition(fvf, layout))
        return false;
    if (fvf & D3DFVF_NORMAL) {
        layout->normalOffset = int(layout->size);
        Add(layout, D3DDECLUSAGE_NORMAL, 0, D3DDECLTYPE_FLOAT3);
    }
    if (fvf & D3DFVF_PSIZE)
        Add(layout, D3DDECLUSAGE_PSIZE, 0, D3DDECLTYPE_FLOAT1);
    if (fvf & D3DFVF_DIFFUSE)
        Add(layout, D3DDECLUSAGE_COLOR, 0, D3DDECLTYPE_D3DCOLOR);
    if (fvf & D3DFVF_SPECULAR)
        Add(layout, D3DDECLUSAGE_COLOR, 1, D3DDECLTYPE_D3DCOLOR);
    const DWORD texSets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (texSets > 8)
        return false;
    for (DWORD set = 0; set < texSets; ++set) {
        static const int kComponents[4] = {2, 3, 4, 1}; // D3DFVF_TEXTUREFORMAT2, 3, 4, 1
        const int components = kComponents[(fvf >> (16 + set * 2)) & 3];
        Add(layout, D3DDECLUSAGE_TEXCOORD, BYTE(set), FloatType(components));
    }
    return true;
}

namespace {

void ColorToFloats(DWORD color, float out[4]) {
    out[0] = float((color >> 16) & 0xff) / 255.0f;
    out[1] = float((color >> 8) & 0xff) / 255.0f;
    out[2] = float(color & 0xff) / 255.0f;
    out[3] = float((color >> 24) & 0xff) / 255.0f;
}

DWORD FloatsToColor(const float in[4]) {
    auto channel = [](float v) -> DWORD {
        return v >= 1.0f ? 0xff : v <= 0.0f ? 0 : DWORD(v * 255.0f + 0.5f);
    };
    return (channel(in[3]) << 24) | (channel(in[0]) << 16) | (channel(in[1]) << 8) | channel(in[2]);
}

} // namespace

bool ConvertElement(const BYTE* src, BYTE srcType, BYTE* dst, BYTE dstType) {
    if (srcType == dstType) {
        std::memcpy(dst, src, DeclTypeSize(srcType));
        return true;
    }
    float value[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    if (srcType == D3DDECLTYPE_D3DCOLOR) {
        DWORD color;
        std::memcpy(&color, src, 4);
        ColorToFloats(color, value);
    } else if (int n = FloatComponents(srcType)) {
        std::memcpy(value, src, size_t(n) * 4);
    } else {
        return false;
    }
    if (dstType == D3DDECLTYPE_D3DCOLOR) {
        const DWORD color = FloatsToColor(value);
        std::memcpy(dst, &color, 4);
    } else if (int n = FloatComponents(dstType)) {
        std::memcpy(dst, value, size_t(n) * 4);
    } else {
        return false;
    }
    return true;
}

} // namespace fw::d3dx9mesh

using fw::d3dx9mesh::DescribeFVF;
using fw::d3dx9mesh::VertexLayout;

UINT WINAPI D3DXGetFVFVertexSize(DWORD FVF) {
    VertexLayout layout;
    return DescribeFVF(FVF, &layout) ? layout.size : 0;
}

HRESULT WINAPI D3DXDeclaratorFromFVF(DWORD FVF, D3DVERTEXELEMENT9 pDeclarator[MAX_FVF_DECL_SIZE]) {
    VertexLayout layout;
    if (!pDeclarator || !DescribeFVF(FVF, &layout))
        return D3DERR_INVALIDCALL;
    for (int i = 0; i < layout.count; ++i) {
        const auto& e = layout.elements[i];
        pDeclarator[i] = {0, e.offset, e.type, D3DDECLMETHOD_DEFAULT, e.usage, e.usageIndex};
    }
    pDeclarator[layout.count] = D3DDECL_END();
    return D3D_OK;
}
