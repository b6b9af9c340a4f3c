// Frames and mesh containers as the allocation callbacks build and free them.
#include "testkit.h"

#include "core/zqmemory.h"
#include "core/zqmemory_local.h"

#include "platform/d3d9/testing.h"
#include "tests/kit/environment.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define FW_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#define FW_ADDRESS_SANITIZER __has_feature(address_sanitizer)
#else
#define FW_ADDRESS_SANITIZER 0
#endif

using namespace skintest;

namespace {

// A write past a block fails the program even when no expectation sees it.
const auto* const kGuardWatch = kit::AddShared(new kit::GuardDamageWatch);

class HierarchyTest : public ModelTest {};

// A quad mesh made directly, without the loader: XYZ plus the given fields.
ID3DXMesh* MakeQuadMesh(IDirect3DDevice9* device, DWORD fvf) {
    ID3DXMesh* pMesh = nullptr;
    if (FAILED(D3DXCreateMeshFVF(2, 4, D3DXMESH_MANAGED, fvf, device, &pMesh)))
        return nullptr;
    const DWORD stride = pMesh->GetNumBytesPerVertex();
    uint8_t* pVertices = nullptr;
    pMesh->LockVertexBuffer(0, reinterpret_cast<void**>(&pVertices));
    const float positions[4][3] = {{-1, -1, 0}, {-1, 1, 0}, {1, 1, 0}, {1, -1, 0}};
    for (int v = 0; v < 4; ++v)
        std::memcpy(pVertices + v * stride, positions[v], sizeof positions[v]);
    pMesh->UnlockVertexBuffer();
    WORD* pIndices = nullptr;
    pMesh->LockIndexBuffer(0, reinterpret_cast<void**>(&pIndices));
    const WORD indices[6] = {0, 1, 2, 0, 2, 3};
    std::memcpy(pIndices, indices, sizeof indices);
    pMesh->UnlockIndexBuffer();
    return pMesh;
}

D3DXMESHCONTAINER* CreateContainer(HierarchyAllocator& allocator, ID3DXMesh* pMesh,
                                   const D3DXMATERIAL* pMaterials, DWORD numMaterials,
                                   ID3DXSkinInfo* pSkinInfo, HRESULT* pResult) {
    D3DXMESHDATA meshData{};
    meshData.Type = D3DXMESHTYPE_MESH;
    meshData.pMesh = pMesh;
    const DWORD adjacency[6] = {0xFFFFFFFF, 1, 0xFFFFFFFF, 0, 0xFFFFFFFF, 0xFFFFFFFF};
    D3DXMESHCONTAINER* pContainer = nullptr;
    *pResult = allocator.CreateMeshContainer("direct", &meshData, pMaterials, nullptr, numMaterials,
                                             adjacency, pSkinInfo, &pContainer);
    return pContainer;
}

} // namespace

