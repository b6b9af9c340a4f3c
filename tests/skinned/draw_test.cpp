// Skinning and the two draw passes, seen through the device's call trace and pixels.
#include "testkit.h"

#include "platform/d3d9/testing.h"

#include <algorithm>
#include <array>
#include <cstring>

using namespace skintest;

namespace {

class DrawTest : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        SetOrthoCamera();
    }

    // Loads one frame "Root" holding the given meshes, skinned ones bound to "Bone"
    // (identity pose), and computes the frame matrices.
    void LoadMeshes(std::vector<XMesh> meshes) {
        XFrame root("Root");
        root.children = {XFrame("Bone")};
        root.meshes = std::move(meshes);
        ASSERT_EQ(LoadX(model, FileOf(root)), S_OK);
        model.Update(0.0f, Identity());
    }

    static XMesh Skinned(XMesh mesh) {
        mesh.bones = {WholeMeshBone(mesh, "Bone", Identity())};
        return mesh;
    }

    static XMesh Textured(XMesh mesh, std::vector<std::string> textures) {
        for (const std::string& texture : textures)
            mesh.materials.push_back({1, 1, 1, 1, texture});
        mesh.faceMaterials.assign(mesh.indices.size() / 3, 0);
        for (size_t face = 0; face < mesh.faceMaterials.size(); ++face)
            mesh.faceMaterials[face] = DWORD(std::min(face, textures.size() - 1));
        return mesh;
    }

    std::vector<std::string> TraceOfDraw() {
        fw::d3d9test::EnableCallTrace(device, true);
        device->BeginScene();
        model.Draw();
        device->EndScene();
        // Buffer locks of the skinning and the geometry bindings of DrawSubset are left out.
        std::vector<std::string> calls;
        for (const fw::d3d9test::TracedCall& call : fw::d3d9test::GetCallTrace(device))
            if (call.name.find("Lock") == std::string::npos && call.name != "SetFVF" &&
                call.name != "SetStreamSource" && call.name != "SetIndices" &&
                call.name != "BeginScene" && call.name != "EndScene")
                calls.push_back(call.Text());
        fw::d3d9test::EnableCallTrace(device, false);
        return calls;
    }

    static int Count(const std::vector<std::string>& calls, const std::string& prefix) {
        return int(std::count_if(calls.begin(), calls.end(), [&](const std::string& call) {
            return call.rfind(prefix, 0) == 0;
        }));
    }

    DWORD RenderState(D3DRENDERSTATETYPE state) {
        DWORD value = 0xDEADBEEF;
        device->GetRenderState(state, &value);
        return value;
    }

    // Red, green, blue of the pixel at (x, y), rows top first.
    static std::array<int, 3> Pixel(const std::vector<uint8_t>& rgba, int x, int y) {
        const uint8_t* p = &rgba[(y * kWidth + x) * 4];
        return {p[0], p[1], p[2]};
    }

    SkinnedModel model;
};

::testing::AssertionResult PixelNear(const std::array<int, 3>& actual,
                                     const std::array<int, 3>& expected, int tolerance) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(actual[i] - expected[i]) > tolerance)
            return ::testing::AssertionFailure()
                   << "pixel (" << actual[0] << ", " << actual[1] << ", " << actual[2]
                   << "), expected (" << expected[0] << ", " << expected[1] << ", " << expected[2]
                   << ") within " << tolerance;
    return ::testing::AssertionSuccess();
}

} // namespace

