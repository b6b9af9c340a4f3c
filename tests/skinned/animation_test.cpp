// Loading, bone binding, frame matrices and the choice of animation sets.
#include "testkit.h"

#include "platform/d3d9/testing.h"

#include <pthread.h>

using namespace skintest;

namespace {

// Root { Bone { } } with a skinned quad bound to Bone, and three sets moving Bone along x:
// "walk" of period 1.0 s, "run" of 0.5 s and "idle" of 2.0 s.
XFile AnimatedFile() {
    XFrame root("Root");
    XFrame bone("Bone");
    XMesh skin = Quad("Skin", 0, 0, 1);
    skin.bones = {WholeMeshBone(skin, "Bone", Identity())};
    root.meshes = {skin};
    root.children = {bone};
    XFile file;
    file.frames = {root};
    file.ticksPerSecond = 100;
    file.sets = {{"walk", {{"Bone", {{0, {0, 0, 0}}, {100, {1, 0, 0}}}}}},
                 {"run", {{"Bone", {{0, {0, 0, 0}}, {50, {0, 2, 0}}}}}},
                 {"idle", {{"Bone", {{0, {0, 0, 0}}, {200, {0, 0, 3}}}}}}};
    return file;
}

std::string TrackSetName(ID3DXAnimationController* pController, UINT track) {
    ID3DXAnimationSet* pSet = nullptr;
    pController->GetTrackAnimationSet(track, &pSet);
    if (!pSet)
        return "";
    std::string name = pSet->GetName();
    pSet->Release();
    return name;
}

D3DXTRACK_DESC Track(ID3DXAnimationController* pController, UINT track) {
    D3DXTRACK_DESC desc{};
    pController->GetTrackDesc(track, &desc);
    return desc;
}

class AnimationTest : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        ASSERT_EQ(LoadX(model, AnimatedFile()), S_OK);
        controller = model.GetAnimController();
        ASSERT_NE(controller, nullptr);
        bone = FindFrame(model.GetFrameRoot(), "Bone");
        ASSERT_NE(bone, nullptr);
    }
    SkinnedModel model;
    ID3DXAnimationController* controller = nullptr;
    SkinFrame* bone = nullptr;
};

} // namespace

TEST_F(ModelTest, EmptyModelIgnoresEveryCallAndAFailedLoadLeavesItEmpty) {
    SkinnedModel model;
    fw::d3d9test::EnableCallTrace(device, true);
    model.SetAnimation("walk", 0, true);
    model.Update(0.5f, Translation(1, 2, 3));
    model.Draw();
    EXPECT_TRUE(Trace().empty());
    EXPECT_EQ(model.GetTime(), 0.0f);

    EXPECT_TRUE(FAILED(model.Load("no-such-file.X", device)));
    WriteText(scratch / "broken.X", "xof 0303txt 0032\nFrame Root {\nMesh {\n4;\n1.0;");
    EXPECT_TRUE(FAILED(model.Load("broken.X", device)));
    EXPECT_EQ(model.GetFrameRoot(), nullptr);
    EXPECT_EQ(model.GetAnimController(), nullptr);
    model.Update(0.5f, Identity());
    model.Draw();
    EXPECT_TRUE(Trace().empty());
}

TEST_F(ModelTest, UnboundBonesFailTheLoadAndTheirSkinIsNeverDrawn) {
    XFrame root("Root");
    root.children = {XFrame("Bone")};
    XMesh bound = Quad("Bound", 0, 0, 1);
    bound.bones = {WholeMeshBone(bound, "Bone", Identity())};
    XMesh ghost = Quad("Ghost", 0, 0, 1);
    ghost.bones = {WholeMeshBone(ghost, "Bone", Identity()),
                   WholeMeshBone(ghost, "NoSuchFrame", Identity())};
    root.meshes = {bound, ghost};

    SkinnedModel model;
    EXPECT_EQ(LoadX(model, FileOf(root)), E_FAIL);
    ASSERT_NE(model.GetFrameRoot(), nullptr);
    EXPECT_NE(FindContainer(model.GetFrameRoot(), "Bound")->ppBoneFrameMatrices, nullptr);
    EXPECT_EQ(FindContainer(model.GetFrameRoot(), "Ghost")->ppBoneFrameMatrices, nullptr);

    model.Update(0.1f, Identity());
    fw::d3d9test::EnableCallTrace(device, true);
    device->BeginScene();
    model.Draw();
    device->EndScene();
    int draws = 0;
    for (const std::string& call : Trace())
        draws += call.rfind("DrawIndexedPrimitive", 0) == 0;
    EXPECT_EQ(draws, 1); // the bound skin only
}

