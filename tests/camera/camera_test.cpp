#include "camera/camera.h"
#include "platform/d3d9/testing.h"
#include "tests/kit/kit.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>

namespace {

constexpr float kTolerance = 1e-3f;

void ExpectNear(const D3DXVECTOR3& actual, const D3DXVECTOR3& expected, float tolerance) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

float Length(const D3DXVECTOR3& v) {
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

D3DXVECTOR3 LookAtOf(const Camera& camera) {
    D3DXVECTOR3 at;
    camera.ComputeLookAt(&at);
    return at;
}

// A camera without a device: everything but Apply's device calls.
Camera MakeCamera() {
    return Camera(nullptr, nullptr, D3DXVECTOR3(0, 0, 0));
}

} // namespace

TEST(Camera, StartsLookingAlongZFromItsEye) {
    Camera camera(nullptr, nullptr, D3DXVECTOR3(1, 2, 3));
    EXPECT_EQ(camera.yaw, 0.0f);
    EXPECT_EQ(camera.pitch, 0.0f);
    EXPECT_EQ(camera.distance, 300.0f);
    EXPECT_EQ(*camera.GetEye(), D3DXVECTOR3(1, 2, 3));
    D3DXVECTOR3 at;
    EXPECT_EQ(camera.ComputeLookAt(&at), &at);
    EXPECT_EQ(at, D3DXVECTOR3(1, 2, 303));
    // Without a back buffer to ask, the aspect ratio is still a sane one.
    EXPECT_EQ(camera.viewportWidth, 800.0f);
    EXPECT_EQ(camera.viewportHeight, 600.0f);
}

TEST(Camera, SetTargetPutsTheLookAtPointOnTheTarget) {
    Camera camera = MakeCamera();
    D3DXVECTOR3 target(10, 15, -20);
    camera.SetTarget(&target);
    EXPECT_EQ(*camera.GetEye(), D3DXVECTOR3(10, 15, -320));

    camera.Rotate(2.5f, 0.4f);
    camera.distance = 123.0f;
    camera.SetTarget(&target);
    ExpectNear(LookAtOf(camera), target, kTolerance);
    EXPECT_NEAR(Length(target - *camera.GetEye()), 123.0f, kTolerance);
    EXPECT_GT(camera.GetEye()->y, target.y); // pitched down: the eye is above the target
}

TEST(Camera, RotateOrbitsAboutTheLookAtPoint) {
    Camera camera = MakeCamera();
    D3DXVECTOR3 target(0, 50, 0);
    camera.SetTarget(&target);
    camera.Rotate(0.7f, 0.3f);
    EXPECT_FLOAT_EQ(camera.yaw, 0.7f);
    EXPECT_FLOAT_EQ(camera.pitch, -0.3f);
    ExpectNear(LookAtOf(camera), target, kTolerance);
    EXPECT_NEAR(Length(target - *camera.GetEye()), 300.0f, kTolerance);
    // Growing yaw turns the view towards +x: the eye moves to -x of the target.
    EXPECT_LT(camera.GetEye()->x, 0.0f);
}

TEST(Camera, PitchStepsLeavingTheRangeAreRefusedNotClamped) {
    Camera camera = MakeCamera();
    camera.Rotate(0.0f, -0.1f); // looking up from level
    EXPECT_EQ(camera.pitch, 0.0f);
    camera.Rotate(0.0f, 0.0f); // staying at 0 is not inside the open range either
    EXPECT_EQ(camera.pitch, 0.0f);

    camera.Rotate(0.0f, 0.5f);
    EXPECT_FLOAT_EQ(camera.pitch, -0.5f);
    camera.Rotate(0.0f, 0.6f); // would pass -pi/3: refused whole
    EXPECT_FLOAT_EQ(camera.pitch, -0.5f);
    camera.Rotate(0.0f, -0.5f); // would come back to exactly 0
    EXPECT_FLOAT_EQ(camera.pitch, -0.5f);
    camera.Rotate(0.0f, -0.4f);
    EXPECT_FLOAT_EQ(camera.pitch, -0.1f);

    // The lower limit is -pi/3 in single precision and is itself outside.
    Camera limit = MakeCamera();
    const float lowest = std::bit_cast<float>(0xBF860A92u);
    limit.Rotate(0.0f, -lowest);
    EXPECT_EQ(limit.pitch, 0.0f);
    limit.Rotate(0.0f, -std::nextafter(lowest, 0.0f));
    EXPECT_EQ(limit.pitch, std::nextafter(lowest, 0.0f));

    // A refused pitch step still turns the heading.
    Camera turning = MakeCamera();
    turning.Rotate(0.25f, -1.0f);
    EXPECT_EQ(turning.pitch, 0.0f);
    EXPECT_FLOAT_EQ(turning.yaw, 0.25f);
}

TEST(Camera, YawAccumulatesWithoutWrapping) {
    Camera camera = MakeCamera();
    D3DXVECTOR3 target(0, 0, 0);
    camera.SetTarget(&target);
    for (int i = 0; i < 100; ++i)
        camera.Rotate(1.0f, 0.0f);
    EXPECT_NEAR(camera.yaw, 100.0f, 1e-3f);
    ExpectNear(LookAtOf(camera), target, 0.05f);
    EXPECT_NEAR(Length(*camera.GetEye()), 300.0f, 0.05f);
}

TEST(Camera, ZoomMovesTheEyeAndGrowsTheDistance) {
    Camera camera = MakeCamera();
    D3DXVECTOR3 target(0, 0, 0);
    camera.SetTarget(&target); // eye (0, 0, -300)

    camera.Zoom(0.0f, 10.0f);
    EXPECT_EQ(camera.distance, 310.0f);
    EXPECT_EQ(*camera.GetEye(), D3DXVECTOR3(0, 0, -290));
    // The look-at point of this frame moved twice the step along the view.
    EXPECT_EQ(LookAtOf(camera), D3DXVECTOR3(0, 0, 20));

    camera.Zoom(5.0f, 0.0f); // sideways: to the right of the view, +x at yaw 0
    EXPECT_EQ(*camera.GetEye(), D3DXVECTOR3(5, 0, -290));
    EXPECT_EQ(camera.distance, 310.0f);

    camera.Zoom(0.0f, 0.0f);
    EXPECT_EQ(*camera.GetEye(), D3DXVECTOR3(5, 0, -290));

    // A step that would leave no positive distance changes nothing at all.
    camera.Zoom(3.0f, -310.0f);
    EXPECT_EQ(camera.distance, 310.0f);
    EXPECT_EQ(*camera.GetEye(), D3DXVECTOR3(5, 0, -290));
    camera.Zoom(0.0f, -1000.0f);
    EXPECT_EQ(camera.distance, 310.0f);
    camera.Zoom(0.0f, -309.0f);
    EXPECT_EQ(camera.distance, 1.0f);

    // A quarter turn later the view runs along +x, so its right is -z: right = up x view.
    camera.yaw += 1.5707964f;
    const D3DXVECTOR3 before = *camera.GetEye();
    camera.Zoom(5.0f, 0.0f);
    EXPECT_NEAR(camera.GetEye()->x - before.x, 0.0f, 1e-4f);
    EXPECT_NEAR(camera.GetEye()->y - before.y, 0.0f, 1e-4f);
    EXPECT_NEAR(camera.GetEye()->z - before.z, -5.0f, 1e-4f);
}

class CameraOnDevice : public ::testing::Test {
protected:
    static constexpr UINT kWidth = 320;
    static constexpr UINT kHeight = 160;

