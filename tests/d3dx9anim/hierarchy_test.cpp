#include "hierarchy_kit.h"
#include "xfile_writers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <sstream>

using namespace xtest;

namespace {

const char* kModel = R"(xof 0303txt 0032
template Custom { <12345678-1234-1234-1234-123456789012> DWORD a; }
Material Red { 1.0;0.0;0.0;1.0;; 8.0; 1.0;1.0;1.0;; 0.0;0.0;0.0;; }
Frame Root {
  Frame Body {
    FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,10,0,1;; }
    Mesh BodyMesh {
      8;
      0;0;0;, 0;1;0;, 1;0;0;, 1;1;0;, 0;0;1;, 0;1;1;, 1;0;1;, 1;1;1;;
      6;
      4;0,1,3,2;, 4;2,3,7,6;, 4;6,7,5,4;, 4;4,5,1,0;, 4;1,5,7,3;, 4;4,0,2,6;;
      MeshNormals {
        6; 0.0;0.0;-1.0;, 1.0;0.0;0.0;, 0.0;0.0;1.0;, -1.0;0.0;0.0;, 0.0;1.0;0.0;, 0.0;-1.0;0.0;;
        6; 4;0,0,0,0;, 4;1,1,1,1;, 4;2,2,2,2;, 4;3,3,3,3;, 4;4,4,4,4;, 4;5,5,5,5;;
      }
      MeshTextureCoords { 8; 0.0;0.0;, 0.0;1.0;, 1.0;0.0;, 1.0;1.0;, 0.0;0.0;, 0.0;1.0;, 1.0;0.0;, 1.0;1.0;; }
      MeshMaterialList {
        2; 6; 1,0,1,0,0,1;;
        {Red}
        Material Blue { 0.0;0.0;1.0;0.5;; 2.0; 0.5;0.5;0.5;; 0.25;0.25;0.25;; TextureFilename { "blue.bmp"; } }
      }
      XSkinMeshHeader { 1; 1; 2; }
      SkinWeights { "Body"; 4; 0,1,2,3; 1.0,1.0,0.5,1.0; 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, 0.0,-10.0,0.0,1.0;; }
      SkinWeights { "Arm"; 5; 2,4,5,6,7; 0.5,1.0,1.0,1.0,1.0; 1.0,0.0,0.0,0.0, 0.0,1.0,0.0,0.0, 0.0,0.0,1.0,0.0, -2.0,-10.0,0.0,1.0;; }
    }
    Custom { 5; }
    Frame Arm {
      FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 2,0,0,1;; }
      Mesh { 5; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 2.0;1.0;0.0;, 1.0;2.0;0.0;, 0.0;1.0;0.0;; 1; 5;0,1,2,3,4;; }
    }
  }
  Frame Empty { Mesh Nothing { 0;; 0;; } }
}
Mesh Loose { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,2;; }
AnimTicksPerSecond { 100; }
AnimationSet Walk { Animation { {Arm} AnimationKey { 2; 2; 0;3;2.0,0.0,0.0;;, 100;3;2.0,5.0,0.0;;; } } }
AnimationSet Idle { Animation { {Arm} AnimationKey { 2; 2; 0;3;2.0,1.0,0.0;;, 100;3;2.0,1.0,0.0;;; } } }
)";

std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    return WriteTempFile(name, bytes);
}

std::vector<uint8_t> MeshBytes(ID3DXMesh* mesh) {
    std::vector<uint8_t> out;
    void* p = nullptr;
    if (SUCCEEDED(mesh->LockVertexBuffer(D3DLOCK_READONLY, &p))) {
        const auto* b = static_cast<const uint8_t*>(p);
        out.assign(b, b + mesh->GetNumVertices() * mesh->GetNumBytesPerVertex());
        mesh->UnlockVertexBuffer();
    }
    return out;
}

std::vector<DWORD> MeshIndices(ID3DXMesh* mesh) {
    std::vector<DWORD> out;
    void* p = nullptr;
    if (SUCCEEDED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &p))) {
        for (DWORD i = 0; i < mesh->GetNumFaces() * 3; ++i)
            out.push_back(mesh->GetOptions() & D3DXMESH_32BIT ? static_cast<DWORD*>(p)[i]
                                                              : static_cast<WORD*>(p)[i]);
        mesh->UnlockIndexBuffer();
    }
    return out;
}