TEST_F(ModelTest, BonesOfEveryContainerOfAFrameAreBound) {
    XFrame root("Root");
    root.children = {XFrame("A"), XFrame("B")};
    XMesh first = Quad("First", 0, 0, 1);
    first.bones = {WholeMeshBone(first, "A", Identity())};
    XMesh second = Quad("Second", 0, 0, 1);
    second.bones = {WholeMeshBone(second, "B", Identity())};
    root.meshes = {first, second};

    SkinnedModel model;
    ASSERT_EQ(LoadX(model, FileOf(root)), S_OK);
    EXPECT_EQ(FindContainer(model.GetFrameRoot(), "First")->ppBoneFrameMatrices[0],
              &FindFrame(model.GetFrameRoot(), "A")->CombinedMatrix);
    EXPECT_EQ(FindContainer(model.GetFrameRoot(), "Second")->ppBoneFrameMatrices[0],
              &FindFrame(model.GetFrameRoot(), "B")->CombinedMatrix);
}

TEST_F(AnimationTest, FrameMatricesFollowTheWorldMatrixEvenWithZeroElapsed) {
    SkinFrame* pRoot = FindFrame(model.GetFrameRoot(), "Root");
    ASSERT_NE(pRoot, nullptr);
    pRoot->TransformationMatrix = Translation(0, 1, 0);
    bone->TransformationMatrix = Translation(2, 0, 0);
    const double before = controller->GetTime();
    model.Update(0.0f, Translation(10, 0, 0));
    EXPECT_EQ(controller->GetTime(), before);
    EXPECT_FLOAT_EQ(pRoot->CombinedMatrix._41, 10.0f);
    EXPECT_FLOAT_EQ(pRoot->CombinedMatrix._42, 1.0f);
    // The bone's matrix comes from the controller again after the zero advance.
    EXPECT_FLOAT_EQ(bone->CombinedMatrix._41, 10.0f + bone->TransformationMatrix._41);
    EXPECT_FLOAT_EQ(bone->CombinedMatrix._42, 1.0f + bone->TransformationMatrix._42);
}

TEST_F(AnimationTest, LoopsAreCountedWithTheOvershootDropped) {
    // Before a set is chosen the period is 0: every update counts a loop, without effect.
    model.Update(0.1f, Identity());
    model.Update(0.1f, Identity());
    EXPECT_EQ(model.GetLoopCount(), 2u);
    EXPECT_NEAR(controller->GetTime(), 0.2, 1e-6);

    model.SetAnimation("walk", 0, false);
    EXPECT_EQ(model.GetLoopCount(), 0u);
    for (int frame = 1; frame <= 3; ++frame) {
        model.Update(0.3f, Identity());
        EXPECT_EQ(model.GetLoopCount(), 0u) << "frame " << frame;
    }
    EXPECT_NEAR(model.GetPeriodTime(), 0.9f, 1e-5f);
    model.Update(0.3f, Identity());
    EXPECT_EQ(model.GetLoopCount(), 1u);
    EXPECT_EQ(model.GetPeriodTime(), 0.0f);
    model.Update(0.3f, Identity());
    EXPECT_NEAR(model.GetPeriodTime(), 0.3f, 1e-6f);
}

TEST_F(AnimationTest, LoopLimitStopsTheClockButNotTheWorldMatrix) {
    model.SetAnimation("walk", 2, false);
    for (int frame = 0; frame < 4; ++frame)
        model.Update(0.6f, Identity());
    EXPECT_EQ(model.GetLoopCount(), 2u);
    const double stoppedAt = controller->GetTime();
    EXPECT_NEAR(stoppedAt, 2.4, 1e-5);
    const float boneX = bone->TransformationMatrix._41;

    for (int frame = 0; frame < 3; ++frame)
        model.Update(0.6f, Translation(0, 0, 5));
    EXPECT_EQ(controller->GetTime(), stoppedAt);
    EXPECT_EQ(bone->TransformationMatrix._41, boneX);
    EXPECT_FLOAT_EQ(bone->CombinedMatrix._43, 5.0f);
    EXPECT_NEAR(model.GetTime(), 4.2f, 1e-5f);

    // Asking for the same set again does not restart it.
    model.SetAnimation("walk", 2, false);
    model.Update(0.6f, Identity());
    EXPECT_EQ(controller->GetTime(), stoppedAt);
}

TEST_F(AnimationTest, UnknownNameKeepsThePreviousSetPlaying) {
    model.SetAnimation("walk", 0, false);
    EXPECT_EQ(TrackSetName(controller, 0), "walk");
    model.Update(0.3f, Identity());
    model.Update(0.3f, Identity());
    model.SetAnimation("walk", 0, false); // current: nothing resets
    EXPECT_NEAR(model.GetPeriodTime(), 0.6f, 1e-6f);

    model.SetAnimation("fly", 0, false);
    EXPECT_EQ(model.GetPeriodTime(), 0.0f);
    EXPECT_EQ(TrackSetName(controller, 0), "walk");
    const float boneX = bone->TransformationMatrix._41;
    model.Update(0.2f, Identity());
    EXPECT_NE(bone->TransformationMatrix._41, boneX); // still animating
    model.SetAnimation("fly", 0, false);
    EXPECT_NEAR(model.GetPeriodTime(), 0.2f, 1e-6f);

    model.SetAnimation("run", 0, false);
    EXPECT_EQ(TrackSetName(controller, 0), "run");
    for (int frame = 0; frame < 3; ++frame)
        model.Update(0.2f, Identity()); // period 0.5: a loop at 0.6
    EXPECT_EQ(model.GetLoopCount(), 1u);
}

