// The per-frame update of the whole scene: orbit, ground clearance, wheel zoom and the
// hero's placement, driven through injected SDL input on a real offscreen device.
#include "scene_kit.h"

#include "app/gameapp.h"
#include "camera/camera.h"
#include "skinned/skinmesh.h"
#include "platform/dinput8/testing.h"
#include "terrain/terrain.h"
#include "tests/kit/kit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;
using fw::dinput8::PushMouseButton;
using fw::dinput8::PushMouseMotion;
using fw::dinput8::PushMouseWheel;

namespace {

constexpr float kFrame = 0.016f;

class SceneUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        if (scenekit::DefaultDataSet().empty())
            GTEST_SKIP() << "assetgen is not part of this build";
        window = kit::CreateTestWindow("Scene test", 800, 600);
        ASSERT_NE(window, nullptr);
        fw::dinput8::PushFocus(window, true);
        previousDir = fs::current_path();
    }
    void TearDown() override {
        delete app;
        if (window)
            DestroyWindow(window);
        if (!previousDir.empty())
            fs::current_path(previousDir);
    }
    // Starts the program's scene in dataDir, as the program starts in its working directory.
    void Start(const fs::path& dataDir) {
        fs::current_path(dataDir);
        app = new GameApp();
        ASSERT_TRUE(app->Init(GetModuleHandleA(nullptr), window));
    }
    void StartOnFlatGround() {
        Start(scenekit::DataSetWithHeightmap("flat", [](float, float) { return uint8_t(0); }));
    }
    void Frame() { app->Update(kFrame); }
    Camera& camera() { return *app->GetCamera(); }
    float EyeClearance() {
        const D3DXVECTOR3* eye = camera().GetEye();
        return eye->y - app->GetTerrain()->GetHeight(eye->x, eye->z);
    }

    HWND window = nullptr;
    GameApp* app = nullptr;
    fs::path previousDir;
};

TEST_F(SceneUpdate, OnFlatGroundTheCameraLooksAtTheHerosHeadFromItsDistance) {
    StartOnFlatGround();
    Frame();
    EXPECT_FLOAT_EQ(camera().distance, 300.0f);
    EXPECT_EQ(app->GetDesiredDistance(), 300);
    const D3DXVECTOR3* eye = camera().GetEye();
    EXPECT_NEAR(eye->x, 0.0f, 1e-3f);
    EXPECT_NEAR(eye->y, 15.0f, 1e-3f);
    EXPECT_NEAR(eye->z, -300.0f, 1e-3f);
    EXPECT_NEAR(camera().lookAt.y, 15.0f, 1e-3f);
}

TEST_F(SceneUpdate, RightButtonDragOrbitsAndPlainMotionDoesNot) {
    StartOnFlatGround();
    PushMouseMotion(100, 40);
    Frame();
    EXPECT_FLOAT_EQ(camera().yaw, 0.0f) << "motion without the right button turns nothing";
    EXPECT_FLOAT_EQ(camera().pitch, 0.0f);

    PushMouseButton(1, true);
    PushMouseMotion(100, 40);
    Frame();
    const float perCount = 0.2f * 3.1415927f / 180.0f;
    EXPECT_NEAR(camera().yaw, 100 * perCount, 1e-5f);
    EXPECT_NEAR(camera().pitch, -40 * perCount, 1e-5f) << "moving the mouse down looks down";
    // The eye stays on its sphere about the target, above it now.
    const D3DXVECTOR3* eye = camera().GetEye();
    EXPECT_GT(eye->y, 15.0f);
    EXPECT_NEAR(std::hypot(eye->x, eye->y - 15.0f, eye->z), 300.0f, 1e-2f);

    PushMouseMotion(0, -200); // would lift the view above the horizon: refused
    Frame();
    EXPECT_NEAR(camera().pitch, -40 * perCount, 1e-5f);
    PushMouseButton(1, false);
}

TEST_F(SceneUpdate, WheelNotchesZoomByTwelveUnitsAndTheRequestStopsAt400) {
    StartOnFlatGround();
    PushMouseWheel(1.0f); // 120 counts
    Frame();
    EXPECT_EQ(app->GetDesiredDistance(), 312);
    EXPECT_FLOAT_EQ(camera().distance, 312.0f);

    PushMouseWheel(10.0f); // 1200 counts: past the cap, not applied to the camera
    Frame();
    EXPECT_EQ(app->GetDesiredDistance(), 400);
    EXPECT_FLOAT_EQ(camera().distance, 313.0f) << "then grows one unit per frame";
    for (int i = 0; i < 200; ++i)
        Frame();
    EXPECT_FLOAT_EQ(camera().distance, 400.0f);
}