// Everything the loader delivers, as text, so encodings can be compared whole.
std::string Summary(const Loaded& l) {
    std::ostringstream s;
    for (const std::string& call : l.alloc.calls)
        s << call << "\n";
    for (const D3DXFRAME* f : AllFrames(l.root)) {
        s << "frame " << (f->Name ? f->Name : "null");
        for (int i = 0; i < 16; ++i)
            s << " " << f->TransformationMatrix.m[i / 4][i % 4];
        s << "\n";
    }
    for (const D3DXMESHCONTAINER* c : AllContainers(l.root)) {
        ID3DXMesh* mesh = c->MeshData.pMesh;
        const auto bytes = MeshBytes(mesh);
        s << "mesh " << c->Name << " fvf " << mesh->GetFVF() << " v " << mesh->GetNumVertices()
          << " f " << mesh->GetNumFaces() << " bytes "
          << std::hash<std::string>()(std::string(bytes.begin(), bytes.end())) << " materials "
          << c->NumMaterials << "\n";
        for (DWORD i : MeshIndices(mesh))
            s << i << " ";
        s << "\n";
        const auto* rc = static_cast<const RecordingAllocator::Container*>(c);
        for (size_t m = 0; m < rc->materials.size(); ++m)
            s << "material " << rc->materials[m].MatD3D.Diffuse.b << " " << rc->textures[m] << "\n";
        if (c->pSkinInfo)
            for (DWORD b = 0; b < c->pSkinInfo->GetNumBones(); ++b)
                s << "bone " << c->pSkinInfo->GetBoneName(b) << " "
                  << c->pSkinInfo->GetNumBoneInfluences(b) << "\n";
    }
    if (l.controller) {
        for (UINT i = 0; i < l.controller->GetNumAnimationSets(); ++i) {
            ID3DXAnimationSet* set = nullptr;
            l.controller->GetAnimationSet(i, &set);
            s << "set " << set->GetName() << " " << set->GetPeriod() << "\n";
            l.controller->SetTrackAnimationSet(0, set);
            l.controller->SetTrackPosition(0, 0.3);
            l.controller->AdvanceTime(0.0, nullptr);
            for (const D3DXFRAME* f : AllFrames(l.root))
                s << " " << f->TransformationMatrix._41 << "," << f->TransformationMatrix._42;
            s << "\n";
            set->Release();
        }
    }
    return s.str();
}

const D3DXFRAME* Find(const Loaded& l, const char* name) {
    return D3DXFrameFind(l.root, name);
}

} // namespace

class HierarchyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(SharedDevice(), nullptr) << "no Direct3D device"; }
};

TEST_F(HierarchyTest, FramesAndContainersComeThroughTheAllocatorInFileOrder) {
    Loaded l(Write("model.x", Bytes(kModel)));
    ASSERT_EQ(l.hr, S_OK);
    const std::vector<std::string> calls = {
        "frame 'Root'",  "frame 'Body'", "container 'BodyMesh'", "frame 'Arm'", "container ''",
        "frame 'Empty'", "frame null",   "container 'Loose'",    "frame null"};
    EXPECT_EQ(l.alloc.calls, calls);
    // Two top-level frames hang under an unnamed root created last.
    ASSERT_NE(l.root, nullptr);
    EXPECT_EQ(l.root->Name, nullptr);
    const D3DXFRAME* root = l.root->pFrameFirstChild;
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->Name, "Root");
    ASSERT_NE(root->pFrameSibling, nullptr);
    EXPECT_EQ(root->pFrameSibling->Name, nullptr);
    EXPECT_STREQ(root->pFrameSibling->pMeshContainer->Name, "Loose");
    EXPECT_STREQ(root->pFrameFirstChild->pFrameSibling->Name, "Empty");
    EXPECT_EQ(Find(l, "Empty")->pMeshContainer, nullptr); // an empty mesh makes no container
    EXPECT_FLOAT_EQ(Find(l, "Body")->TransformationMatrix._42, 10.0f);
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    EXPECT_EQ(root->TransformationMatrix, identity);
}