TEST_F(AnimationTest, SmoothChangesAlternateTracksAndCrossFadeFromTheCurrentTime) {
    EXPECT_EQ(model.GetCurrentTrack(), 0u);
    model.SetAnimation("walk", 0, true);
    EXPECT_EQ(model.GetCurrentTrack(), 1u);
    EXPECT_EQ(TrackSetName(controller, 1), "walk");
    EXPECT_TRUE(Track(controller, 1).Enable);

    // Half way: the old track has faded to half; the new one ramps from the weight the
    // controller gave it, towards 1.
    model.Update(0.125f, Identity());
    EXPECT_GE(Track(controller, 1).Weight, 0.5f - 1e-4f);
    EXPECT_NEAR(Track(controller, 0).Weight, 0.5f, 1e-4f);
    EXPECT_NEAR(Track(controller, 0).Speed, 0.5f, 1e-4f);
    model.Update(0.25f, Identity());
    EXPECT_FALSE(Track(controller, 0).Enable);
    EXPECT_NEAR(Track(controller, 1).Weight, 1.0f, 1e-6f);
    EXPECT_NEAR(Track(controller, 1).Speed, 1.0f, 1e-6f);

    // Keys start at the current time (0.375 s), not at zero.
    model.SetAnimation("run", 0, true);
    EXPECT_EQ(model.GetCurrentTrack(), 0u);
    EXPECT_EQ(TrackSetName(controller, 0), "run");
    EXPECT_TRUE(Track(controller, 0).Enable);
    model.Update(0.0625f, Identity());
    EXPECT_NEAR(Track(controller, 0).Weight, 0.25f, 1e-3f);
    EXPECT_NEAR(Track(controller, 1).Weight, 0.75f, 1e-3f);

    // A change in the middle of a fade drops the pending keys of both tracks.
    model.SetAnimation("idle", 0, true);
    EXPECT_EQ(model.GetCurrentTrack(), 1u);
    EXPECT_EQ(TrackSetName(controller, 1), "idle");
    model.Update(0.3f, Identity());
    EXPECT_FALSE(Track(controller, 0).Enable);
    EXPECT_TRUE(Track(controller, 1).Enable);
    EXPECT_NEAR(Track(controller, 1).Weight, 1.0f, 1e-6f);
}

TEST_F(AnimationTest, CrossFadeAfterAHeldPoseStartsAtOnce) {
    // "walk" plays one period and holds; the model's clock keeps running meanwhile.
    model.SetAnimation("walk", 1, true);
    for (int frame = 0; frame < 10; ++frame)
        model.Update(0.5f, Identity());
    ASSERT_EQ(model.GetLoopCount(), 5u);
    ASSERT_LT(controller->GetTime() + 3.0, double(model.GetTime()));

    model.SetAnimation("run", 0, true);
    EXPECT_EQ(model.GetCurrentTrack(), 0u);
    model.Update(0.125f, Identity());
    EXPECT_NEAR(Track(controller, 1).Weight, 0.5f, 1e-3f) << "the fade has not started";
    EXPECT_GE(Track(controller, 0).Weight, 0.5f - 1e-3f);
    model.Update(0.25f, Identity());
    EXPECT_FALSE(Track(controller, 1).Enable);
    EXPECT_NEAR(Track(controller, 0).Weight, 1.0f, 1e-6f);
}

namespace {

// Runs work on a thread with a small stack, so that recursion per frame would overflow it.
void RunOnSmallStack(void (*work)(void*), void* argument) {
    struct Call {
        void (*work)(void*);
        void* argument;
    } call{work, argument};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* p) -> void* {
                      auto* c = static_cast<Call*>(p);
                      c->work(c->argument);
                      return nullptr;
                  },
                  &call),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

} // namespace

TEST_F(ModelTest, ALongChainOfSiblingFramesLoadsAnimatesAndDraws) {
    // 50000 frames side by side under the root: bound, animated and walked by both draw
    // passes without a call per frame on the stack. Frames only, as the thread has no GL.
    constexpr int kSiblings = 50000;
    std::string text = "xof 0303txt 0032\nFrame Root {\n";
    for (int i = 0; i < kSiblings; ++i)
        text += "Frame F" + std::to_string(i) + " {}\n";
    text += "}\n";
    WriteText(scratch / "siblings.X", text);

    struct Outcome {
        IDirect3DDevice9* device;
        HRESULT hr = E_FAIL;
        float lastX = 0.0f;
    } outcome{device};
    RunOnSmallStack(
        [](void* p) {
            auto* o = static_cast<Outcome*>(p);
            SkinnedModel model;
            o->hr = model.Load("siblings.X", o->device);
            model.Update(0.1f, Translation(7, 0, 0));
            model.Draw();
            if (SkinFrame* pLast = FindFrame(model.GetFrameRoot(), "F49999"))
                o->lastX = pLast->CombinedMatrix._41;
        },
        &outcome);
    EXPECT_EQ(outcome.hr, S_OK);
    EXPECT_EQ(outcome.lastX, 7.0f);
}
