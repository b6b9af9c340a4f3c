#include "platform/d3dx9/anim/xfile_mesh.h"
#include "tests/kit/environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace fw::xfile;

namespace {

// A write past a block fails the program even when no expectation sees it.
const auto* const kGuardWatch = kit::AddShared(new kit::GuardDamageWatch);

// Parses text and builds the first top-level object as a mesh.
struct Built {
    Document doc;
    MeshData mesh;
    std::string error;
    bool ok = false;
};

Built Build(const std::string& body) {
    Built b;
    const std::string text = "xof 0303txt 0032\n" + body;
    EXPECT_TRUE(ParseDocument(reinterpret_cast<const uint8_t*>(text.data()), text.size(), "m.x",
                              b.doc, b.error))
        << b.error;
    const Object* mesh = nullptr;
    for (const Object* o : b.doc.topLevel)
        if (o->Is("Mesh"))
            mesh = o;
    if (mesh)
        b.ok = BuildMeshData(*mesh, b.mesh, b.error);
    return b;
}

// The cube of eight corners whose six quads each use the face's own normal.
const char* kCube = R"(
Mesh Cube {
  8;
  0;0;0;, 0;1;0;, 1;0;0;, 1;1;0;, 0;0;1;, 0;1;1;, 1;0;1;, 1;1;1;;
  6;
  4;0,1,3,2;, 4;2,3,7,6;, 4;6,7,5,4;, 4;4,5,1,0;, 4;1,5,7,3;, 4;4,0,2,6;;
  MeshNormals {
    6; 0;0;-1;, 1;0;0;, 0;0;1;, -1;0;0;, 0;1;0;, 0;-1;0;;
    6; 4;0,0,0,0;, 4;1,1,1,1;, 4;2,2,2,2;, 4;3,3,3,3;, 4;4,4,4,4;, 4;5,5,5,5;;
  }
  %CHILDREN%
}
)";

std::string Cube(const std::string& children = "") {
    std::string s = kCube;
    s.replace(s.find("%CHILDREN%"), 10, children);
    return s;
}

} // namespace

TEST(XFileMesh, CornersWithDifferentNormalsSplitInFirstNeedOrder) {
    const Built b = Build(Cube());
    ASSERT_TRUE(b.ok) << b.error;
    const MeshData& m = b.mesh;
    EXPECT_EQ(m.fvf, DWORD(D3DFVF_XYZ | D3DFVF_NORMAL));
    EXPECT_EQ(m.NumVertices(), 24u);
    EXPECT_EQ(m.NumFaces(), 12u);
    const std::vector<DWORD> expected = {0,  1,  3,  0,  3,  2,  8,  9,  7,  8,  7,  6,
                                         10, 11, 5,  10, 5,  4,  12, 13, 14, 12, 14, 15,
                                         16, 17, 18, 16, 18, 19, 20, 21, 22, 20, 22, 23};
    EXPECT_EQ(m.indices, expected);
    // A copy keeps its original's position and carries its own normal.
    EXPECT_EQ(m.sourceVertex[8], 2u);
    EXPECT_EQ(m.positions[8], m.positions[2]);
    EXPECT_EQ(m.normals[8], D3DXVECTOR3(1, 0, 0));
    EXPECT_EQ(m.normals[2], D3DXVECTOR3(0, 0, -1));
    EXPECT_FALSE(m.hasMaterialList);
    EXPECT_TRUE(m.materials.empty());
}

TEST(XFileMesh, EqualNormalVectorsUnderDifferentIndicesDoNotSplit) {
    const Built b = Build(R"(Mesh { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 2; 3;0,1,2;, 3;0,2,3;;
        MeshNormals { 2; 0;0;-2;, 0;0;-1;; 2; 3;0,0,0;, 3;1,1,1;; } })");
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_EQ(b.mesh.NumVertices(), 4u);
    EXPECT_EQ(b.mesh.normals[0], D3DXVECTOR3(0, 0, -1)); // normalised on load
}

