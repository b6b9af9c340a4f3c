#include "platform/d3dx9math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

constexpr float kTolerance = 1e-5f;

void ExpectMatrixNear(const D3DXMATRIX& expected, const D3DXMATRIX& actual,
                      float tolerance = kTolerance) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(expected.m[r][c], actual.m[r][c], tolerance)
                << "at row " << r << " col " << c;
}

void ExpectVectorNear(const D3DXVECTOR3& expected, const D3DXVECTOR3& actual,
                      float tolerance = kTolerance) {
    EXPECT_NEAR(expected.x, actual.x, tolerance);
    EXPECT_NEAR(expected.y, actual.y, tolerance);
    EXPECT_NEAR(expected.z, actual.z, tolerance);
}

void ExpectQuaternionNear(const D3DXQUATERNION& expected, const D3DXQUATERNION& actual) {
    EXPECT_NEAR(expected.x, actual.x, kTolerance);
    EXPECT_NEAR(expected.y, actual.y, kTolerance);
    EXPECT_NEAR(expected.z, actual.z, kTolerance);
    EXPECT_NEAR(expected.w, actual.w, kTolerance);
}

D3DXVECTOR3 Transform(const D3DXVECTOR3& v, const D3DXMATRIX& m) {
    D3DXVECTOR3 out;
    D3DXVec3TransformCoord(&out, &v, &m);
    return out;
}

D3DXQUATERNION AxisAngle(D3DXVECTOR3 axis, float angle) {
    D3DXQUATERNION q;
    D3DXQuaternionRotationAxis(&q, &axis, angle);
    return q;
}

TEST(MathRecords, DefaultConstructedValuesAreZeroAndLayoutsMatchTheSdk) {
    D3DXMATRIX m;
    D3DXVECTOR3 v;
    D3DXQUATERNION q;
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(0.0f, (&m._11)[i]);
    EXPECT_EQ(D3DXVECTOR3(0, 0, 0), v);
    EXPECT_EQ(D3DXQUATERNION(0, 0, 0, 0), q);

    D3DXMATRIX n(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    EXPECT_EQ(7.0f, n._23);
    EXPECT_EQ(7.0f, n.m[1][2]);
    EXPECT_EQ(7.0f, n(1, 2));
    EXPECT_EQ(13.0f, static_cast<const FLOAT*>(n)[12]);

    auto aligned = std::make_unique<D3DXMATRIXA16[]>(3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(&aligned[i]) % 16);
}

TEST(MathRecords, VectorAndMatrixOperatorsFollowTheSdkHelpers) {
    D3DXVECTOR3 a(1, 2, 3), b(4, 5, 6);
    EXPECT_EQ(D3DXVECTOR3(5, 7, 9), a + b);
    EXPECT_EQ(D3DXVECTOR3(2, 4, 6), 2.0f * a);
    EXPECT_EQ(D3DXVECTOR3(-1, -2, -3), -a);
    a += b;
    EXPECT_EQ(D3DXVECTOR3(5, 7, 9), a);

    D3DXMATRIX t, s;
    D3DXMatrixTranslation(&t, 1, 0, 0);
    D3DXMatrixScaling(&s, 2, 2, 2);
    // Row vectors: t * s translates first, then scales.
    ExpectVectorNear(D3DXVECTOR3(4, 0, 0), Transform(D3DXVECTOR3(1, 0, 0), t * s));
    ExpectVectorNear(D3DXVECTOR3(3, 0, 0), Transform(D3DXVECTOR3(1, 0, 0), s * t));

    D3DXCOLOR color(0xFF804020);
    EXPECT_NEAR(0x80 / 255.0f, color.r, 1e-6f);
    EXPECT_EQ(1.0f, color.a);
    EXPECT_EQ(0xFF804020u, DWORD(color));
    EXPECT_EQ(0xFFFF0000u, DWORD(D3DXCOLOR(2.0f, -1.0f, 0.0f, 1.0f))); // clamped
}

TEST(MathVectors, TransformsNormalisesAndCrossesAsD3DX) {
    D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0), z;
    D3DXVec3Cross(&z, &x, &y);
    EXPECT_EQ(D3DXVECTOR3(0, 0, 1), z);

    D3DXVECTOR3 v(3, 0, 4);
    D3DXVec3Normalize(&v, &v); // aliasing is allowed
    ExpectVectorNear(D3DXVECTOR3(0.6f, 0, 0.8f), v);
    D3DXVECTOR3 zero(0, 0, 0);
    D3DXVec3Normalize(&v, &zero);
    EXPECT_EQ(zero, v);

    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, 10, 20, 30);
    D3DXVECTOR3 p(1, 2, 3), out;
    D3DXVec3TransformNormal(&out, &p, &m);
    EXPECT_EQ(p, out); // no translation for directions
    // The homogeneous coordinate divides the result.
    m._44 = 2.0f;
    D3DXVec3TransformCoord(&out, &p, &m);
    ExpectVectorNear(D3DXVECTOR3(5.5f, 11, 16.5f), out);
}

