// The inner loops of software skinning, one pass over the vertices in order.
#pragma once

#include "platform/d3dx9mesh.h"

namespace fw::d3dx9mesh {

// Runs of 4-byte words of a vertex that skinning copies unchanged: everything but the
// float3 position at positionOffset and, when normalOffset >= 0, the float3 normal.
struct CopySpans {
    struct Span {
        DWORD firstWord, words;
    };
    Span spans[3];
    int count = 0;

    CopySpans(DWORD stride, int positionOffset, int normalOffset);
    void Copy(const BYTE* src, BYTE* dst) const {
        for (int i = 0; i < count; ++i)
            for (DWORD w = spans[i].firstWord; w < spans[i].firstWord + spans[i].words; ++w) {
                uint32_t word;
                __builtin_memcpy(&word, src + w * 4, 4);
                __builtin_memcpy(dst + w * 4, &word, 4);
            }
    }
};

struct SkinJob {
    const BYTE* src;
    BYTE* dst; // may equal src
    DWORD count;
    DWORD stride;
    int normalOffset;   // -1: no normals; the position is at offset 0
    const DWORD* start; // vertex v's influences: influences[start[v] .. start[v + 1])
    const ID3DXSkinInfo::Influence* influences;
    const D3DXMATRIX* bones;
    const D3DXMATRIX* normalBones; // null: normals use bones
    CopySpans spans;
};

// Bones whose last column is (0, 0, 0, 1): one blended matrix per vertex.
void SkinAffine(const SkinJob& job);
// Any bones: each influence transformed on its own, with the homogeneous divide.
void SkinGeneral(const SkinJob& job);
// Tests: run the portable loops even where the AVX2 ones would be chosen.
void UsePortableSkinning(bool portable);
// Vertices job.count .. end - 1, which no bone influences: position and normal zero,
// the other fields copied.
void ClearUninfluenced(const SkinJob& job, DWORD end);

} // namespace fw::d3dx9mesh