TEST(XFileMesh, PolygonsFanTriangulateAndKeepTheirMaterial) {
    const Built b = Build(R"(Mesh { 6; 0;0;0;, 1;0;0;, 2;1;0;, 1;2;0;, 0;1;0;, 5;5;5;;
        2; 5;0,1,2,3,4;, 3;4,3,0;;
        MeshMaterialList { 2; 2; 1, 0;
          Material { 1;0;0;1;; 10; 1;1;1;; 0;0;0;; }
          Material { 0;1;0;0.5;; 20; 0.5;0.5;0.5;; 0.1;0.2;0.3;; TextureFilename { "tex\\green.bmp"; } }
        } })");
    ASSERT_TRUE(b.ok) << b.error;
    const MeshData& m = b.mesh;
    EXPECT_EQ(m.fvf, DWORD(D3DFVF_XYZ));
    EXPECT_EQ(m.indices, (std::vector<DWORD>{0, 1, 2, 0, 2, 3, 0, 3, 4, 4, 3, 0}));
    EXPECT_EQ(m.attributes, (std::vector<DWORD>{1, 1, 1, 0}));
    ASSERT_EQ(m.materials.size(), 2u);
    const D3DMATERIAL9& green = m.materials[1].material;
    EXPECT_FLOAT_EQ(green.Diffuse.a, 0.5f);
    EXPECT_FLOAT_EQ(green.Power, 20.0f);
    EXPECT_FLOAT_EQ(green.Specular.a, 1.0f);
    EXPECT_FLOAT_EQ(green.Emissive.b, 0.3f);
    EXPECT_FLOAT_EQ(green.Emissive.a, 1.0f);
    EXPECT_FLOAT_EQ(green.Ambient.r, 0.0f);
    EXPECT_FLOAT_EQ(green.Ambient.a, 1.0f);
    EXPECT_EQ(m.materials[1].texture, "tex\\\\green.bmp"); // kept as written
    EXPECT_FALSE(m.materials[0].hasTexture);
}

TEST(XFileMesh, MaterialsByReferenceAndShortIndexListsApplyToEveryFace) {
    const Built b =
        Build(R"(Material Shiny { 1;1;0;1;; 50; 1;1;1;; 0;0;0;; TextureFileName { ""; } }
        Mesh { 4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; 2; 3;0,1,2;, 3;0,2,3;;
          MeshMaterialList { 1; 1; 0;; {Shiny} } })");
    ASSERT_TRUE(b.ok) << b.error;
    ASSERT_EQ(b.mesh.materials.size(), 1u);
    EXPECT_FLOAT_EQ(b.mesh.materials[0].material.Power, 50.0f);
    EXPECT_FALSE(b.mesh.materials[0].hasTexture); // an empty name is no texture
    EXPECT_EQ(b.mesh.attributes, (std::vector<DWORD>{0, 0}));
}