TEST(MathMatrices, LookAtLHMatchesTheHandComputedMatrix) {
    // From +x looking at the origin: view z is world -x, view x is world +z.
    D3DXVECTOR3 eye(3, 0, 0), at(0, 0, 0), up(0, 1, 0);
    D3DXMATRIX view;
    EXPECT_EQ(&view, D3DXMatrixLookAtLH(&view, &eye, &at, &up));
    ExpectMatrixNear(D3DXMATRIX(0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 3, 1), view);

    // A general case: the eye lands at the origin, the target straight ahead on +z.
    D3DXVECTOR3 eye2(1, 2, 3), at2(-4, 6, 11);
    D3DXMatrixLookAtLH(&view, &eye2, &at2, &up);
    ExpectVectorNear(D3DXVECTOR3(0, 0, 0), Transform(eye2, view), 1e-4f);
    D3DXVECTOR3 delta = at2 - eye2;
    ExpectVectorNear(D3DXVECTOR3(0, 0, D3DXVec3Length(&delta)), Transform(at2, view), 1e-4f);
}

TEST(MathMatrices, PerspectiveFovLHMapsNearAndFarToZeroAndOne) {
    D3DXMATRIX proj;
    D3DXMatrixPerspectiveFovLH(&proj, D3DX_PI / 2, 2.0f, 1.0f, 101.0f);
    ExpectMatrixNear(D3DXMATRIX(0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1.01f, 1, 0, 0, -1.01f, 0), proj);
    EXPECT_NEAR(0.0f, Transform(D3DXVECTOR3(0, 0, 1), proj).z, kTolerance);
    EXPECT_NEAR(1.0f, Transform(D3DXVECTOR3(0, 0, 101), proj).z, kTolerance);
    // The top edge of the field of view lands on y = 1.
    EXPECT_NEAR(1.0f, Transform(D3DXVECTOR3(0, 10, 10), proj).y, kTolerance);
}

TEST(MathMatrices, InverseOfAGeneralAffineMatrix) {
    D3DXMATRIX s, rx, ry, t;
    D3DXMatrixScaling(&s, 2, 3, 4);
    D3DXMatrixRotationX(&rx, 0.3f);
    D3DXMatrixRotationY(&ry, -1.1f);
    D3DXMatrixTranslation(&t, 5, -6, 7);
    const D3DXMATRIX m = s * rx * ry * t;

    D3DXMatrixScaling(&s, 0.5f, 1.0f / 3.0f, 0.25f);
    D3DXMatrixRotationX(&rx, -0.3f);
    D3DXMatrixRotationY(&ry, 1.1f);
    D3DXMatrixTranslation(&t, -5, 6, -7);
    const D3DXMATRIX expected = t * ry * rx * s;

    D3DXMATRIX inverse;
    FLOAT determinant = 0;
    ASSERT_EQ(&inverse, D3DXMatrixInverse(&inverse, &determinant, &m));
    EXPECT_NEAR(24.0f, determinant, 1e-4f);
    ExpectMatrixNear(expected, inverse);
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    ExpectMatrixNear(identity, m * inverse);

    // In place, as callers often write it.
    D3DXMATRIX copy = m;
    D3DXMatrixInverse(&copy, nullptr, &copy);
    ExpectMatrixNear(expected, copy);
}

