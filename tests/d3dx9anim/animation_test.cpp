#include "platform/d3dx9/anim/anim_internal.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace fw;

namespace {

constexpr float kEps = 1e-4f;

// Sets parsed from text, and a controller whose outputs are plain matrices.
class AnimationTest : public ::testing::Test {
protected:
    void Load(const std::string& body, UINT tracks = 2) {
        const std::string text = "xof 0303txt 0032\n" + body;
        std::string error;
        ASSERT_TRUE(xfile::ParseDocument(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                         "a.x", doc, error))
            << error;
        ASSERT_TRUE(xanim::BuildAnimationSets(doc, rest, sets, error)) << error;
        ASSERT_EQ(D3DXCreateAnimationController(4, UINT(sets.size()), tracks, 16, &ac), S_OK);
        for (ID3DXAnimationSet* set : sets)
            ASSERT_EQ(ac->RegisterAnimationSet(set), S_OK);
        const char* names[] = {"A", "B", "C"};
        for (int i = 0; i < 3; ++i) {
            D3DXMatrixIdentity(&matrices[i]);
            ASSERT_EQ(
                ac->RegisterAnimationOutput(names[i], &matrices[i], nullptr, nullptr, nullptr),
                S_OK);
        }
    }
    void TearDown() override {
        for (ID3DXAnimationSet* set : sets)
            set->Release();
        if (ac)
            ac->Release();
    }
    void Play(UINT track, UINT set) {
        ASSERT_EQ(ac->SetTrackAnimationSet(track, sets[set]), S_OK);
        ASSERT_EQ(ac->SetTrackEnable(track, TRUE), S_OK);
    }
    D3DXVECTOR3 Translation(int output) const {
        return {matrices[output]._41, matrices[output]._42, matrices[output]._43};
    }
    D3DXTRACK_DESC Desc(UINT track) {
        D3DXTRACK_DESC d{};
        EXPECT_EQ(ac->GetTrackDesc(track, &d), S_OK);
        return d;
    }

    xfile::Document doc;
    std::map<std::string, xanim::RestPose> rest;
    std::vector<ID3DXAnimationSet*> sets;
    ID3DXAnimationController* ac = nullptr;
    D3DXMATRIX matrices[3];
};

// Set "Move": A's position goes 0 -> 10 -> 10 in x over ticks 0, 100, 200 at 100 ticks/s.
const char* kMove = R"(
AnimTicksPerSecond { 100; }
Frame A {} Frame B {}
AnimationSet Move {
  Animation { {A}
    AnimationKey { 2; 3; 0;3;0,0,0;;, 100;3;10,0,0;;, 200;3;10,0,0;;; }
  }
}
AnimationSet Rise {
  Animation { {A} AnimationKey { 2; 2; 0;3;0,0,0;;, 100;3;0,20,0;;; } }
}
)";

void ExpectVector(const D3DXVECTOR3& actual, const D3DXVECTOR3& expected) {
    EXPECT_NEAR(actual.x, expected.x, kEps);
    EXPECT_NEAR(actual.y, expected.y, kEps);
    EXPECT_NEAR(actual.z, expected.z, kEps);
}

void ExpectMatrix(const D3DXMATRIX& actual, const D3DXMATRIX& expected, float eps = kEps) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(actual.m[r][c], expected.m[r][c], eps) << r << "," << c;
}

} // namespace