TEST_F(DrawTest, BindPoseDrawsTheSourceMeshAndAMovedBoneMovesTheSkin) {
    // One skin with normals from the file and one that gets them added on load.
    XMesh withNormals = Skinned(Quad("WithNormals", 0.5f, 0, 0.5f));
    XMesh withoutNormals = Skinned(Quad("WithoutNormals", -0.5f, 0, 0.5f));
    withoutNormals.normals = false;
    XFrame root("Root");
    XFrame bone("Bone");
    bone.matrix = Translation(0, 3, 0);
    withNormals.bones[0].offset = Translation(0, -3, 0); // bind pose: offset x bone = identity
    withoutNormals.bones[0].offset = Translation(0, -3, 0);
    root.meshes = {withNormals, withoutNormals};
    root.children = {bone};
    ASSERT_EQ(LoadX(model, FileOf(root)), S_OK);
    SkinFrame* pBone = FindFrame(model.GetFrameRoot(), "Bone");

    model.Update(0.0f, Identity());
    device->BeginScene();
    model.Draw();
    device->EndScene();
    for (const char* name : {"WithNormals", "WithoutNormals"}) {
        SkinMeshContainer* pSkin = FindContainer(model.GetFrameRoot(), name);
        ASSERT_NE(pSkin, nullptr);
        for (DWORD v = 0; v < 4; ++v) {
            const D3DXVECTOR3 source = VertexPosition(pSkin->pBindPoseMesh, v);
            const D3DXVECTOR3 drawn = VertexPosition(pSkin->MeshData.pMesh, v);
            EXPECT_NEAR(drawn.x, source.x, 1e-5f) << name << " vertex " << v;
            EXPECT_NEAR(drawn.y, source.y, 1e-5f) << name << " vertex " << v;
            EXPECT_NEAR(drawn.z, source.z, 1e-5f) << name << " vertex " << v;
        }
    }

    // The bone one unit higher and the model two units right: the skins follow both.
    pBone->TransformationMatrix = Translation(0, 4, 0);
    model.Update(0.0f, Translation(2, 0, 0));
    device->BeginScene();
    model.Draw();
    device->EndScene();
    for (const char* name : {"WithNormals", "WithoutNormals"}) {
        SkinMeshContainer* pSkin = FindContainer(model.GetFrameRoot(), name);
        const D3DXVECTOR3 source = VertexPosition(pSkin->pBindPoseMesh, 2);
        const D3DXVECTOR3 drawn = VertexPosition(pSkin->MeshData.pMesh, 2);
        EXPECT_NEAR(drawn.x, source.x + 2.0f, 1e-5f) << name;
        EXPECT_NEAR(drawn.y, source.y + 1.0f, 1e-5f) << name;
    }
}

TEST_F(DrawTest, DrawSetsItsStatesFirstAndSkinsWithAnIdentityWorld) {
    WriteBmp(scratch / "skin.bmp", 4, 4, 255, 255, 255);
    LoadMeshes({Skinned(Textured(Quad("Skin", 0, 0, 1), {"skin.bmp"})), Quad("Rigid", 0, 0, 1)});
    SkinFrame* pRoot = FindFrame(model.GetFrameRoot(), "Root");
    pRoot->TransformationMatrix = Translation(0.5f, 0, 0);
    model.Update(0.0f, Identity());

    const std::vector<std::string> calls = TraceOfDraw();
    ASSERT_GE(calls.size(), 7u);
    const std::vector<std::string> states(calls.begin(), calls.begin() + 7);
    EXPECT_EQ(states, (std::vector<std::string>{"SetRenderState(7, 1)", "SetRenderState(22, 1)",
                                                "SetRenderState(27, 1)", "SetRenderState(19, 5)",
                                                "SetRenderState(20, 6)", "SetRenderState(14, 1)",
                                                "SetRenderState(28, 0)"}));
    // Two passes: each deforms the skin and sets a world matrix per container, but only
    // the normal pass draws.
    EXPECT_EQ(Count(calls, "SetTransform(256"), 4);
    EXPECT_EQ(Count(calls, "DrawIndexedPrimitive"), 2);
    EXPECT_EQ(Count(calls, "SetTextureStageState"), 0);

    // States left for the next draw: nothing highlighted, so blending stays on.
    EXPECT_EQ(RenderState(D3DRS_ZENABLE), 1u);
    EXPECT_EQ(RenderState(D3DRS_ZWRITEENABLE), 1u);
    EXPECT_EQ(RenderState(D3DRS_CULLMODE), DWORD(D3DCULL_NONE));
    EXPECT_EQ(RenderState(D3DRS_FOGENABLE), 0u);
    EXPECT_EQ(RenderState(D3DRS_ALPHABLENDENABLE), 1u);
    EXPECT_EQ(RenderState(D3DRS_SRCBLEND), DWORD(D3DBLEND_SRCALPHA));
    EXPECT_EQ(RenderState(D3DRS_DESTBLEND), DWORD(D3DBLEND_INVSRCALPHA));
    D3DXMATRIX world;
    device->GetTransform(D3DTS_WORLD, &world);
    EXPECT_FLOAT_EQ(world._41, 0.5f); // the rigid container came last
}

