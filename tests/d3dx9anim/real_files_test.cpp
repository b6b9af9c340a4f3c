// Files written by other exporters (shared test data, never copied into the repository).
#include "hierarchy_kit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

using namespace xtest;

namespace {

std::string RealFile(const std::string& name) {
    return std::string(FERROWALK_SHARED_DIR) + "/testdata/xfiles/" + name;
}

struct Counts {
    DWORD vertices = 0, faces = 0, bones = 0, materials = 0, containers = 0;
};

Counts Count(const Loaded& l) {
    Counts c;
    for (const D3DXMESHCONTAINER* m : AllContainers(l.root)) {
        ++c.containers;
        c.vertices += m->MeshData.pMesh->GetNumVertices();
        c.faces += m->MeshData.pMesh->GetNumFaces();
        c.bones += m->pSkinInfo ? m->pSkinInfo->GetNumBones() : 0;
        c.materials += m->NumMaterials;
    }
    return c;
}

const RecordingAllocator::Container& First(const Loaded& l) {
    return *static_cast<const RecordingAllocator::Container*>(AllContainers(l.root).at(0));
}

} // namespace

class RealFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(RealFile("manifest.tsv")))
            GTEST_SKIP() << "shared test data not present";
        ASSERT_NE(SharedDevice(), nullptr) << "no Direct3D device";
    }
};

TEST_F(RealFiles, StaticMeshesLoadWithTheCountsOtherReadersReport) {
    // Vertices are the file's own (none of these needs a split by normals); faces and
    // materials as assimp reports them (its vertex count for the trueSpace file also
    // counts vertices it splits for tangents, which a D3DX mesh does not have).
    const struct {
        const char* file;
        DWORD vertices, faces, materials, fvf;
    } cases[] = {
        {"assimp/fromtruespace_bin32.x", 4132, 6656, 1, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1},
        {"assimp/kwxport_test_cubewithvcolors.x", 24, 12, 3,
         D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1},
        {"assimp/test.x", 24, 12, 1, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1},
        {"assimp/TestFormatDetection", 24, 12, 1, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1},
        {"dx11x/jiji.x", 138, 236, 1, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX1},
    };
    for (const auto& c : cases) {
        Loaded l(RealFile(c.file));
        ASSERT_EQ(l.hr, S_OK) << c.file;
        const Counts counts = Count(l);
        EXPECT_EQ(counts.containers, 1u) << c.file;
        EXPECT_EQ(counts.vertices, c.vertices) << c.file;
        EXPECT_EQ(counts.faces, c.faces) << c.file;
        EXPECT_EQ(counts.materials, c.materials) << c.file;
        EXPECT_EQ(counts.bones, 0u) << c.file;
        EXPECT_EQ(First(l).MeshData.pMesh->GetFVF(), c.fvf) << c.file;
        EXPECT_EQ(l.controller, nullptr) << c.file;
    }
    Loaded maya(RealFile("assimp/test.x"));
    EXPECT_EQ(First(maya).textures.at(0), ".\\\\test.png"); // as written, backslashes and all
    Loaded loose(RealFile("dx11x/jiji.x"));
    EXPECT_EQ(loose.root->Name, nullptr); // a mesh without a frame
}

TEST_F(RealFiles, TheSameCubeLoadsAlikeFromTextBinaryAndCompressedFiles) {
    Loaded text(RealFile("assimp/test_cube_text.x"));
    Loaded binary(RealFile("assimp/test_cube_binary.x"));
    Loaded compressed(RealFile("assimp/test_cube_compressed.x"));
    for (const Loaded* l : {&text, &binary, &compressed}) {
        ASSERT_EQ(l->hr, S_OK);
        const Counts counts = Count(*l);
        EXPECT_EQ(counts.vertices, 24u);
        EXPECT_EQ(counts.faces, 12u);
        EXPECT_EQ(counts.bones, 1u);
        EXPECT_EQ(l->alloc.calls, text.alloc.calls);
    }
    const auto vertices = [](const Loaded& l) {
        ID3DXMesh* mesh = First(l).MeshData.pMesh;
        std::vector<float> out(mesh->GetNumVertices() * mesh->GetNumBytesPerVertex() / 4);
        void* p = nullptr;
        mesh->LockVertexBuffer(D3DLOCK_READONLY, &p);
        std::memcpy(out.data(), p, out.size() * 4);
        mesh->UnlockVertexBuffer();
        return out;
    };
    EXPECT_EQ(vertices(binary), vertices(compressed));
    const auto a = vertices(text), b = vertices(binary);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_NEAR(a[i], b[i], 1e-5f) << i; // text holds six decimals
}

TEST_F(RealFiles, SkinnedAnimatedCylinderStartsInItsBindPose) {
    Loaded l(RealFile("assimp/anim_test.x"));
    ASSERT_EQ(l.hr, S_OK);
    const Counts counts = Count(l);
    EXPECT_EQ(counts.vertices, 1720u);
    EXPECT_EQ(counts.faces, 840u);
    EXPECT_EQ(counts.bones, 4u);
    EXPECT_EQ(AllFrames(l.root).size(), 5u); // three top-level frames under a new root
    ASSERT_NE(l.controller, nullptr);
    ASSERT_EQ(l.controller->GetNumAnimationSets(), 1u);
    ID3DXAnimationSet* set = nullptr;
    ASSERT_EQ(l.controller->GetAnimationSetByName("cylinder_test", &set), S_OK);
    EXPECT_DOUBLE_EQ(set->GetPeriod(), 1.0); // 24 keys at 24 ticks a second
    EXPECT_EQ(set->GetNumAnimations(), 4u);
    set->Release();
    // The first keys hold the bind pose: rotations read the right way round put every
    // animated frame back on its own matrix.
    std::vector<D3DXMATRIX> bind;
    const char* names[] = {"joint1", "joint2", "ikHandle1"};
    for (const char* name : names)
        bind.push_back(D3DXFrameFind(l.root, name)->TransformationMatrix);
    l.controller->SetTrackPosition(0, 1.0 / 24.0);
    l.controller->AdvanceTime(0.0, nullptr);
    for (size_t i = 0; i < bind.size(); ++i) {
        const D3DXMATRIX& now = D3DXFrameFind(l.root, names[i])->TransformationMatrix;
        for (int k = 0; k < 16; ++k)
            EXPECT_NEAR(now.m[k / 4][k % 4], bind[i].m[k / 4][k % 4], 1e-3f) << names[i] << k;
    }
    // Half-way the joint has turned away from it.
    l.controller->AdvanceTime(0.5, nullptr);
    const D3DXMATRIX& bent = D3DXFrameFind(l.root, "joint2")->TransformationMatrix;
    EXPECT_GT(std::fabs(bent._11 - bind[1]._11) + std::fabs(bent._12 - bind[1]._12), 0.01f);
}

TEST_F(RealFiles, SkinWeightPastTheVerticesFailsCleanly) {
    testing::internal::CaptureStderr();
    {
        Loaded l(RealFile("assimp/malformed_skinweights_oob.x"));
        EXPECT_EQ(l.hr, E_FAIL);
        EXPECT_EQ(l.root, nullptr);
        EXPECT_EQ(l.alloc.calls.size(), 2u); // the frames built before the mesh, then freed
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("malformed_skinweights_oob.x: SkinWeights at line"), std::string::npos)
        << err;
    EXPECT_NE(err.find("weights vertex 1000000 of 24"), std::string::npos) << err;
}