TEST_F(HierarchyTest, MeshesAreSplitSortedByMaterialAndCarryTheirAdjacency) {
    Loaded l(Write("model.x", Bytes(kModel)));
    ASSERT_EQ(l.hr, S_OK);
    const auto* body =
        static_cast<const RecordingAllocator::Container*>(Find(l, "Body")->pMeshContainer);
    ASSERT_NE(body, nullptr);
    ID3DXMesh* mesh = body->MeshData.pMesh;
    EXPECT_EQ(body->MeshData.Type, D3DXMESHTYPE_MESH);
    EXPECT_EQ(mesh->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    EXPECT_EQ(mesh->GetOptions(), DWORD(D3DXMESH_MANAGED));
    EXPECT_EQ(mesh->GetNumVertices(), 24u);
    EXPECT_EQ(mesh->GetNumFaces(), 12u);
    DWORD ranges = 0;
    mesh->GetAttributeTable(nullptr, &ranges);
    ASSERT_EQ(ranges, 2u);
    D3DXATTRIBUTERANGE table[2];
    mesh->GetAttributeTable(table, &ranges);
    EXPECT_EQ(table[0].AttribId, 0u);
    EXPECT_EQ(table[0].FaceStart, 0u);
    EXPECT_EQ(table[0].FaceCount, 6u);
    EXPECT_EQ(table[1].FaceStart, 6u);
    EXPECT_EQ(table[1].FaceCount, 6u);
    // Faces of material 0 come first in file order: quads 1, 3 and 4.
    const std::vector<DWORD> indices = MeshIndices(mesh);
    EXPECT_EQ(std::vector<DWORD>(indices.begin(), indices.begin() + 6),
              (std::vector<DWORD>{8, 9, 7, 8, 7, 6}));
    std::vector<DWORD> adjacency(36);
    mesh->GenerateAdjacency(0.0f, adjacency.data());
    EXPECT_EQ(body->adjacency, adjacency);
    // Materials: the referenced top-level one, then the inline textured one.
    ASSERT_EQ(body->NumMaterials, 2u);
    EXPECT_FLOAT_EQ(body->materials[0].MatD3D.Diffuse.r, 1.0f);
    EXPECT_FLOAT_EQ(body->materials[0].MatD3D.Power, 8.0f);
    EXPECT_EQ(body->textures[0], "");
    EXPECT_FLOAT_EQ(body->materials[1].MatD3D.Diffuse.a, 0.5f);
    EXPECT_EQ(body->textures[1], "blue.bmp");
    // Effect defaults D3DX derives from each material, texture last.
    ASSERT_EQ(body->effects.size(), 2u);
    EXPECT_EQ(body->effects[1], "Diffuse=0.000000/16 Power=2.000000/4 Specular=0.500000/16 "
                                "Emissive=0.250000/16 Ambient=0.000000/16 Texture0@Name=blue.bmp ");

    // Without MeshMaterialList: no materials, no skin, one range over everything.
    const auto* arm = Find(l, "Arm")->pMeshContainer;
    ASSERT_NE(arm, nullptr);
    EXPECT_EQ(arm->NumMaterials, 0u);
    EXPECT_EQ(arm->pMaterials, nullptr);
    EXPECT_EQ(arm->pSkinInfo, nullptr);
    EXPECT_EQ(arm->MeshData.pMesh->GetFVF(), DWORD(D3DFVF_XYZ));
    EXPECT_EQ(MeshIndices(arm->MeshData.pMesh), (std::vector<DWORD>{0, 1, 2, 0, 2, 3, 0, 3, 4}));
    arm->MeshData.pMesh->GetAttributeTable(nullptr, &ranges);
    EXPECT_EQ(ranges, 1u);
}

TEST_F(HierarchyTest, SkinInfluencesReachEverySplitCopy) {
    Loaded l(Write("model.x", Bytes(kModel)));
    ASSERT_EQ(l.hr, S_OK);
    ID3DXSkinInfo* skin = Find(l, "Body")->pMeshContainer->pSkinInfo;
    ASSERT_NE(skin, nullptr);
    ASSERT_EQ(skin->GetNumBones(), 2u);
    EXPECT_STREQ(skin->GetBoneName(1), "Arm");
    EXPECT_FLOAT_EQ(skin->GetBoneOffsetMatrix(1)->_41, -2.0f);
    EXPECT_EQ(skin->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    // File vertex 2 appears three times after the split (itself, 8 and 22); each copy
    // is weighted 0.5 by both bones.
    for (DWORD bone = 0; bone < 2; ++bone) {
        std::vector<DWORD> vertices(skin->GetNumBoneInfluences(bone));
        std::vector<FLOAT> weights(vertices.size());
        skin->GetBoneInfluence(bone, vertices.data(), weights.data());
        for (DWORD v : {2u, 8u, 22u}) {
            const auto at = std::find(vertices.begin(), vertices.end(), v);
            ASSERT_NE(at, vertices.end()) << "bone " << bone << " vertex " << v;
            EXPECT_FLOAT_EQ(weights[size_t(at - vertices.begin())], 0.5f);
        }
    }
    EXPECT_EQ(skin->GetNumBoneInfluences(0), 12u); // 4 file vertices with two copies each
}

TEST_F(HierarchyTest, ControllerPlaysTheLastSetOnTrackZeroAndAnimatesFrames) {
    Loaded l(Write("model.x", Bytes(kModel)));
    ASSERT_EQ(l.hr, S_OK);
    ID3DXAnimationController* ac = l.controller;
    ASSERT_NE(ac, nullptr);
    EXPECT_EQ(ac->GetNumAnimationSets(), 2u);
    EXPECT_GE(ac->GetMaxNumTracks(), 2u);
    ID3DXAnimationSet* set = nullptr;
    ASSERT_EQ(ac->GetTrackAnimationSet(0, &set), S_OK);
    ASSERT_NE(set, nullptr);
    EXPECT_STREQ(set->GetName(), "Idle");
    set->Release();
    D3DXTRACK_DESC desc{};
    ac->GetTrackDesc(0, &desc);
    EXPECT_TRUE(desc.Enable);
    EXPECT_FLOAT_EQ(desc.Weight, 1.0f);
    EXPECT_FLOAT_EQ(desc.Speed, 1.0f);
    ac->GetTrackDesc(1, &desc);
    EXPECT_FALSE(desc.Enable);
    EXPECT_FLOAT_EQ(desc.Weight, 0.0f);

    const D3DXFRAME* arm = Find(l, "Arm");
    EXPECT_FLOAT_EQ(arm->TransformationMatrix._42, 0.0f); // untouched until time advances
    ac->AdvanceTime(0.5, nullptr);
    EXPECT_FLOAT_EQ(arm->TransformationMatrix._41, 2.0f);
    EXPECT_FLOAT_EQ(arm->TransformationMatrix._42, 1.0f);
    ASSERT_EQ(ac->GetAnimationSetByName("Walk", &set), S_OK);
    EXPECT_DOUBLE_EQ(set->GetPeriod(), 1.0);
    ac->SetTrackAnimationSet(0, set);
    set->Release();
    ac->AdvanceTime(0.0, nullptr);
    EXPECT_FLOAT_EQ(arm->TransformationMatrix._42, 2.5f);
    EXPECT_FLOAT_EQ(Find(l, "Body")->TransformationMatrix._42, 10.0f); // not animated
}

TEST_F(HierarchyTest, TextBinaryAndCompressedFormsLoadTheSameModel) {
    Loaded text(Write("model.x", Bytes(kModel)));
    ASSERT_EQ(text.hr, S_OK);
    const std::string expected = Summary(text);
    const auto binary = TextToBinary(kModel);
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> forms = {
        {"bin.x", binary},
        {"bin64.x", TextToBinary(kModel, true)},
        {"tzip.x", Compress(Bytes(kModel), 700)},
        {"bzip.x", Compress(binary, 500)},
    };
    for (const auto& [name, bytes] : forms) {
        Loaded other(Write(name, bytes));
        ASSERT_EQ(other.hr, S_OK) << name;
        EXPECT_EQ(Summary(other), expected) << name;
    }
}

TEST_F(HierarchyTest, NoAnimationSetMeansNoController) {
    Loaded l(Write("static.x", Bytes("xof 0302txt 0064\nMesh { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, "
                                     "0.0;1.0;0.0;; 1; 3;0,1,2;; }")));
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.controller, nullptr);
    EXPECT_EQ(l.root->Name, nullptr); // a loose mesh gets an unnamed frame
    EXPECT_EQ(l.root->pFrameSibling, nullptr);
    EXPECT_NE(l.root->pMeshContainer, nullptr);
}

TEST_F(HierarchyTest, AllocatorFailuresFailTheLoadAndFreeWhatWasBuilt) {
    const std::string path = Write("model.x", Bytes(kModel));
    testing::internal::CaptureStderr();
    for (int at = 0; at < 3; ++at) {
        RecordingAllocator alloc;
        alloc.failContainerAt = at;
        LPD3DXFRAME root = reinterpret_cast<LPD3DXFRAME>(1);
        LPD3DXANIMATIONCONTROLLER ac = reinterpret_cast<LPD3DXANIMATIONCONTROLLER>(1);
        EXPECT_EQ(D3DXLoadMeshHierarchyFromXA(path.c_str(), D3DXMESH_MANAGED, SharedDevice(),
                                              &alloc, nullptr, &root, &ac),
                  E_FAIL);
        EXPECT_EQ(root, nullptr);
        EXPECT_EQ(ac, nullptr);
        EXPECT_EQ(alloc.live, 0) << "container " << at;
    }
    for (int at = 0; at < 6; ++at) {
        RecordingAllocator alloc;
        alloc.failFrameAt = at;
        LPD3DXFRAME root = nullptr;
        EXPECT_EQ(D3DXLoadMeshHierarchyFromXA(path.c_str(), D3DXMESH_MANAGED, SharedDevice(),
                                              &alloc, nullptr, &root, nullptr),
                  E_OUTOFMEMORY);
        EXPECT_EQ(alloc.live, 0) << "frame " << at;
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("CreateMeshContainer 'BodyMesh' failed"), std::string::npos) << err;
    EXPECT_NE(err.find("CreateFrame 'Arm' failed"), std::string::npos) << err;
}

TEST_F(HierarchyTest, BadFilesFailWithOneDiagnosticLine) {
    const struct {
        std::string name;
        std::string content;
        std::string diagnostic;
    } cases[] = {
        {"header.x", "xof 0302txt 0032", "holds no frame and no mesh"},
        {"magic.x", "xox 0302txt 0032\nFrame {}", "no 'xof ' signature"},
        {"truncated.x",
         std::string(kModel).substr(0, std::string(kModel).find("MeshNormals {") + 20),
         "file ends inside 'MeshNormals'"},
        {"index.x",
         "xof 0302txt 0032\nMesh M { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,5;; }",
         "Mesh at line 2: face index 5 is past the 3 vertices"},
        {"keys.x",
         "xof 0302txt 0032\nFrame A {} AnimationSet { Animation { {A} AnimationKey { 9; 0;; } } }",
         "unknown key type 9"},
    };
    for (const auto& c : cases) {
        const std::string path = Write(c.name, Bytes(c.content));
        testing::internal::CaptureStderr();
        {
            Loaded l(path);
            EXPECT_EQ(l.hr, E_FAIL) << c.name;
            EXPECT_EQ(l.root, nullptr);
        }
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.diagnostic), std::string::npos) << err;
        EXPECT_NE(err.find(c.name), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    // What is not a regular file of a sane size fails at once, nothing read, nothing waited for.
    const std::filesystem::path big = Write("big.x", {});
    const std::filesystem::path dir = big.parent_path(), folder = dir / "hero.X",
                                pipe = dir / "pipe.x";
    std::filesystem::create_directories(folder);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::filesystem::resize_file(big, 5ull << 30); // sparse: 5 GiB
    for (const auto& [path, reason] : {std::pair{dir / "does-not-exist.x", "file not found"},
                                       {folder, "not a regular file"},
                                       {pipe, "not a regular file"},
                                       {big, "at most 268435456 bytes"}}) {
        testing::internal::CaptureStderr();
        Loaded odd(path.string());
        EXPECT_EQ(odd.hr, E_FAIL);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(reason), std::string::npos) << err;
    }
}