TEST_F(DrawTest, BoundingMeshesNeverReachTheScreen) {
    WriteBmp(scratch / "boundMesh.bmp", 4, 4, 255, 255, 255);
    LoadMeshes({Textured(Quad("RigidBounds", 0, 0, 2), {"", "boundMesh.bmp"}),
                Skinned(Textured(Quad("SkinnedBounds", 0, 0, 2), {"boundMesh.bmp"}))});
    const std::vector<std::string> calls = TraceOfDraw();
    EXPECT_EQ(Count(calls, "DrawIndexedPrimitive"), 0);
    EXPECT_EQ(Count(calls, "SetMaterial"), 0);
    const std::vector<uint8_t> rgba = Render(model);
    EXPECT_TRUE(std::all_of(rgba.begin(), rgba.end(),
                            [n = 0](uint8_t c) mutable { return (n++ % 4 == 3) || c == 0; }));
}

TEST_F(DrawTest, HighlightMeshesDrawOnlyInTheHighlightPassWithSphereMapAndTheirBlend) {
    WriteBmp(scratch / "plain.bmp", 4, 4, 255, 255, 255);
    WriteBmp(scratch / "RobotHighLight.bmp", 4, 4, 255, 255, 255);
    LoadMeshes({Textured(Quad("Rigid", 0, 0, 1), {"plain.bmp", "RobotHighLight.bmp"}),
                Skinned(Textured(Quad("Skin", 0, 0, 1), {"RobotHighLight.bmp"}))});
    const std::vector<std::string> calls = TraceOfDraw();

    // Every draw is preceded by the sphere map, its texture transform and its blend.
    int draws = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].rfind("DrawIndexedPrimitive", 0) != 0)
            continue;
        ++draws;
        ASSERT_GE(i, 7u);
        const std::vector<std::string> before(calls.begin() + i - 7, calls.begin() + i);
        EXPECT_EQ(before[0], "SetTextureStageState(0, 11, 262144)");
        EXPECT_EQ(before[1], "SetTextureStageState(0, 24, 259)");
        EXPECT_EQ(before[2], "SetRenderState(27, 1)");
        const bool rigid = before[3] == "SetRenderState(19, 9)";
        EXPECT_TRUE(rigid || before[3] == "SetRenderState(19, 2)") << before[3];
        EXPECT_EQ(before[4], rigid ? "SetRenderState(20, 3)" : "SetRenderState(20, 1)");
        EXPECT_EQ(before[5].rfind("SetMaterial", 0), 0u);
        EXPECT_EQ(before[6].rfind("SetTexture(0, res#", 0), 0u) << before[6];
        ASSERT_LT(i + 3, calls.size());
        EXPECT_EQ(calls[i + 1], "SetTextureStageState(0, 11, 0)");
        EXPECT_EQ(calls[i + 2], "SetTextureStageState(0, 24, 0)");
        EXPECT_EQ(calls[i + 3], "SetRenderState(27, 0)");
    }
    EXPECT_EQ(draws, 3); // both subsets of the rigid container, the first one included

    EXPECT_EQ(RenderState(D3DRS_ALPHABLENDENABLE), 0u);
    DWORD texCoordIndex = 1, transformFlags = 1;
    device->GetTextureStageState(0, D3DTSS_TEXCOORDINDEX, &texCoordIndex);
    device->GetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, &transformFlags);
    EXPECT_EQ(texCoordIndex, 0u);
    EXPECT_EQ(transformFlags, 0u);
}