TEST_F(AnimationTest, KeysInterpolateClampAndLoopOverThePeriod) {
    Load(kMove);
    EXPECT_DOUBLE_EQ(sets[0]->GetPeriod(), 2.0);
    EXPECT_STREQ(sets[0]->GetName(), "Move");
    EXPECT_EQ(sets[0]->GetPlaybackType(), D3DXPLAY_LOOP);
    Play(0, 0);
    ASSERT_EQ(ac->AdvanceTime(0.0, nullptr), S_OK); // a zero step still writes the pose
    ExpectVector(Translation(0), {0, 0, 0});
    ac->AdvanceTime(0.25, nullptr);
    ExpectVector(Translation(0), {2.5, 0, 0});
    ac->AdvanceTime(0.75, nullptr);
    ExpectVector(Translation(0), {10, 0, 0});
    ac->AdvanceTime(0.5, nullptr);
    ExpectVector(Translation(0), {10, 0, 0});
    ac->AdvanceTime(0.75, nullptr); // 2.25 s: a quarter into the second loop
    ExpectVector(Translation(0), {2.5, 0, 0});
    EXPECT_DOUBLE_EQ(Desc(0).Position, 2.25); // the track's own time is never folded
    EXPECT_DOUBLE_EQ(ac->GetTime(), 2.25);
    // Frames no set animates keep what they hold.
    ExpectMatrix(matrices[1], D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1));
}

TEST_F(AnimationTest, SamplingOutsideTheKeysHoldsTheEndKeys) {
    Load(R"(Frame A {} AnimationSet S { Animation { {A}
        AnimationKey { 2; 2; 100;3;1,0,0;;, 300;3;3,0,0;;; } } })");
    D3DXVECTOR3 t;
    sets[0]->GetSRT(0.0, 0, nullptr, nullptr, &t);
    ExpectVector(t, {1, 0, 0});
    sets[0]->GetSRT(300.0 / 4800.0, 0, nullptr, nullptr, &t); // default 4800 ticks a second
    ExpectVector(t, {3, 0, 0});
    sets[0]->GetSRT(1.0, 0, nullptr, nullptr, &t);
    ExpectVector(t, {3, 0, 0});
    sets[0]->GetSRT(200.0 / 4800.0, 0, nullptr, nullptr, &t);
    ExpectVector(t, {2, 0, 0});
    EXPECT_DOUBLE_EQ(sets[0]->GetPeriod(), 300.0 / 4800.0);
    EXPECT_DOUBLE_EQ(sets[0]->GetPeriodicPosition(-0.25 * 300.0 / 4800.0), 0.75 * 300.0 / 4800.0);
}

TEST_F(AnimationTest, RotationKeysHoldTheInverseRotationAndSlerp) {
    // The file's (w, x, y, z) = (cos 45, 0, sin 45, 0) stands for a turn of -90 degrees
    // about y; between it and the identity key lies -45 degrees.
    const float c = std::cos(float(M_PI) / 4), s = std::sin(float(M_PI) / 4);
    Load("Frame A {} AnimationSet S { Animation { {A} AnimationKey { 0; 3; 0;4;1,0,0,0;;, 10;4;" +
         std::to_string(c) + ",0," + std::to_string(s) + ",0;;, 20;4;1,0,0,0;;; } } }");
    Play(0, 0);
    ac->AdvanceTime(10.0 / 4800.0, nullptr);
    D3DXMATRIX expected;
    ExpectMatrix(matrices[0], *D3DXMatrixRotationY(&expected, -float(M_PI) / 2));
    // Turning -90 degrees about y carries +x onto +z in a left-handed, row-vector world.
    D3DXVECTOR3 x(1, 0, 0), turned;
    D3DXVec3TransformNormal(&turned, &x, &matrices[0]);
    ExpectVector(turned, {0, 0, 1});
    ac->SetTrackPosition(0, 5.0 / 4800.0);
    ac->AdvanceTime(0.0, nullptr);
    ExpectMatrix(matrices[0], *D3DXMatrixRotationY(&expected, -float(M_PI) / 4));
}