TEST_F(HierarchyTest, MeshWithoutNormalsIsClonedWithNormalsAndMeshWithNormalsIsShared) {
    SkinnedModel model;
    HierarchyAllocator allocator(&model);
    HRESULT hr = E_FAIL;

    ID3DXMesh* pLit = MakeQuadMesh(device, D3DFVF_XYZ | D3DFVF_NORMAL);
    ASSERT_NE(pLit, nullptr);
    D3DXMESHCONTAINER* pShared = CreateContainer(allocator, pLit, nullptr, 0, nullptr, &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(pShared->MeshData.pMesh, pLit);
    EXPECT_EQ(RefCount(pLit), 2u);
    allocator.DestroyMeshContainer(pShared);
    EXPECT_EQ(RefCount(pLit), 1u);
    pLit->Release();

    ID3DXMesh* pPlain = MakeQuadMesh(device, D3DFVF_XYZ | D3DFVF_TEX1);
    ASSERT_NE(pPlain, nullptr);
    D3DXMESHCONTAINER* pCloned = CreateContainer(allocator, pPlain, nullptr, 0, nullptr, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(pCloned->MeshData.pMesh, pPlain);
    EXPECT_EQ(RefCount(pPlain), 1u);
    ID3DXMesh* pClone = pCloned->MeshData.pMesh;
    EXPECT_EQ(pClone->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    EXPECT_EQ(pClone->GetNumVertices(), 4u);
    // The quad lies in z = 0, so every computed normal is a unit vector along z.
    uint8_t* pVertices = nullptr;
    ASSERT_EQ(pClone->LockVertexBuffer(D3DLOCK_READONLY, reinterpret_cast<void**>(&pVertices)),
              S_OK);
    for (DWORD v = 0; v < 4; ++v) {
        D3DXVECTOR3 normal;
        std::memcpy(&normal, pVertices + v * pClone->GetNumBytesPerVertex() + 12, sizeof normal);
        EXPECT_NEAR(std::fabs(normal.z), 1.0f, 1e-5f) << "vertex " << v;
    }
    pClone->UnlockVertexBuffer();
    allocator.DestroyMeshContainer(pCloned);
    pPlain->Release();
}

TEST_F(HierarchyTest, MaterialsAreCopiedAndTheLastTexturedOneNamesTheContainer) {
    WriteBmp(scratch / "first.bmp", 4, 4, 255, 0, 0);
    WriteBmp(scratch / "second.bmp", 4, 4, 0, 255, 0);
    XFrame root("Root");
    XMesh bare = Quad("Bare", 0, 0, 1);
    XMesh twoTextures = Quad("TwoTextures", 0, 0, 1);
    twoTextures.materials = {
        {1, 0, 0, 1, "first.bmp"}, {0, 1, 0, 1, ""}, {0, 0, 1, 1, "second.bmp"}};
    twoTextures.faceMaterials = {0, 2};
    XMesh missing = Quad("Missing", 0, 0, 1);
    missing.materials = {{1, 1, 1, 1, "missing.bmp"}};
    XMesh untextured = Quad("Untextured", 0, 0, 1);
    untextured.materials = {{0.25f, 0.5f, 0.75f, 1, ""}};
    root.meshes = {bare, twoTextures, missing, untextured};

    SkinnedModel model;
    ASSERT_EQ(LoadX(model, FileOf(root)), S_OK);

    SkinMeshContainer* pBare = FindContainer(model.GetFrameRoot(), "Bare");
    ASSERT_NE(pBare, nullptr);
    ASSERT_EQ(pBare->NumMaterials, 1u);
    const D3DMATERIAL9& grey = pBare->pMaterials[0].MatD3D;
    EXPECT_EQ(grey.Diffuse.r, 0.5f);
    EXPECT_EQ(grey.Diffuse.g, 0.5f);
    EXPECT_EQ(grey.Diffuse.b, 0.5f);
    EXPECT_EQ(grey.Diffuse.a, 0.0f);
    EXPECT_EQ(std::memcmp(&grey.Specular, &grey.Diffuse, sizeof grey.Diffuse), 0);
    EXPECT_EQ(grey.Ambient.r + grey.Ambient.g + grey.Ambient.b + grey.Ambient.a, 0.0f);
    EXPECT_EQ(grey.Emissive.r + grey.Emissive.g + grey.Emissive.b + grey.Emissive.a, 0.0f);
    EXPECT_EQ(grey.Power, 0.0f);
    EXPECT_EQ(pBare->ppMaterialTextures[0], nullptr);
    EXPECT_STREQ(pBare->TextureName, "");

    SkinMeshContainer* pTwo = FindContainer(model.GetFrameRoot(), "TwoTextures");
    ASSERT_NE(pTwo, nullptr);
    ASSERT_EQ(pTwo->NumMaterials, 3u);
    EXPECT_STREQ(pTwo->TextureName, "second.bmp");
    EXPECT_NE(pTwo->ppMaterialTextures[0], nullptr);
    EXPECT_EQ(pTwo->ppMaterialTextures[1], nullptr);
    EXPECT_NE(pTwo->ppMaterialTextures[2], nullptr);
    EXPECT_EQ(pTwo->pMaterials[2].MatD3D.Diffuse.b, 1.0f);

    SkinMeshContainer* pMissing = FindContainer(model.GetFrameRoot(), "Missing");
    ASSERT_NE(pMissing, nullptr);
    EXPECT_EQ(pMissing->ppMaterialTextures[0], nullptr);
    EXPECT_STREQ(pMissing->TextureName, "missing.bmp");

    SkinMeshContainer* pUntextured = FindContainer(model.GetFrameRoot(), "Untextured");
    ASSERT_NE(pUntextured, nullptr);
    EXPECT_STREQ(pUntextured->TextureName, "");
    EXPECT_EQ(pUntextured->pMaterials[0].MatD3D.Diffuse.g, 0.5f);

    for (SkinMeshContainer* pContainer : AllContainers(model.GetFrameRoot())) {
        EXPECT_EQ(pContainer->pEffects, nullptr);
        for (DWORD i = 0; i < pContainer->NumMaterials; ++i)
            EXPECT_EQ(pContainer->pMaterials[i].pTextureFilename, nullptr) << pContainer->Name;
    }
}

TEST_F(HierarchyTest, TextureNameTooLongForTheFieldIsCut) {
    SkinnedModel model;
    HierarchyAllocator allocator(&model);
    ID3DXMesh* pMesh = MakeQuadMesh(device, D3DFVF_XYZ | D3DFVF_NORMAL);
    ASSERT_NE(pMesh, nullptr);

    std::string longName(400, 'a');
    longName.replace(longName.size() - 18, 18, "RobotHighLight.bmp");
    D3DXMATERIAL materials[2]{};
    materials[0].pTextureFilename = const_cast<char*>("RobotHighLight.bmp");
    materials[1].pTextureFilename = longName.data();
    HRESULT hr = E_FAIL;
    auto* pContainer = static_cast<SkinMeshContainer*>(
        CreateContainer(allocator, pMesh, materials, 2, nullptr, &hr));
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(std::strlen(pContainer->TextureName), size_t(MAX_PATH - 1));
    EXPECT_EQ(std::string(pContainer->TextureName), longName.substr(0, MAX_PATH - 1));
    // The members behind the field are untouched.
    EXPECT_EQ(pContainer->pBindPoseMesh, nullptr);
    EXPECT_EQ(pContainer->pAttributeRanges, nullptr);
    EXPECT_EQ(pContainer->NumAttributeRanges, 0u);
    allocator.DestroyMeshContainer(pContainer);
    pMesh->Release();
}

TEST_F(HierarchyTest, NamesAreCopiedAndAFrameWithoutNameHasNone) {
    XFrame root("Root");
    root.children = {XFrame("Child")};
    XFile file;
    file.frames = {root};
    file.looseMeshes = {Quad("Loose", 0, 0, 1)};

    SkinnedModel model;
    ASSERT_EQ(LoadX(model, file), S_OK);
    // Two top-level objects: the loader joins them under a root of its own without a name.
    const D3DXFRAME* pRoot = model.GetFrameRoot();
    ASSERT_NE(pRoot, nullptr);
    EXPECT_EQ(pRoot->Name, nullptr);
    ASSERT_NE(FindFrame(pRoot, "Child"), nullptr);
    EXPECT_STREQ(FindFrame(pRoot, "Child")->Name, "Child");
    ASSERT_NE(FindContainer(pRoot, "Loose"), nullptr);
}

TEST_F(HierarchyTest, SkinnedContainersOwnSkinAndBindPoseAndRigidOnesNeither) {
    XFrame root("Root");
    XFrame bone("Bone");
    bone.matrix = Translation(1, 0, 0);
    XMesh skin = Quad("Skin", 0, 0, 1);
    skin.normals = false; // the skin then deforms buffers wider than the file's vertices
    skin.bones = {WholeMeshBone(skin, "Bone", Translation(-1, 0, 0))};
    root.meshes = {skin, Quad("Rigid", 0, 0, 1)};
    root.children = {bone};

    SkinnedModel model;
    ASSERT_EQ(LoadX(model, FileOf(root)), S_OK);

    SkinMeshContainer* pSkin = FindContainer(model.GetFrameRoot(), "Skin");
    ASSERT_NE(pSkin, nullptr);
    ASSERT_NE(pSkin->pSkinInfo, nullptr);
    ASSERT_NE(pSkin->pBindPoseMesh, nullptr);
    EXPECT_EQ(RefCount(pSkin->pSkinInfo), 1u);
    EXPECT_EQ(RefCount(pSkin->pBindPoseMesh), 1u);
    EXPECT_EQ(RefCount(pSkin->MeshData.pMesh), 1u);
    EXPECT_NE(pSkin->MeshData.pMesh, pSkin->pBindPoseMesh);
    EXPECT_EQ(pSkin->MeshData.pMesh->GetFVF(), pSkin->pBindPoseMesh->GetFVF());
    EXPECT_EQ(pSkin->pSkinInfo->GetFVF(), DWORD(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1));
    EXPECT_EQ(pSkin->MeshData.pMesh->GetNumVertices(), pSkin->pBindPoseMesh->GetNumVertices());
    EXPECT_EQ(pSkin->MeshData.pMesh->GetOptions() & D3DXMESH_MANAGED, DWORD(D3DXMESH_MANAGED));
    ASSERT_GE(pSkin->NumAttributeRanges, 1u);
    EXPECT_EQ(pSkin->pAttributeRanges[0].AttribId, 0u);
    EXPECT_EQ(pSkin->pBoneOffsets[0]._41, -1.0f);
    EXPECT_EQ(pSkin->ppBoneFrameMatrices[0],
              &FindFrame(model.GetFrameRoot(), "Bone")->CombinedMatrix);
    EXPECT_EQ(model.GetSkinningMatrixCount(), 1u);

    SkinMeshContainer* pRigid = FindContainer(model.GetFrameRoot(), "Rigid");
    ASSERT_NE(pRigid, nullptr);
    EXPECT_EQ(pRigid->pSkinInfo, nullptr);
    EXPECT_EQ(pRigid->pBindPoseMesh, nullptr);
    EXPECT_EQ(pRigid->pBoneOffsets, nullptr);
    EXPECT_EQ(pRigid->ppBoneFrameMatrices, nullptr);
    EXPECT_EQ(pRigid->pAttributeRanges, nullptr);
    EXPECT_EQ(RefCount(pRigid->MeshData.pMesh), 1u);

    // Frame matrices are 16-byte aligned as their type promises.
    const SkinFrame* pBone = FindFrame(model.GetFrameRoot(), "Bone");
    EXPECT_EQ(reinterpret_cast<uintptr_t>(&pBone->CombinedMatrix) % 16, 0u);
}

TEST_F(HierarchyTest, SkinWithoutBonesIsKeptRigidAndLargeSkinsKeep32BitIndices) {
    XFrame root("Root");
    root.matrix = Translation(0, 0, 5);
    root.children = {XFrame("Bone")};
    XMesh boneless = Quad("Boneless", 0, 0, 1);
    boneless.skinHeader = true;
    // More vertices than 16-bit indices reach; one triangle uses the last three.
    XMesh large;
    large.name = "Large";
    large.normals = false;
    large.texcoords = false;
    const DWORD numVertices = 65540;
    for (DWORD v = 0; v < numVertices; ++v)
        large.positions.push_back({float(v) * 0.001f, float(v % 2), 0.0f});
    large.indices = {numVertices - 3, numVertices - 2, numVertices - 1};
    large.bones = {WholeMeshBone(large, "Bone", Identity())};
    root.meshes = {boneless, large};

    SkinnedModel model;
    ASSERT_EQ(LoadX(model, FileOf(root)), S_OK);
    SkinMeshContainer* pBoneless = FindContainer(model.GetFrameRoot(), "Boneless");
    ASSERT_NE(pBoneless, nullptr);
    EXPECT_EQ(pBoneless->pSkinInfo, nullptr);
    EXPECT_EQ(pBoneless->pBindPoseMesh, nullptr);
    model.Update(0.0f, Identity());
    fw::d3d9test::EnableCallTrace(device, true);
    device->BeginScene();
    model.Draw();
    device->EndScene();
    // The boneless quad is drawn where its frame puts it, not collapsed by a skin.
    const std::vector<std::string> calls = Trace();
    EXPECT_NE(std::find_if(calls.begin(), calls.end(),
                           [](const std::string& call) {
                               return call.rfind("SetTransform(256", 0) == 0 &&
                                      call.find(" 5 1}") != std::string::npos;
                           }),
              calls.end());

    SkinMeshContainer* pLarge = FindContainer(model.GetFrameRoot(), "Large");
    ASSERT_NE(pLarge, nullptr);
    ASSERT_NE(pLarge->pSkinInfo, nullptr);
    EXPECT_EQ(pLarge->MeshData.pMesh->GetNumVertices(), numVertices);
    EXPECT_EQ(pLarge->MeshData.pMesh->GetOptions() & D3DXMESH_32BIT, DWORD(D3DXMESH_32BIT));
}

TEST_F(HierarchyTest, SkinningMatrixArrayGrowsToTheLargestBoneCountWhicheverComesFirst) {
    auto makeFile = [](DWORD firstBones, DWORD secondBones) {
        XFrame root("Root");
        for (DWORD b = 0; b < 25; ++b)
            root.children.push_back(XFrame("Bone" + std::to_string(b)));
        for (DWORD bones : {firstBones, secondBones}) {
            XMesh mesh = Quad("Skin" + std::to_string(bones), 0, 0, 1);
            for (DWORD b = 0; b < bones; ++b)
                mesh.bones.push_back(WholeMeshBone(mesh, "Bone" + std::to_string(b), Identity()));
            root.meshes.push_back(mesh);
        }
        return FileOf(root);
    };
    for (auto [first, second] : {std::pair<DWORD, DWORD>{10, 25}, {25, 10}}) {
        SkinnedModel model;
        ASSERT_EQ(LoadX(model, makeFile(first, second)), S_OK);
        EXPECT_EQ(model.GetSkinningMatrixCount(), 25u) << first << " bones first";
    }
}

namespace {

// Failed, partial and whole containers and frames, built and freed by one allocator.
void ExerciseAllocator(ID3DXMesh* pMesh) {
    SkinnedModel model;
    HierarchyAllocator allocator(&model);
    // Progressive meshes are refused before anything is built.
    D3DXMESHDATA meshData{};
    meshData.Type = D3DXMESHTYPE_PMESH;
    meshData.pMesh = pMesh;
    D3DXMESHCONTAINER* pContainer = reinterpret_cast<D3DXMESHCONTAINER*>(1);
    EXPECT_EQ(allocator.CreateMeshContainer("p", &meshData, nullptr, nullptr, 0, nullptr, nullptr,
                                            &pContainer),
              E_FAIL);
    EXPECT_EQ(pContainer, nullptr);
    EXPECT_EQ(RefCount(pMesh), 1u);

    // A partly built container frees exactly what it holds.
    auto* pPartial = TRACKED_NEW SkinMeshContainer();
    pPartial->Name = TRACKED_NEW char[8]{"partial"};
    pPartial->MeshData.Type = D3DXMESHTYPE_MESH;
    pPartial->MeshData.pMesh = pMesh;
    pMesh->AddRef();
    pPartial->NumMaterials = 2;
    pPartial->ppMaterialTextures = TRACKED_NEW IDirect3DTexture9* [2]();
    EXPECT_EQ(allocator.DestroyMeshContainer(pPartial), S_OK);
    EXPECT_EQ(RefCount(pMesh), 1u);

    // A whole skinned container built and destroyed directly.
    ID3DXSkinInfo* pSkinInfo = nullptr;
    ASSERT_EQ(D3DXCreateSkinInfoFVF(4, pMesh->GetFVF(), 2, &pSkinInfo), S_OK);
    pSkinInfo->SetBoneName(0, "A");
    pSkinInfo->SetBoneName(1, "B");
    HRESULT hr = E_FAIL;
    pContainer = CreateContainer(allocator, pMesh, nullptr, 0, pSkinInfo, &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(RefCount(pSkinInfo), 2u);
    EXPECT_EQ(RefCount(pMesh), 2u); // the bind pose; the drawn mesh is a clone
    allocator.DestroyMeshContainer(pContainer);
    EXPECT_EQ(RefCount(pSkinInfo), 1u);
    EXPECT_EQ(RefCount(pMesh), 1u);
    pSkinInfo->Release();

    // Frames, named or not.
    D3DXFRAME* pFrame = nullptr;
    ASSERT_EQ(allocator.CreateFrame("frame", &pFrame), S_OK);
    allocator.DestroyFrame(pFrame);
    ASSERT_EQ(allocator.CreateFrame(nullptr, &pFrame), S_OK);
    EXPECT_EQ(pFrame->Name, nullptr);
    allocator.DestroyFrame(pFrame);
}

} // namespace

TEST_F(HierarchyTest, FailedOrDestroyedContainersLeaveNothingBehind) {
    ID3DXMesh* pMesh = MakeQuadMesh(device, D3DFVF_XYZ | D3DFVF_NORMAL);
    ASSERT_NE(pMesh, nullptr);
    const int32_t liveBefore = g_MemoryStats.LiveObjects;
    ExerciseAllocator(pMesh);
    EXPECT_EQ(g_MemoryStats.LiveObjects, liveBefore); // the model's skinning matrices included
    pMesh->Release();
}

TEST_F(HierarchyTest, LoadingAndDestroyingAModelLeavesNoBlockOfTheProgram) {
    WriteBmp(scratch / "skin.bmp", 4, 4, 255, 255, 255);
    XFrame root("Root");
    root.children = {XFrame("Bone")};
    XMesh skin = Quad("Skin", 0, 0, 1);
    skin.normals = false;
    skin.materials = {{1, 1, 1, 1, "skin.bmp"}};
    skin.bones = {WholeMeshBone(skin, "Bone", Identity())};
    XMesh ghost = Quad("Ghost", 0, 0, 1);
    ghost.bones = {WholeMeshBone(ghost, "NoSuchFrame", Identity())};
    root.meshes = {skin, Quad("Rigid", 0, 0, 1)};
    XFrame withGhost = root;
    withGhost.meshes.push_back(ghost);
    const std::string good = ToText(FileOf(root));
    const std::string unbound = ToText(FileOf(withGhost));
    WriteText(scratch / "good.X", good);
    WriteText(scratch / "unbound.X", unbound);

    // Warm up whatever the device and loaders cache on first use.
    {
        SkinnedModel model;
        model.Load("good.X", device);
    }
    const int32_t liveBefore = g_MemoryStats.LiveObjects;
    {
        SkinnedModel model;
        EXPECT_EQ(model.Load("good.X", device), S_OK);
        model.Update(0.1f, Identity());
        model.Draw();
        EXPECT_EQ(model.Load("unbound.X", device), E_FAIL); // the earlier load is freed
        model.Draw();
    }
    EXPECT_EQ(g_MemoryStats.LiveObjects, liveBefore);
}

namespace {

// Caps the address space a little above what the process already maps, so that a new
// mapping of more than the headroom is refused.
void LimitAddressSpace(size_t headroomBytes) {
    unsigned long pages = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm || std::fscanf(statm, "%lu", &pages) != 1)
        std::_Exit(3);
    std::fclose(statm);
    const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + headroomBytes;
    const rlimit cap{limit, limit};
    if (setrlimit(RLIMIT_AS, &cap) != 0)
        std::_Exit(4);
}

} // namespace

// A refused allocation must come back as E_OUTOFMEMORY with the record freed, not as an
// exception that unwinds through the loader. Runs in a child whose address space is capped;
// the name is larger than any heap the C library has reserved, so its copy needs a new
// mapping.
TEST_F(HierarchyTest, RefusedAllocationsFailTheCallbacksWithOutOfMemory) {
#if FW_ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer's shadow memory does not fit under an address-space cap";
#endif
    GTEST_FLAG_SET(death_test_style, "fast");
    ID3DXMesh* pMesh = MakeQuadMesh(device, D3DFVF_XYZ | D3DFVF_NORMAL);
    ASSERT_NE(pMesh, nullptr);
    const std::string hugeName(size_t(80) << 20, 'n');
    SkinnedModel model;
    HierarchyAllocator allocator(&model);

    EXPECT_EXIT(
        {
            const int32_t liveBefore = g_MemoryStats.LiveObjects;
            LimitAddressSpace(size_t(16) << 20);
            D3DXMESHDATA meshData{};
            meshData.Type = D3DXMESHTYPE_MESH;
            meshData.pMesh = pMesh;
            D3DXMESHCONTAINER* pContainer = reinterpret_cast<D3DXMESHCONTAINER*>(1);
            const HRESULT hrContainer = allocator.CreateMeshContainer(
                hugeName.c_str(), &meshData, nullptr, nullptr, 0, nullptr, nullptr, &pContainer);
            D3DXFRAME* pFrame = reinterpret_cast<D3DXFRAME*>(1);
            const HRESULT hrFrame = allocator.CreateFrame(hugeName.c_str(), &pFrame);
            const bool clean = hrContainer == E_OUTOFMEMORY && !pContainer &&
                               hrFrame == E_OUTOFMEMORY && !pFrame && RefCount(pMesh) == 1 &&
                               g_MemoryStats.LiveObjects == liveBefore;
            std::fprintf(stderr, "container 0x%08X, frame 0x%08X, %s\n", unsigned(hrContainer),
                         unsigned(hrFrame), clean ? "clean" : "left blocks or references");
            std::_Exit(clean ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "clean");
    pMesh->Release();
}