TEST_F(DrawTest, OnlyTheExactLastTextureNameMarksAHighlight) {
    for (const char* name : {"RobotHighLight.bmp", "robothighlight.bmp", "other.bmp"})
        WriteBmp(scratch / name, 4, 4, 255, 255, 255);
    std::filesystem::create_directories(scratch / "textures");
    WriteBmp(scratch / "textures" / "RobotHighLight.bmp", 4, 4, 255, 255, 255);
    LoadMeshes({Textured(Quad("Folder", 0, 0, 1), {"textures/RobotHighLight.bmp"}),
                Textured(Quad("Capitals", 0, 0, 1), {"robothighlight.bmp"}),
                Textured(Quad("NotLast", 0, 0, 1), {"RobotHighLight.bmp", "other.bmp"})});
    const std::vector<std::string> calls = TraceOfDraw();
    EXPECT_EQ(Count(calls, "SetTextureStageState"), 0);
    EXPECT_EQ(Count(calls, "DrawIndexedPrimitive"), 4); // all drawn normally
}

TEST_F(DrawTest, HighlightBlendModulatesRigidMeshesAndReplacesUnderSkinnedOnes) {
    // A highlight colour of 0.75 over a background of 0.25.
    WriteBmp(scratch / "RobotHighLight.bmp", 4, 4, 192, 192, 192);
    LoadMeshes({Textured(Quad("Rigid", -1, 0, 1), {"RobotHighLight.bmp"}),
                Skinned(Textured(Quad("Skin", 1, 0, 1), {"RobotHighLight.bmp"}))});
    const std::vector<uint8_t> rgba = Render(model, D3DCOLOR_XRGB(64, 64, 64));
    const int tolerance = 6;
    EXPECT_TRUE(PixelNear(Pixel(rgba, kWidth / 4, kHeight / 2), {96, 96, 96}, tolerance))
        << "2 x s x d";
    EXPECT_TRUE(PixelNear(Pixel(rgba, 3 * kWidth / 4, kHeight / 2), {192, 192, 192}, tolerance))
        << "s";
}

TEST_F(DrawTest, OrdinaryRigidAndSkinnedMeshesShowTheirTexture) {
    WriteBmp(scratch / "green.bmp", 4, 4, 0, 255, 0);
    LoadMeshes({Textured(Quad("Green", -1, 0, 1), {"green.bmp"}),
                Skinned(Textured(Quad("SkinGreen", 1, 1, 1), {"green.bmp"}))});
    const std::vector<uint8_t> rgba = Render(model);
    EXPECT_TRUE(PixelNear(Pixel(rgba, kWidth / 4, kHeight / 2), {0, 255, 0}, 4));
    EXPECT_TRUE(PixelNear(Pixel(rgba, 3 * kWidth / 4, kHeight / 4), {0, 255, 0}, 4));
    EXPECT_TRUE(PixelNear(Pixel(rgba, 3 * kWidth / 4, 7 * kHeight / 8), {0, 0, 0}, 4));
}

TEST_F(DrawTest, FramesAreDrawnSiblingsFirstThenChildrenFromTheLastSibling) {
    // Root { A { A1 } B }, one rigid quad each, told apart by their frames' x offsets.
    XFrame root("Root");
    root.meshes = {Quad("RootQuad", 0, 0, 1)};
    XFrame a("A"), a1("A1"), b("B");
    a.matrix = Translation(1, 0, 0);
    a1.matrix = Translation(1, 0, 0);
    b.matrix = Translation(3, 0, 0);
    a.meshes = {Quad("AQuad", 0, 0, 1)};
    a1.meshes = {Quad("A1Quad", 0, 0, 1)};
    b.meshes = {Quad("BQuad", 0, 0, 1)};
    a.children = {a1};
    root.children = {a, b};
    ASSERT_EQ(LoadX(model, FileOf(root)), S_OK);
    model.Update(0.0f, Identity());

    std::vector<std::string> worlds;
    for (const std::string& call : TraceOfDraw())
        if (call.rfind("SetTransform(256", 0) == 0)
            worlds.push_back(call);
    // Root, its children A and B, then A's child A1; the same in the highlight pass.
    std::vector<std::string> expected;
    for (int pass = 0; pass < 2; ++pass)
        for (int x : {0, 1, 3, 2})
            expected.push_back("SetTransform(256, {1 0 0 0 0 1 0 0 0 0 1 0 " + std::to_string(x) +
                               " 0 0 1})");
    EXPECT_EQ(worlds, expected);
}