TEST_F(SceneUpdate, RefusedZoomInStepsLeaveTheCameraFartherThanRequested) {
    StartOnFlatGround();
    PushMouseWheel(-40.0f); // -480 units: the camera refuses, the request drops anyway
    Frame();
    EXPECT_EQ(app->GetDesiredDistance(), -180);
    EXPECT_FLOAT_EQ(camera().distance, 300.0f);

    PushMouseWheel(10.0f);
    Frame();
    EXPECT_EQ(app->GetDesiredDistance(), -60);
    EXPECT_FLOAT_EQ(camera().distance, 420.0f) << "above the request and above 400";
    Frame();
    EXPECT_FLOAT_EQ(camera().distance, 420.0f) << "nothing pulls it back";
}

TEST_F(SceneUpdate, AnEyeBeyondTheTerrainCountsAsUnderGroundAndIsPulledBackOverIt) {
    StartOnFlatGround();
    PushMouseWheel(-300.0f); // refused, but lowers the request far enough to zoom out twice
    Frame();
    PushMouseWheel(100.0f); // the camera goes to 1500, the terrain's edge
    Frame();
    PushMouseWheel(100.0f); // to 2700, beyond it
    Frame();
    EXPECT_FLOAT_EQ(camera().distance, 2700.0f);
    Frame(); // the clearance pass runs before the zoom
    EXPECT_FLOAT_EQ(camera().distance, 1500.0f);
    EXPECT_NEAR(camera().GetEye()->z, -1500.0f, 1e-2f);
}

TEST_F(SceneUpdate, HighGroundBehindTheCameraPushesItInUntilTheEyeClears) {
    // A ridge 200 units high across the line of sight, from 250 to 400 units behind.
    Start(scenekit::DataSetWithHeightmap(
        "ridge", [](float, float z) { return uint8_t(z < -250.0f && z > -400.0f ? 255 : 0); }));
    Frame();
    EXPECT_LT(camera().distance, 300.0f);
    EXPECT_GE(EyeClearance(), 5.0f);
    EXPECT_EQ(camera().distance, std::floor(camera().distance)) << "whole-unit steps";

    // Then it grows back a unit per frame only while the ground allows.
    float pushedIn = camera().distance;
    Frame();
    EXPECT_GE(camera().distance, pushedIn);
    EXPECT_GE(EyeClearance(), 5.0f);
}

TEST_F(SceneUpdate, ClearanceEndsAtTheTargetAtWorstInAPit) {
    // The hero stands in a narrow pit; every eye position outside it is under ground.
    Start(scenekit::DataSetWithHeightmap(
        "pit", [](float x, float z) { return uint8_t(std::hypot(x, z) < 60.0f ? 0 : 255); }));
    Frame();
    EXPECT_GE(camera().distance, 0.0f);
    EXPECT_LT(camera().distance, 60.0f);
    EXPECT_GE(EyeClearance(), 5.0f);
}

TEST_F(SceneUpdate, TheHeroStandsOnTheGroundAtTheOriginPlayingSkill1) {
    Start(scenekit::DataSetWithHeightmap("slope", [](float x, float) {
        return uint8_t(std::clamp(128.0f + x / 20.0f, 0.0f, 255.0f));
    }));
    for (int i = 0; i < 3; ++i)
        Frame();
    float ground = app->GetTerrain()->GetHeight(0.0f, 0.0f);
    EXPECT_GT(ground, 90.0f);
    EXPECT_NEAR(camera().lookAt.y, ground + 15.0f, 1e-3f);

    // The world matrix is a pure translation: the root frame's world position is its own
    // offset lifted by the ground height, and it is never turned.
    const auto* root = static_cast<const SkinFrame*>(app->GetHero()->GetFrameRoot());
    ASSERT_NE(root, nullptr);
    const D3DXMATRIX& local = root->TransformationMatrix;
    const D3DXMATRIX& world = root->CombinedMatrix;
    EXPECT_NEAR(world._41, local._41, 1e-3f);
    EXPECT_NEAR(world._42, local._42 + ground, 1e-3f);
    EXPECT_NEAR(world._43, local._43, 1e-3f);
    EXPECT_NEAR(world._11, local._11, 1e-5f);
    EXPECT_NEAR(world._33, local._33, 1e-5f);

    ID3DXAnimationController* controller = app->GetHero()->GetAnimController();
    ASSERT_NE(controller, nullptr);
    ID3DXAnimationSet* playing = nullptr;
    controller->GetTrackAnimationSet(app->GetHero()->GetCurrentTrack(), &playing);
    ASSERT_NE(playing, nullptr);
    EXPECT_STREQ(playing->GetName(), "skill1");
    playing->Release();
}

} // namespace