TEST(XFileMesh, SplitCopiesCarryTheSkinInfluencesOfTheirOriginal) {
    const Built b = Build(Cube(R"(XSkinMeshHeader { 2; 2; 2; }
        SkinWeights { "Hip"; 2; 2, 4; 0.25, 1.0; 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,-5,1;; }
        SkinWeights { "Knee"; 1; 2; 0.75; 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1;; })"));
    ASSERT_TRUE(b.ok) << b.error;
    const MeshData& m = b.mesh;
    ASSERT_TRUE(m.hasSkin);
    ASSERT_EQ(m.bones.size(), 2u);
    EXPECT_EQ(m.bones[0].name, "Hip");
    EXPECT_FLOAT_EQ(m.bones[0].offset._43, -5.0f);
    // Vertex 2 was copied to 8 (face 1) and 22 (face 5): every copy must be weighted
    // exactly like its source.
    for (const MeshBone& bone : m.bones) {
        for (DWORD v = 0; v < m.NumVertices(); ++v) {
            const DWORD src = m.sourceVertex[v];
            const auto find = [&](DWORD vertex) {
                const auto it = std::find(bone.vertices.begin(), bone.vertices.end(), vertex);
                return it == bone.vertices.end() ? -1.0f
                                                 : bone.weights[size_t(it - bone.vertices.begin())];
            };
            EXPECT_EQ(find(v), find(src)) << bone.name << " vertex " << v;
        }
    }
    EXPECT_EQ(std::count(m.sourceVertex.begin(), m.sourceVertex.end(), 2u), 3);
    EXPECT_EQ(m.bones[1].vertices.size(), 3u);
}

TEST(XFileMesh, ColoursAndTextureCoordinatesFollowEveryVertex) {
    const Built b =
        Build(Cube(R"(MeshTextureCoords { 8; 0;0;, 0;1;, 1;0;, 1;1;, 0;0;, 0;1;, 1;0;, 1;1;; }
        MeshVertexColors { 2; 2; 0;0;1;0.1;;, 5; 2;-1;0.5;1;;; })"));
    ASSERT_TRUE(b.ok) << b.error;
    const MeshData& m = b.mesh;
    EXPECT_EQ(m.fvf, DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1));
    EXPECT_EQ(m.colors[2], 0x1A0000FFu);
    EXPECT_EQ(m.colors[8], 0x1A0000FFu); // the copy of vertex 2
    EXPECT_EQ(m.colors[5], 0xFFFF0080u); // channels clamped to 0..1
    EXPECT_EQ(m.colors[0], 0xFFFFFFFFu); // unlisted
    EXPECT_EQ(m.uvs[8], D3DXVECTOR2(1, 0));
}

TEST(XFileMesh, DeclDataSuppliesTextureCoordinatesWhenNothingElseDoes) {
    // Elements: FLOAT3 normal (12 bytes), SHORT4N tangent (8 bytes), FLOAT2 texcoord 0
    // (8 bytes): seven DWORDs a vertex.
    const float u = 0.25f, v = 0.75f;
    DWORD du, dv;
    std::memcpy(&du, &u, 4);
    std::memcpy(&dv, &v, 4);
    const std::string vertex = "0,0,0,7,7," + std::to_string(du) + "," + std::to_string(dv);
    const Built b = Build("Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; DeclData { 3; 2;0;3;0;, "
                          "10;0;6;0;, 1;0;5;0;; 21; " +
                          vertex + "," + vertex + "," + vertex + ";; } }");
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_EQ(b.mesh.fvf, DWORD(D3DFVF_XYZ | D3DFVF_TEX1));
    EXPECT_EQ(b.mesh.uvs[2], D3DXVECTOR2(0.25f, 0.75f));
}

TEST(XFileMesh, FvfDataSuppliesTheFirstTextureSetWhenNothingElseDoes) {
    const auto bits = [](float f) {
        DWORD d;
        std::memcpy(&d, &f, 4);
        return std::to_string(d);
    };
    // Two 2D sets (TEX2) per vertex; the first one is used.
    std::string data;
    for (int v = 0; v < 3; ++v)
        data += bits(0.5f * float(v)) + "," + bits(1.0f) + "," + bits(9.0f) + "," + bits(9.0f) +
                (v < 2 ? "," : ";");
    const Built b = Build("Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; FVFData { 512; 12; " +
                          data + "; } }");
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_EQ(b.mesh.fvf, DWORD(D3DFVF_XYZ | D3DFVF_TEX1));
    EXPECT_EQ(b.mesh.uvs[2], D3DXVECTOR2(1.0f, 1.0f));
    EXPECT_EQ(b.mesh.uvs[1], D3DXVECTOR2(0.5f, 1.0f));
    const Built wrong =
        Build("Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; FVFData { 256; 2; 0,0;; } }");
    EXPECT_FALSE(wrong.ok);
    EXPECT_NE(wrong.error.find("does not match the vertex count"), std::string::npos);
}

TEST(XFileMesh, DataThatContradictsItsCountsFailsWithTheReason) {
    const struct {
        std::string body;
        std::string reason;
    } cases[] = {
        {"Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,3;; }", "face index 3 is past the 3 vertices"},
        {"Mesh { 4000000000; 0;0;0;; 0;; }", "data shorter than its counts"},
        {"Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 99999;0,1,2;; }", "data shorter than its counts"},
        {"Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 1; 4;0,0,0,0;; } "
         "}",
         "normal face 0 has 4 corners, the face 3"},
        {"Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 1; 3;0,0,1;; } }",
         "normal index 1 is past the 1 normals"},
        {"Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshTextureCoords { 2; 0;0;, 1;1;; } }",
         "2 texture coordinates for 3 vertices"},
        {"Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 1;; Material { "
         "1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } }",
         "material index 1 of 1 materials"},
        {"Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 2; 1; 0;; Material { "
         "1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } }",
         "2 materials declared, 1 given"},
        {"Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; SkinWeights { \"B\"; 1; 7; 1.0; "
         "1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; } }",
         "bone 'B' weights vertex 7 of 3"},
        {"Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshVertexColors { 1; 3; 1;1;1;1;;; } }",
         "colour for vertex 3 of 3"},
    };
    for (const auto& c : cases) {
        const Built b = Build(c.body);
        EXPECT_FALSE(b.ok) << c.body;
        EXPECT_NE(b.error.find(c.reason), std::string::npos) << b.error;
        EXPECT_NE(b.error.find(" at line 2"), std::string::npos) << b.error;
    }
}

TEST(XFileMesh, SkinHeaderWithoutWeightsLeavesTheMeshRigid) {
    const Built b = Build(Cube("XSkinMeshHeader { 1; 1; 0; }"));
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_FALSE(b.mesh.hasSkin);
}