    void SetUp() override {
        ASSERT_NE(window, nullptr);
        ASSERT_NE(offscreen.d3d, nullptr);
        ASSERT_EQ(offscreen.result, D3D_OK);
    }

    kit::OffscreenDevice offscreen{"camera", kWidth, kHeight, D3DFMT_D24S8};
    HWND& window = offscreen.window;
    IDirect3DDevice9*& device = offscreen.device;
};

TEST_F(CameraOnDevice, TakesTheAspectFromTheBackBuffer) {
    Camera camera(window, device, D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(camera.viewportWidth, float(kWidth));
    EXPECT_EQ(camera.viewportHeight, float(kHeight));
    EXPECT_EQ(camera.window, window);
    EXPECT_EQ(camera.device, device);
}

TEST_F(CameraOnDevice, ApplySetsViewProjectionAndCulling) {
    Camera camera(window, device, D3DXVECTOR3(0, 0, 0));
    D3DXVECTOR3 target(0, 15, 0);
    camera.Rotate(0.5f, 0.3f);
    camera.SetTarget(&target);

    fw::d3d9test::EnableCallTrace(device, true);
    EXPECT_EQ(camera.Apply(0.016f), D3D_OK);
    std::vector<fw::d3d9test::TracedCall> calls = fw::d3d9test::GetCallTrace(device);
    fw::d3d9test::EnableCallTrace(device, false);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].name, "SetTransform");
    EXPECT_EQ(calls[0].args.substr(0, 2), "2,");
    EXPECT_EQ(calls[1].name, "SetTransform");
    EXPECT_EQ(calls[1].args.substr(0, 2), "3,");
    EXPECT_EQ(calls[2].Text(), "SetRenderState(22, 3)");
    ExpectNear(camera.lookAt, target, kTolerance);

    // The view puts the target straight ahead, 300 units away.
    D3DXMATRIX view;
    device->GetTransform(D3DTS_VIEW, &view);
    D3DXVECTOR3 inView;
    D3DXVec3TransformCoord(&inView, &target, &view);
    ExpectNear(inView, D3DXVECTOR3(0, 0, 300), 0.01f);

    // The projection is a 45-degree vertical field at the back buffer's aspect.
    D3DXMATRIX projection;
    device->GetTransform(D3DTS_PROJECTION, &projection);
    EXPECT_NEAR(projection._22, 1.0f / std::tan(0.78539819f / 2), 1e-5f);
    EXPECT_NEAR(projection._11, projection._22 * kHeight / kWidth, 1e-5f);
    EXPECT_NEAR(-projection._43 / projection._33, 0.1f, 1e-5f); // near plane
}

TEST_F(CameraOnDevice, EyeOnTheTargetStillGivesAUsableView) {
    Camera camera(window, device, D3DXVECTOR3(0, 0, 0));
    camera.Rotate(0.0f, 0.2f);
    camera.distance = 0.0f;
    D3DXVECTOR3 target(0, 15, 0);
    camera.SetTarget(&target);
    camera.Apply(0.0f);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            ASSERT_TRUE(std::isfinite(camera.view.m[row][col]));
    // Still looking along the heading: a point ahead and below stays ahead.
    D3DXVECTOR3 ahead(0, 15 - std::sin(0.2f) * 10, std::cos(0.2f) * 10), inView;
    D3DXVec3TransformCoord(&inView, &ahead, &camera.view);
    ExpectNear(inView, D3DXVECTOR3(0, 0, 10), 1e-3f);
}