TEST(MathMatrices, SingularMatrixHasNoInverseAndLeavesTheOutputAlone) {
    D3DXMATRIX flat;
    D3DXMatrixScaling(&flat, 1, 0, 1);
    D3DXMATRIX out(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    const D3DXMATRIX before = out;
    FLOAT determinant = 5;
    EXPECT_EQ(nullptr, D3DXMatrixInverse(&out, &determinant, &flat));
    EXPECT_EQ(0.0f, determinant);
    EXPECT_EQ(before, out);
}

TEST(MathMatrices, MultiplyMayWriteIntoEitherInput) {
    D3DXMATRIX a, b;
    D3DXMatrixRotationZ(&a, 0.7f);
    D3DXMatrixTranslation(&b, 1, 2, 3);
    const D3DXMATRIX expected = a * b;
    D3DXMATRIX left = a, right = b;
    D3DXMatrixMultiply(&left, &left, &b);
    D3DXMatrixMultiply(&right, &a, &right);
    ExpectMatrixNear(expected, left);
    ExpectMatrixNear(expected, right);
}

TEST(MathQuaternions, RotationMatricesAgreeWithAxisRotations) {
    const D3DXQUATERNION q = AxisAngle(D3DXVECTOR3(0, 1, 0), D3DX_PI / 2);
    D3DXMATRIX fromQuaternion, fromAxis;
    D3DXMatrixRotationQuaternion(&fromQuaternion, &q);
    D3DXMatrixRotationY(&fromAxis, D3DX_PI / 2);
    ExpectMatrixNear(fromAxis, fromQuaternion);
    // Left-handed: a quarter turn about +y takes +x to -z.
    ExpectVectorNear(D3DXVECTOR3(0, 0, -1), Transform(D3DXVECTOR3(1, 0, 0), fromQuaternion));

    // Multiply composes in the order matrices do: q1 first, then q2.
    const D3DXQUATERNION q1 = AxisAngle(D3DXVECTOR3(1, 0, 0), 0.4f);
    const D3DXQUATERNION q2 = AxisAngle(D3DXVECTOR3(0, 0, 1), 1.2f);
    D3DXQUATERNION product;
    D3DXQuaternionMultiply(&product, &q1, &q2);
    D3DXMATRIX m1, m2, mProduct;
    D3DXMatrixRotationQuaternion(&m1, &q1);
    D3DXMatrixRotationQuaternion(&m2, &q2);
    D3DXMatrixRotationQuaternion(&mProduct, &product);
    ExpectMatrixNear(m1 * m2, mProduct);

    // Back from matrices, through every branch of the conversion (large angles included).
    const D3DXVECTOR3 axes[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}};
    for (const auto& axis : axes) {
        for (float angle : {0.5f, 3.0f, -3.0f}) {
            D3DXQUATERNION original = AxisAngle(axis, angle), recovered;
            D3DXMATRIX m;
            D3DXMatrixRotationQuaternion(&m, &original);
            D3DXQuaternionRotationMatrix(&recovered, &m);
            if (D3DXQuaternionDot(&original, &recovered) < 0)
                recovered = -recovered;
            ExpectQuaternionNear(original, recovered);
        }
    }
}