TEST_F(HierarchyTest, MissingArgumentsAreInvalidCalls) {
    RecordingAllocator alloc;
    LPD3DXFRAME root = nullptr;
    const std::string path = Write("model.x", Bytes(kModel));
    EXPECT_EQ(
        D3DXLoadMeshHierarchyFromXA(nullptr, 0, SharedDevice(), &alloc, nullptr, &root, nullptr),
        D3DERR_INVALIDCALL);
    EXPECT_EQ(
        D3DXLoadMeshHierarchyFromXA(path.c_str(), 0, nullptr, &alloc, nullptr, &root, nullptr),
        D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXLoadMeshHierarchyFromXA(path.c_str(), 0, SharedDevice(), nullptr, nullptr, &root,
                                          nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXLoadMeshHierarchyFromXA(path.c_str(), 0, SharedDevice(), &alloc, nullptr, nullptr,
                                          nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_TRUE(alloc.calls.empty());
}

TEST(Frames, FindSearchesLevelByLevelAndDestroyFreesTheWholeTree) {
    RecordingAllocator alloc;
    const auto make = [&](const char* name) {
        LPD3DXFRAME f = nullptr;
        alloc.CreateFrame(name, &f);
        return f;
    };
    // a -> (b -> (x1)), sibling c -> (x2 sibling null-named)
    LPD3DXFRAME a = make("a"), b = make("b"), c = make("c"), x1 = make("x"), x2 = make("x"),
                unnamed = make(nullptr);
    a->pFrameFirstChild = b;
    b->pFrameFirstChild = x1;
    a->pFrameSibling = c;
    c->pFrameFirstChild = x2;
    x2->pFrameSibling = unnamed;
    EXPECT_EQ(D3DXFrameFind(a, "c"), c);  // siblings of the root come first
    EXPECT_EQ(D3DXFrameFind(a, "x"), x2); // the shallower of two namesakes
    EXPECT_EQ(D3DXFrameFind(a, nullptr), unnamed);
    EXPECT_EQ(D3DXFrameFind(a, "X"), nullptr); // names match case-sensitively
    EXPECT_EQ(D3DXFrameFind(nullptr, "a"), nullptr);
    EXPECT_EQ(D3DXFrameNumNamedMatrices(a), 5u);
    EXPECT_EQ(D3DXFrameDestroy(nullptr, &alloc), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXFrameDestroy(a, &alloc), S_OK);
    EXPECT_EQ(alloc.live, 0);
}

TEST_F(HierarchyTest, FirstCrossFadeAfterLoadingSharesTheFramesEvenlyHalfWay) {
    Loaded l(Write("model.x", Bytes(kModel)));
    ASSERT_EQ(l.hr, S_OK);
    ID3DXAnimationController* ac = l.controller;
    ac->AdvanceTime(0.5, nullptr); // Idle holds the arm at y = 1
    ID3DXAnimationSet* walk = nullptr;
    ASSERT_EQ(ac->GetAnimationSetByName("Walk", &walk), S_OK);
    const double t = ac->GetTime();
    ac->SetTrackAnimationSet(1, walk);
    walk->Release();
    ac->UnkeyAllTrackEvents(0);
    ac->UnkeyAllTrackEvents(1);
    ac->KeyTrackEnable(0, FALSE, t + 0.25);
    ac->KeyTrackSpeed(0, 0.0f, t, 0.25, D3DXTRANSITION_LINEAR);
    ac->KeyTrackWeight(0, 0.0f, t, 0.25, D3DXTRANSITION_LINEAR);
    ac->SetTrackEnable(1, TRUE);
    ac->KeyTrackSpeed(1, 1.0f, t, 0.25, D3DXTRANSITION_LINEAR);
    ac->KeyTrackWeight(1, 1.0f, t, 0.25, D3DXTRANSITION_LINEAR);
    ac->AdvanceTime(0.125, nullptr);
    D3DXTRACK_DESC oldTrack{}, newTrack{};
    ac->GetTrackDesc(0, &oldTrack);
    ac->GetTrackDesc(1, &newTrack);
    EXPECT_FLOAT_EQ(oldTrack.Weight, 0.5f);
    EXPECT_FLOAT_EQ(newTrack.Weight, 0.5f);
    // The frame sits half-way between Idle and wherever Walk's track has got to.
    D3DXVECTOR3 walkAt;
    ID3DXAnimationSet* set = nullptr;
    ac->GetTrackAnimationSet(1, &set);
    set->GetSRT(set->GetPeriodicPosition(newTrack.Position), 0, nullptr, nullptr, &walkAt);
    set->Release();
    const D3DXFRAME* arm = D3DXFrameFind(l.root, "Arm");
    EXPECT_NEAR(arm->TransformationMatrix._42, 0.5f * 1.0f + 0.5f * walkAt.y, 1e-4f);
    ac->AdvanceTime(0.125, nullptr);
    ac->GetTrackDesc(0, &oldTrack);
    EXPECT_FALSE(oldTrack.Enable);
    ac->AdvanceTime(0.1, nullptr);
    ac->GetTrackDesc(1, &newTrack);
    ac->GetTrackAnimationSet(1, &set);
    set->GetSRT(set->GetPeriodicPosition(newTrack.Position), 0, nullptr, nullptr, &walkAt);
    set->Release();
    EXPECT_NEAR(arm->TransformationMatrix._42, walkAt.y, 1e-4f); // only the new track
}
