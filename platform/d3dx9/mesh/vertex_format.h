// Layout of a vertex described by an FVF code: the elements in the order D3D packs
// them, with their declaration usage, type and byte offset.
#pragma once

#include "platform/d3d9.h"

namespace fw::d3dx9mesh {

struct VertexElement {
    BYTE usage; // D3DDECLUSAGE
    BYTE usageIndex;
    BYTE type;   // D3DDECLTYPE
    WORD offset; // bytes from the start of the vertex
};

struct VertexLayout {
    VertexElement elements[16];
    int count = 0;
    DWORD size = 0;          // bytes per vertex
    int positionOffset = -1; // FLOAT3 position (XYZ, XYZBn), -1 otherwise
    int normalOffset = -1;   // FLOAT3 normal, -1 when absent

    const VertexElement* Find(BYTE usage, BYTE usageIndex) const;
};

// False for codes with reserved bits, an unknown position kind or more than 8 texture
// coordinate sets.
bool DescribeFVF(DWORD fvf, VertexLayout* layout);

// Bytes taken by one element of a declaration type (0 for unknown types).
DWORD DeclTypeSize(BYTE type);

// Converts one element between declaration types: float vectors of any width (missing
// components 0, a missing fourth component 1), D3DCOLOR to and from float vectors;
// identical types are copied. Returns false (destination untouched) for other pairs.
bool ConvertElement(const BYTE* src, BYTE srcType, BYTE* dst, BYTE dstType);

} // namespace fw::d3dx9mesh