TEST_F(AnimationTest, MatrixKeysAndMissingKindsFollowTheFramesRestPose) {
    D3DXMATRIX restMatrix, scale, turn;
    D3DXMatrixScaling(&scale, 2, 2, 2);
    D3DXMatrixRotationX(&turn, 0.5f);
    restMatrix = scale * turn;
    restMatrix._41 = 7;
    rest["B"] = xanim::DecomposeRest(restMatrix);
    // A: matrix keys (type 4 and the documented 3); B: translation keys only.
    Load(R"(Frame A {} Frame B {} AnimationSet S {
      Animation { {A} AnimationKey { 4; 3; 0;16;1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1;;,
                                         100;16;0,0,-3,0, 0,3,0,0, 3,0,0,0, 1,2,3,1;;,
                                         200;16;1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0,1;;; } }
      Animation { {B} AnimationKey { 2; 1; 0;3;0,5,0;;; } } })");
    Play(0, 0);
    ac->AdvanceTime(100.0 / 4800.0, nullptr);
    ExpectMatrix(matrices[0], D3DXMATRIX(0, 0, -3, 0, 0, 3, 0, 0, 3, 0, 0, 0, 1, 2, 3, 1));
    D3DXMATRIX expectedB = restMatrix;
    expectedB._41 = 0, expectedB._42 = 5, expectedB._43 = 0;
    ExpectMatrix(matrices[1], expectedB);
}

TEST_F(AnimationTest, EnabledTracksBlendByRelativeWeight) {
    Load(kMove);
    Play(0, 0);
    Play(1, 1);
    ac->SetTrackWeight(0, 0.25f);
    ac->SetTrackWeight(1, 0.75f);
    ac->AdvanceTime(0.5, nullptr); // Move at (5,0,0), Rise at (0,10,0)
    ExpectVector(Translation(0), {1.25f, 7.5f, 0});
    ac->SetTrackEnable(1, FALSE);
    ac->AdvanceTime(0.0, nullptr);
    ExpectVector(Translation(0), {5, 0, 0}); // a lone track plays whatever its weight
    ac->SetTrackWeight(0, 0.0f);
    ac->SetTrackPosition(0, 0.0);
    ac->AdvanceTime(0.0, nullptr);
    ExpectVector(Translation(0), {5, 0, 0}); // weight 0 contributes nothing
}

TEST_F(AnimationTest, CrossFadeKeyedOnTheGlobalClockHandsOverInAQuarterSecond) {
    Load(kMove);
    Play(0, 0);
    ac->AdvanceTime(0.5, nullptr);
    // The program's cross-fade, run twice so that both tracks have been faded before.
    UINT oldTrack = 0;
    for (int fade = 0; fade < 2; ++fade) {
        const UINT newTrack = 1 - oldTrack;
        const double t = ac->GetTime();
        ac->SetTrackAnimationSet(newTrack, sets[fade == 0 ? 1 : 0]);
        ac->UnkeyAllTrackEvents(oldTrack);
        ac->UnkeyAllTrackEvents(newTrack);
        ac->KeyTrackEnable(oldTrack, FALSE, t + 0.25);
        ac->KeyTrackSpeed(oldTrack, 0.0f, t, 0.25, D3DXTRANSITION_LINEAR);
        ac->KeyTrackWeight(oldTrack, 0.0f, t, 0.25, D3DXTRANSITION_LINEAR);
        ac->SetTrackEnable(newTrack, TRUE);
        ac->KeyTrackSpeed(newTrack, 1.0f, t, 0.25, D3DXTRANSITION_LINEAR);
        ac->KeyTrackWeight(newTrack, 1.0f, t, 0.25, D3DXTRANSITION_LINEAR);
        ac->AdvanceTime(0.125, nullptr);
        EXPECT_FLOAT_EQ(Desc(oldTrack).Weight, 0.5f);
        EXPECT_FLOAT_EQ(Desc(oldTrack).Speed, 0.5f);
        EXPECT_TRUE(Desc(oldTrack).Enable);
        if (fade == 1) { // the new track rises from the 0 its own fade-out left
            EXPECT_FLOAT_EQ(Desc(newTrack).Weight, 0.5f);
            EXPECT_FLOAT_EQ(Desc(newTrack).Speed, 0.5f);
        }
        ac->AdvanceTime(0.125, nullptr);
        EXPECT_FALSE(Desc(oldTrack).Enable);
        EXPECT_FLOAT_EQ(Desc(oldTrack).Weight, 0.0f);
        EXPECT_FLOAT_EQ(Desc(newTrack).Weight, 1.0f);
        EXPECT_FLOAT_EQ(Desc(newTrack).Speed, 1.0f);
        EXPECT_EQ(ac->GetCurrentTrackEvent(newTrack, D3DXEVENT_TRACKWEIGHT), 0u);
        oldTrack = newTrack;
    }
    // Only the new track drives the frame now: Move from its own position.
    const double position = Desc(oldTrack).Position;
    ac->AdvanceTime(0.1, nullptr);
    EXPECT_NEAR(Desc(oldTrack).Position, position + 0.1, 1e-9);
    D3DXVECTOR3 expected;
    sets[0]->GetSRT(sets[0]->GetPeriodicPosition(position + 0.1), 0, nullptr, nullptr, &expected);
    ExpectVector(Translation(0), expected);
}

