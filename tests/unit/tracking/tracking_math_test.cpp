// Orientation helpers against hand-computed values chosen so that a swapped operand, a wrong
// branch, a lost sign rule or a change of precision shows.
#include "link/tracking_math.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quillo {
namespace {

constexpr float kHalfSqrt2 = 0.70710678f;

// Row-major 3x4 with the given 3x3 rotation, translation zero.
struct Rotation {
    float m[12];
};

Rotation Diagonal(float a, float b, float c) {
    return Rotation{{a, 0, 0, 0, 0, b, 0, 0, 0, 0, c, 0}};
}

void ExpectQuat(const Quaternion& q, float x, float y, float z, float w, float tol = 1e-6f) {
    EXPECT_NEAR(x, q.x, tol);
    EXPECT_NEAR(y, q.y, tol);
    EXPECT_NEAR(z, q.z, tol);
    EXPECT_NEAR(w, q.w, tol);
}

TEST(MatrixToQuaternion, EachBranchAndItsSigns) {
    ExpectQuat(MatrixToQuaternion(Diagonal(1, 1, 1).m), 0, 0, 0, 1);
    ExpectQuat(MatrixToQuaternion(Diagonal(-1, -1, 1).m), 0, 0, 1, 0);  // 180 about Z
    ExpectQuat(MatrixToQuaternion(Diagonal(-1, 1, -1).m), 0, 1, 0, 0);  // 180 about Y
    ExpectQuat(MatrixToQuaternion(Diagonal(1, -1, -1).m), 1, 0, 0, 0);  // 180 about X
    // 90 degrees about X: y -> z. A swapped (m21 - m12) would flip the sign of x.
    const Rotation rx90{{1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0}};
    ExpectQuat(MatrixToQuaternion(rx90.m), kHalfSqrt2, 0, 0, kHalfSqrt2);
    // 120 degrees about (1,1,1)/sqrt3 (x -> y -> z): trace 0 and a tie on the diagonal, so
    // the last branch runs: s = 2, w = (m10 - m01) / s.
    const Rotation cyclic{{0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0}};
    ExpectQuat(MatrixToQuaternion(cyclic.m), 0.5f, 0.5f, 0.5f, 0.5f);
}

TEST(MatrixToQuaternionCopysign, SignsFromDifferencesAndZeroDifferenceGivesZero) {
    ExpectQuat(MatrixToQuaternionCopysign(Diagonal(1, 1, 1).m), 0, 0, 0, 1);
    // 180 about X: w = 0 and m21 - m12 = 0, so x is 0 too: all four components zero.
    const Quaternion flip = MatrixToQuaternionCopysign(Diagonal(1, -1, -1).m);
    EXPECT_EQ(0.0f, flip.x);
    EXPECT_EQ(0.0f, flip.y);
    EXPECT_EQ(0.0f, flip.z);
    EXPECT_EQ(0.0f, flip.w);
    const Rotation rx90{{1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0}};
    ExpectQuat(MatrixToQuaternionCopysign(rx90.m), kHalfSqrt2, 0, 0, kHalfSqrt2);
    const Rotation rxMinus90{{1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0}};
    ExpectQuat(MatrixToQuaternionCopysign(rxMinus90.m), -kHalfSqrt2, 0, 0, kHalfSqrt2);
    // Rounding pushes 1 + m00 + m11 + m22 below zero: clamped, not NaN.
    const Quaternion clamped = MatrixToQuaternionCopysign(Diagonal(-1.0000001f, -1, 1).m);
    EXPECT_EQ(0.0f, clamped.w);
}

TEST(QuaternionMatrix, RoundTripThroughTheMatrix) {
    const Quaternion in = EulerToQuaternion(0.3f, -1.1f, 0.7f);
    const Matrix4 m = QuaternionToMatrix(in);
    EXPECT_EQ(1.0f, m.m[15]);
    const Quaternion out = MatrixToQuaternion(m.m);
    const float sign = out.w * in.w < 0 ? -1.0f : 1.0f;
    ExpectQuat(out, sign * in.x, sign * in.y, sign * in.z, sign * in.w, 2e-6f);
    // Row 0 column 1 is 2xy - 2zw: for 90 degrees about Z it is -1 (x maps to y).
    const Matrix4 rz = QuaternionToMatrix(Quaternion{0, 0, kHalfSqrt2, kHalfSqrt2});
    EXPECT_NEAR(-1.0f, rz.m[1], 1e-6f);
    EXPECT_NEAR(1.0f, rz.m[4], 1e-6f);
}

TEST(EulerToQuaternion, YawAfterRollAfterPitch) {
    // Single axes: (sin(a/2) on the axis, cos(a/2)).
    ExpectQuat(EulerToQuaternion(0, 1.0471976f, 0), 0, 0.5f, 0, 0.8660254f);
    ExpectQuat(EulerToQuaternion(0, 0, -1.0471976f), 0, 0, -0.5f, 0.8660254f);
    // Three axes: equals qY * qZ * qX, not any other order.
    const float rx = 0.4f, ry = 0.9f, rz = -0.6f;
    const Quaternion q = EulerToQuaternion(rx, ry, rz);
    const Quaternion qx = EulerToQuaternion(rx, 0, 0);
    const Quaternion qy = EulerToQuaternion(0, ry, 0);
    const Quaternion qz = EulerToQuaternion(0, 0, rz);
    const Quaternion expected = HamiltonProduct(qy, HamiltonProduct(qz, qx));
    ExpectQuat(q, expected.x, expected.y, expected.z, expected.w, 1e-6f);
    const Quaternion otherOrder = HamiltonProduct(qx, HamiltonProduct(qy, qz));
    EXPECT_GT(std::fabs(otherOrder.x - q.x) + std::fabs(otherOrder.z - q.z), 1e-2f);
}

TEST(EulerToQuaternion, ProductsInDoubleThenNarrowed) {
    // With the six factors in double the products of cos values near 1 round once; done in
    // float they would round at every step. cos(1e-3/2) in float is 0.999999881..., and the
    // float product cz*cy*cx differs from the double one narrowed.
    const float a = 1e-3f;
    const Quaternion q = EulerToQuaternion(a, a, a);
    const double c = std::cos(a * 0.5f), s = std::sin(a * 0.5f);
    EXPECT_EQ(static_cast<float>(c * c * c - s * s * s), q.w);
    EXPECT_EQ(static_cast<float>(c * c * s + s * s * c), q.x);
}

TEST(Compose, OperandOrderAndTheTwoTermOrders) {
    const Quaternion yaw90{0, kHalfSqrt2, 0, kHalfSqrt2};
    const Quaternion pitch90{kHalfSqrt2, 0, 0, kHalfSqrt2};
    // yaw * pitch = (0.5, 0.5, -0.5, 0.5); pitch * yaw has +0.5 in z.
    ExpectQuat(ComposeOrientation(yaw90, pitch90), 0.5f, 0.5f, -0.5f, 0.5f);
    ExpectQuat(ComposeOrientation(pitch90, yaw90), 0.5f, 0.5f, 0.5f, 0.5f);
    ExpectQuat(HamiltonProduct(yaw90, pitch90), 0.5f, 0.5f, -0.5f, 0.5f);

    // The two forms add the same four terms of y in different orders, which rounds
    // differently when terms cancel: here aw by = 1, ax bz = -1e8, ay bw = -1e8, az bx = 1
    // (exact sum 2). Tracking: ((1 + 1e8) - 1e8) + 1 = 1; pose: ((1 - 1e8) + 1) + 1e8 = 0.
    const Quaternion a{1e4f, -1e4f, 1, 1};
    const Quaternion b{1, 1, -1e4f, 1e4f};
    EXPECT_EQ(1.0f, ComposeOrientation(a, b).y);
    EXPECT_EQ(0.0f, HamiltonProduct(a, b).y);
}

TEST(QuaternionToRotationVector, AngleAndTheNegativeScalarRule) {
    const Vector3 yaw = QuaternionToRotationVector(Quaternion{0, kHalfSqrt2, 0, kHalfSqrt2});
    EXPECT_NEAR(1.5707964f, yaw.y, 1e-6f);
    EXPECT_EQ(0.0f, yaw.x);
    // w < 0: the same rotation as -q, i.e. -90 degrees about Y.
    const Vector3 flipped = QuaternionToRotationVector(Quaternion{0, kHalfSqrt2, 0, -kHalfSqrt2});
    EXPECT_NEAR(-1.5707964f, flipped.y, 1e-6f);
    const Vector3 none = QuaternionToRotationVector(Quaternion{0, 0, 0, 1});
    EXPECT_EQ(0.0f, none.x + none.y + none.z);
}

TEST(FastInverseSqrt, OneNewtonStep) {
    EXPECT_EQ(0.99830717f, FastInverseSqrt(1.0f));
    // One step leaves up to about 0.2 % error.
    EXPECT_NEAR(0.5f, FastInverseSqrt(4.0f), 1e-3f);
    EXPECT_NEAR(0.1f, FastInverseSqrt(100.0f), 2e-4f);
    EXPECT_NE(0.1f, FastInverseSqrt(100.0f)) << "a second Newton step or a true sqrt";
    // Negative input: defined bit arithmetic (no signed overflow), garbage value.
    (void)FastInverseSqrt(-1.0f);
}

TEST(Mahony, FixedPointOfTheUnitQuaternion) {
    OrientationFilter f;
    MahonyUpdate(f, 0, 0, 0, 0, 0, 1, 0, 0, 0);  // zero magnetometer: six-axis form
    EXPECT_EQ(0.99830717f, f.q0);
    MahonyUpdate(f, 0, 0, 0, 0, 0, 1, 0, 0, 0);
    EXPECT_EQ(0.99831241f, f.q0);
    MahonyUpdate(f, 0, 0, 0, 0, 0, 1, 0, 0, 0);
    EXPECT_EQ(0.99831241f, f.q0);
    EXPECT_EQ(0.0f, f.q1 + f.q2 + f.q3);
}

TEST(Mahony, GyroIntegrationAndFeedbackSigns) {
    // Pure rate about Z, no accelerometer: q3 / q0 = gz * 0.5 / 76.
    OrientationFilter spin;
    MahonyUpdate(spin, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
    EXPECT_FLOAT_EQ(0.0065789474f, spin.q3 / spin.q0);
    EXPECT_EQ(0.0f, spin.q1);

    // Gravity measured along +y from the identity: error about +x of 0.5 (times the
    // approximate unit length of the scaled sample), gain 1.
    OrientationFilter tilt;
    MahonyUpdateImu(tilt, 0, 0, 0, 0, 2.0f, 0);
    EXPECT_NEAR(0.0032894737f, tilt.q1 / tilt.q0, 1e-5f);
    EXPECT_EQ(0.0f, tilt.q2);

    // Nine-axis: level, field along +y instead of +x -> yaw error about -z.
    OrientationFilter heading;
    MahonyUpdate(heading, 0, 0, 0, 0, 0, 9.81f, 0, 40.0f, 0);
    EXPECT_NEAR(-0.0032894737f, heading.q3 / heading.q0, 3e-5f);
    EXPECT_EQ(0.0f, heading.q1);
    // A zero accelerometer skips all feedback, magnetometer or not.
    OrientationFilter blind;
    MahonyUpdate(blind, 0, 0, 0, 0, 0, 0, 0, 40.0f, 0);
    EXPECT_EQ(0.0f, blind.q3);
    EXPECT_EQ(0.0f, blind.integralFBx);
}

TEST(RecenterOffset, CancelsYawOnly) {
    const Quaternion yaw30{0, 0.25881904f, 0, 0.96592583f};
    const Quaternion offset = RecenterOffset(yaw30);
    ExpectQuat(offset, 0, -0.25881904f, 0, 0.96592583f);
    const Quaternion pitch{0.38268343f, 0, 0, 0.92387953f};
    const Quaternion none = RecenterOffset(pitch);
    // sin(-0) is -0, but y = cz sy cx + sz cy sx adds +0 to it, so the sum is zero (of either
    // sign); only its value matters to the composition.
    EXPECT_EQ(0.0f, none.x);
    EXPECT_EQ(0.0f, none.y);
    EXPECT_EQ(0.0f, none.z);
    EXPECT_EQ(1.0f, none.w);
    // Not normalised input is normalised first; a zero quaternion gives the identity.
    ExpectQuat(RecenterOffset(Quaternion{0, 0.5f, 0, 1.8660254f}), 0, -0.25881904f, 0, 0.96592583f);
    ExpectQuat(RecenterOffset(Quaternion{0, 0, 0, 0}), 0, 0, 0, 1);
}

}  // namespace
}  // namespace quillo