TEST(MathQuaternions, SlerpHitsEndsMiddleAndTakesTheShortWay) {
    const D3DXQUATERNION identity(0, 0, 0, 1);
    const D3DXQUATERNION quarter = AxisAngle(D3DXVECTOR3(0, 1, 0), D3DX_PI / 2);
    const D3DXQUATERNION eighth = AxisAngle(D3DXVECTOR3(0, 1, 0), D3DX_PI / 4);
    D3DXQUATERNION out;
    D3DXQuaternionSlerp(&out, &identity, &quarter, 0.0f);
    ExpectQuaternionNear(identity, out);
    D3DXQuaternionSlerp(&out, &identity, &quarter, 1.0f);
    ExpectQuaternionNear(quarter, out);
    D3DXQuaternionSlerp(&out, &identity, &quarter, 0.5f);
    ExpectQuaternionNear(eighth, out);
    EXPECT_NEAR(1.0f, D3DXQuaternionLength(&out), kTolerance);

    // -quarter is the same rotation; the blend must not swing the long way round.
    const D3DXQUATERNION negated = -quarter;
    D3DXQuaternionSlerp(&out, &identity, &negated, 0.5f);
    ExpectQuaternionNear(eighth, out);

    // Nearly equal inputs still give a unit quaternion between them.
    const D3DXQUATERNION tiny = AxisAngle(D3DXVECTOR3(0, 1, 0), 1e-4f);
    D3DXQuaternionSlerp(&out, &identity, &tiny, 0.5f);
    EXPECT_NEAR(1.0f, D3DXQuaternionLength(&out), kTolerance);
    EXPECT_NEAR(0.25e-4f, out.y, 1e-6f);
}

TEST(MathQuaternions, NormalizeAndInverse) {
    D3DXQUATERNION q(0, 3, 0, 4), out;
    D3DXQuaternionNormalize(&out, &q);
    ExpectQuaternionNear(D3DXQUATERNION(0, 0.6f, 0, 0.8f), out);
    D3DXQUATERNION zero;
    D3DXQuaternionNormalize(&out, &zero);
    EXPECT_EQ(zero, out);

    const D3DXQUATERNION r = AxisAngle(D3DXVECTOR3(1, 1, 0), 0.9f);
    D3DXQUATERNION inverse, product;
    D3DXQuaternionInverse(&inverse, &r);
    D3DXQuaternionMultiply(&product, &r, &inverse);
    ExpectQuaternionNear(D3DXQUATERNION(0, 0, 0, 1), product);
}

TEST(MathMatrices, TransformationAndDecomposeAreInverse) {
    const D3DXVECTOR3 scaling(2, 3, 0.5f), translation(-1, 4, 9);
    const D3DXQUATERNION rotation = AxisAngle(D3DXVECTOR3(1, -2, 0.5f), 1.3f);
    D3DXMATRIX m;
    D3DXMatrixTransformation(&m, nullptr, nullptr, &scaling, nullptr, &rotation, &translation);

    D3DXMATRIX s, r, t;
    D3DXMatrixScaling(&s, 2, 3, 0.5f);
    D3DXMatrixRotationQuaternion(&r, &rotation);
    D3DXMatrixTranslation(&t, -1, 4, 9);
    ExpectMatrixNear(s * r * t, m);

    D3DXVECTOR3 outScale, outTranslation;
    D3DXQUATERNION outRotation;
    ASSERT_EQ(S_OK, D3DXMatrixDecompose(&outScale, &outRotation, &outTranslation, &m));
    ExpectVectorNear(scaling, outScale);
    ExpectVectorNear(translation, outTranslation);
    if (D3DXQuaternionDot(&outRotation, &rotation) < 0)
        outRotation = -outRotation;
    ExpectQuaternionNear(rotation, outRotation);

    D3DXMatrixScaling(&m, 1, 0, 1);
    EXPECT_EQ(D3DERR_INVALIDCALL,
              D3DXMatrixDecompose(&outScale, &outRotation, &outTranslation, &m));
}

TEST(MathMatrices, YawPitchRollRollsThenPitchesThenYaws) {
    D3DXMATRIX combined, roll, pitch, yaw;
    D3DXMatrixRotationYawPitchRoll(&combined, 0.3f, -0.7f, 1.9f);
    D3DXMatrixRotationZ(&roll, 1.9f);
    D3DXMatrixRotationX(&pitch, -0.7f);
    D3DXMatrixRotationY(&yaw, 0.3f);
    ExpectMatrixNear(roll * pitch * yaw, combined);

    D3DXQUATERNION q;
    D3DXQuaternionRotationYawPitchRoll(&q, 0.3f, -0.7f, 1.9f);
    D3DXMATRIX fromQuaternion;
    D3DXMatrixRotationQuaternion(&fromQuaternion, &q);
    ExpectMatrixNear(combined, fromQuaternion);
}

} // namespace