TEST_F(AnimationTest, EaseInEaseOutFollowsTheCubic) {
    Load(kMove);
    Play(0, 0);
    ac->KeyTrackWeight(0, 0.0f, 0.0, 1.0, D3DXTRANSITION_EASEINEASEOUT);
    ac->AdvanceTime(0.25, nullptr);
    EXPECT_NEAR(Desc(0).Weight, 1.0f - 0.15625f, 1e-6);
    ac->AdvanceTime(0.25, nullptr);
    EXPECT_NEAR(Desc(0).Weight, 0.5f, 1e-6);
}

TEST_F(AnimationTest, UnkeyingDropsPendingEventsAndValidationTracksThem) {
    Load(kMove);
    Play(0, 0);
    const D3DXEVENTHANDLE off = ac->KeyTrackEnable(0, FALSE, 1.0);
    const D3DXEVENTHANDLE slow = ac->KeyTrackSpeed(0, 0.0f, 0.5, 1.0, D3DXTRANSITION_LINEAR);
    const D3DXEVENTHANDLE blend = ac->KeyPriorityBlend(1.0f, 0.0, 1.0, D3DXTRANSITION_LINEAR);
    ASSERT_NE(off, 0u);
    ASSERT_NE(slow, 0u);
    EXPECT_EQ(ac->ValidateEvent(off), S_OK);
    D3DXEVENT_DESC desc{};
    ASSERT_EQ(ac->GetEventDesc(slow, &desc), S_OK);
    EXPECT_EQ(desc.Type, D3DXEVENT_TRACKSPEED);
    EXPECT_DOUBLE_EQ(desc.StartTime, 0.5);
    EXPECT_EQ(ac->UnkeyAllTrackEvents(0), S_OK);
    EXPECT_EQ(ac->ValidateEvent(off), E_FAIL);
    EXPECT_EQ(ac->ValidateEvent(blend), S_OK); // priority blends are not track events
    ac->AdvanceTime(2.0, nullptr);
    EXPECT_TRUE(Desc(0).Enable);
    EXPECT_FLOAT_EQ(Desc(0).Speed, 1.0f);
    EXPECT_EQ(ac->ValidateEvent(blend), E_FAIL); // finished
    EXPECT_EQ(ac->UnkeyEvent(blend), D3DERR_INVALIDCALL);
    EXPECT_EQ(ac->UnkeyAllTrackEvents(9), D3DERR_INVALIDCALL);
    EXPECT_EQ(ac->KeyTrackEnable(9, TRUE, 0.0), 0u);
}

TEST_F(AnimationTest, EventSlotsAreLimitedAndFreedOnCompletion) {
    Load(kMove);
    for (int i = 0; i < 16; ++i)
        EXPECT_NE(ac->KeyTrackSpeed(0, 1.0f, 0.0, 0.0, D3DXTRANSITION_LINEAR), 0u);
    EXPECT_EQ(ac->KeyTrackSpeed(0, 1.0f, 0.0, 0.0, D3DXTRANSITION_LINEAR), 0u);
    ac->AdvanceTime(0.0, nullptr);
    EXPECT_NE(ac->KeyTrackSpeed(0, 1.0f, 0.0, 0.0, D3DXTRANSITION_LINEAR), 0u);
}

