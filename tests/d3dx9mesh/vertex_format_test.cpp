#include "platform/d3dx9mesh.h"

#include <gtest/gtest.h>

namespace {

TEST(VertexFormat, SizesFollowTheFvfLayout) {
    EXPECT_EQ(12u, D3DXGetFVFVertexSize(D3DFVF_XYZ));
    EXPECT_EQ(36u, D3DXGetFVFVertexSize(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1));
    EXPECT_EQ(16u, D3DXGetFVFVertexSize(D3DFVF_XYZRHW));
    EXPECT_EQ(16u, D3DXGetFVFVertexSize(D3DFVF_XYZW));
    EXPECT_EQ(28u, D3DXGetFVFVertexSize(D3DFVF_XYZB4));
    EXPECT_EQ(28u, D3DXGetFVFVertexSize(D3DFVF_XYZB4 | D3DFVF_LASTBETA_UBYTE4));
    EXPECT_EQ(32u, D3DXGetFVFVertexSize(D3DFVF_XYZB5));
    // Texture sets of 1 to 4 floats, each sized by its own bits.
    EXPECT_EQ(12u + 4 + 12 + 16,
              D3DXGetFVFVertexSize(D3DFVF_XYZ | D3DFVF_TEX3 | D3DFVF_TEXCOORDSIZE1(0) |
                                   D3DFVF_TEXCOORDSIZE3(1) | D3DFVF_TEXCOORDSIZE4(2)));
    EXPECT_EQ(12u + 4 + 4 + 4,
              D3DXGetFVFVertexSize(D3DFVF_XYZ | D3DFVF_PSIZE | D3DFVF_DIFFUSE | D3DFVF_SPECULAR));
    // Reserved bits, more than eight texture sets, blend indices without blend weights.
    EXPECT_EQ(0u, D3DXGetFVFVertexSize(D3DFVF_XYZ | D3DFVF_RESERVED0));
    EXPECT_EQ(0u, D3DXGetFVFVertexSize(D3DFVF_XYZ | 0x900));
    EXPECT_EQ(0u, D3DXGetFVFVertexSize(D3DFVF_XYZ | D3DFVF_LASTBETA_UBYTE4));
}

TEST(VertexFormat, DeclarationsNameEveryElementInOrder) {
    D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
    ASSERT_EQ(D3D_OK,
              D3DXDeclaratorFromFVF(D3DFVF_XYZB2 | D3DFVF_LASTBETA_D3DCOLOR | D3DFVF_NORMAL |
                                        D3DFVF_PSIZE | D3DFVF_DIFFUSE | D3DFVF_TEX2,
                                    decl));
    struct Expected {
        WORD offset;
        BYTE type, usage, usageIndex;
    };
    const Expected expected[] = {
        {0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0},
        {12, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_BLENDWEIGHT, 0},
        {16, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_BLENDINDICES, 0},
        {20, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0},
        {32, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0},
        {36, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0},
        {40, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 0},
        {48, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD, 1},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(0, decl[i].Stream);
        EXPECT_EQ(expected[i].offset, decl[i].Offset);
        EXPECT_EQ(expected[i].type, decl[i].Type);
        EXPECT_EQ(expected[i].usage, decl[i].Usage);
        EXPECT_EQ(expected[i].usageIndex, decl[i].UsageIndex);
    }
    EXPECT_EQ(0xFF, decl[std::size(expected)].Stream); // D3DDECL_END
    EXPECT_EQ(D3DERR_INVALIDCALL, D3DXDeclaratorFromFVF(D3DFVF_XYZ | 0x2000, decl));
}

} // namespace