TEST_F(AnimationTest, ControllerRefusesBadArgumentsAndLooksSetsUpByName) {
    Load(kMove);
    EXPECT_EQ(ac->AdvanceTime(-0.1, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(ac->GetTime(), 0.0);
    ID3DXAnimationSet* set = reinterpret_cast<ID3DXAnimationSet*>(1);
    EXPECT_EQ(ac->GetAnimationSetByName("Nope", &set), E_FAIL);
    EXPECT_EQ(set, nullptr);
    EXPECT_EQ(ac->GetAnimationSetByName("Rise", &set), S_OK);
    EXPECT_EQ(set, sets[1]);
    set->Release();
    EXPECT_EQ(ac->SetTrackAnimationSet(2, sets[0]), D3DERR_INVALIDCALL);
    EXPECT_EQ(ac->SetTrackSpeed(2, 1.0f), D3DERR_INVALIDCALL);
    EXPECT_EQ(ac->RegisterAnimationSet(sets[0]), D3DERR_INVALIDCALL); // already there
    EXPECT_EQ(ac->GetMaxNumTracks(), 2u);
    EXPECT_EQ(ac->RegisterAnimationOutput("D", nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(ac->RegisterAnimationOutput("E", nullptr, nullptr, nullptr, nullptr), E_OUTOFMEMORY);
}

TEST_F(AnimationTest, ClonesGetMoreTracksAndShareTheSets) {
    Load(kMove);
    Play(0, 0);
    ac->AdvanceTime(0.5, nullptr);
    ID3DXAnimationController* clone = nullptr;
    ASSERT_EQ(ac->CloneAnimationController(4, 2, 4, 16, &clone), S_OK);
    EXPECT_EQ(clone->GetMaxNumTracks(), 4u);
    EXPECT_EQ(clone->GetTime(), 0.5);
    D3DXTRACK_DESC d{};
    clone->GetTrackDesc(0, &d);
    EXPECT_TRUE(d.Enable);
    EXPECT_DOUBLE_EQ(d.Position, 0.5);
    ID3DXAnimationSet* set = nullptr;
    clone->GetTrackAnimationSet(0, &set);
    EXPECT_EQ(set, sets[0]);
    set->Release();
    // A track holds one reference to its set and lets it go when given another.
    sets[1]->AddRef();
    const ULONG held = sets[1]->Release();
    EXPECT_EQ(clone->SetTrackAnimationSet(3, sets[1]), S_OK);
    sets[1]->AddRef();
    EXPECT_EQ(sets[1]->Release(), held + 1);
    EXPECT_EQ(clone->SetTrackAnimationSet(3, sets[0]), S_OK);
    sets[1]->AddRef();
    EXPECT_EQ(sets[1]->Release(), held);
    clone->Release();
    EXPECT_EQ(ac->CloneAnimationController(1, 2, 2, 16, &clone), D3DERR_INVALIDCALL);
    EXPECT_EQ(clone, nullptr);
}

TEST(AnimationSets, MalformedKeysFailWithTheReason) {
    for (const char* keys :
         {"AnimationKey { 0; 1; 0;3;1,0,0;;; }", "AnimationKey { 7; 1; 0;3;1,0,0;;; }",
          "AnimationKey { 2; 1000000; 0;3;1,0,0;;; }"}) {
        const std::string text =
            std::string("xof 0303txt 0032\nAnimationSet S { Animation { {A} ") + keys + " } }";
        xfile::Document doc;
        std::string error;
        ASSERT_TRUE(xfile::ParseDocument(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                         "a.x", doc, error));
        std::vector<ID3DXAnimationSet*> sets;
        EXPECT_FALSE(xanim::BuildAnimationSets(doc, {}, sets, error)) << keys;
        EXPECT_TRUE(sets.empty());
        EXPECT_NE(error.find("AnimationKey at line 2"), std::string::npos) << error;
    }
}
