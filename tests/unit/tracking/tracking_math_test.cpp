// Orientation math against a second formulation written here: rotations as quaternion
// sandwiches q v q*, the attitude filter as the rate equation q' = q (0, w) / 2 with its error
// terms as cross products of rotated reference directions, all in double. Inputs are general
// (every component non-zero, many steps away from the identity) so that a swapped term or a lost
// sign in any branch shows.
#include "link/tracking_math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "link/head_tracking.h"
#include "link/wire_format.h"

namespace quillo::test {
namespace {

struct Q {
    double x, y, z, w;
};
struct V {
    double x, y, z;
};

Q Mul(const Q& a, const Q& b) {
    const V av{a.x, a.y, a.z}, bv{b.x, b.y, b.z};
    const double dot = av.x * bv.x + av.y * bv.y + av.z * bv.z;
    const V cross{av.y * bv.z - av.z * bv.y, av.z * bv.x - av.x * bv.z, av.x * bv.y - av.y * bv.x};
    return Q{a.w * bv.x + b.w * av.x + cross.x, a.w * bv.y + b.w * av.y + cross.y,
             a.w * bv.z + b.w * av.z + cross.z, a.w * b.w - dot};
}
Q Conj(const Q& q) {
    return Q{-q.x, -q.y, -q.z, q.w};
}
Q Scale(const Q& q, double k) {
    return Q{q.x * k, q.y * k, q.z * k, q.w * k};
}
Q Unit(const Q& q) {
    return Scale(q, 1.0 / std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w));
}
// q v q*: v from the frame q describes into the frame it is described in.
V Rotate(const Q& q, const V& v) {
    const Q r = Mul(Mul(q, Q{v.x, v.y, v.z, 0}), Conj(q));
    return V{r.x, r.y, r.z};
}
V Cross(const V& a, const V& b) {
    return V{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Q FromFloat(const Quaternion& q) {
    return Q{q.x, q.y, q.z, q.w};
}

// Row-major 3x4 whose column c is the image of axis c; translation (1.5, -0.25, 2).
struct Matrix34 {
    float m[12];
};
Matrix34 MatrixOf(const Q& q) {
    const V columns[3] = {Rotate(q, V{1, 0, 0}), Rotate(q, V{0, 1, 0}), Rotate(q, V{0, 0, 1})};
    Matrix34 out{};
    for (int c = 0; c < 3; ++c) {
        out.m[c] = static_cast<float>(columns[c].x);
        out.m[4 + c] = static_cast<float>(columns[c].y);
        out.m[8 + c] = static_cast<float>(columns[c].z);
    }
    out.m[3] = 1.5f;
    out.m[7] = -0.25f;
    out.m[11] = 2.0f;
    return out;
}

void ExpectQuat(const Q& expected, const Quaternion& q, double tol) {
    EXPECT_NEAR(expected.x, q.x, tol);
    EXPECT_NEAR(expected.y, q.y, tol);
    EXPECT_NEAR(expected.z, q.z, tol);
    EXPECT_NEAR(expected.w, q.w, tol);
}

// One rotation per conversion branch, every component non-zero. The branches return the same
// rotation with different signs: the largest-diagonal form makes w positive when the trace is
// positive, else the component of the largest diagonal entry (a tie goes to the later axis);
// the copysign form always makes w positive.
struct BranchCase {
    const char* name;
    Q rotation;    // unnormalised
    int positive;  // component the largest-diagonal form returns positive: 0..2 x..z, 3 w
};
const BranchCase kBranches[] = {
    {"trace", {0.3, -0.2, 0.25, 0.9}, 3},
    {"x", {0.8, 0.35, -0.3, 0.25}, 0},
    {"y", {-0.3, 0.8, 0.35, -0.25}, 1},
    {"z", {0.35, -0.3, 0.8, 0.25}, 2},
    // |x| = |y| > |z|, trace < 0: m00 == m11 > m22, the tie falls to y.
    {"tie x y", {0.6, -0.6, 0.3, 0.2}, 1},
    // |y| = |z| > |x|: m11 == m22 > m00, the tie falls to z.
    {"tie y z", {0.3, 0.6, -0.6, 0.2}, 2},
};

TEST(MatrixToQuaternion, EveryBranchAndTieWithGeneralRotations) {
    for (const BranchCase& c : kBranches) {
        SCOPED_TRACE(c.name);
        const Q q = Unit(c.rotation);
        const double components[4] = {q.x, q.y, q.z, q.w};
        const Q branchSigned = Scale(q, components[c.positive] > 0 ? 1.0 : -1.0);
        const Matrix34 m = MatrixOf(q);
        ExpectQuat(branchSigned, MatrixToQuaternion(m.m), 2e-6);
        ExpectQuat(Scale(q, q.w > 0 ? 1.0 : -1.0), MatrixToQuaternionCopysign(m.m), 2e-6);
        // And back: QuaternionToMatrix against the sandwich form.
        const Matrix4 back =
            QuaternionToMatrix(Quaternion{float(q.x), float(q.y), float(q.z), float(q.w)});
        for (int r = 0; r < 3; ++r) {
            for (int col = 0; col < 3; ++col)
                EXPECT_NEAR(m.m[4 * r + col], back.m[4 * r + col], 1e-6);
        }
        EXPECT_EQ(1.0f, back.m[15]);
    }
}

TEST(MatrixToQuaternionCopysign, ZeroDifferencesGiveZeroAndRoundingIsClamped) {
    // 180 degrees about X: w = 0 and m21 - m12 = 0, so x is 0 too.
    const float flip[12] = {1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0};
    ExpectQuat(Q{0, 0, 0, 0}, MatrixToQuaternionCopysign(flip), 0);
    // Rounding pushes 1 + m00 + m11 + m22 below zero: clamped, not NaN.
    const float rounded[12] = {-1.0000001f, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1, 0};
    EXPECT_EQ(0.0f, MatrixToQuaternionCopysign(rounded).w);
}

// Angles in double, compared with the product of single-axis rotations in the documented order.
Q AxisAngle(const V& axis, double angle) {
    const double s = std::sin(angle / 2);
    return Q{axis.x * s, axis.y * s, axis.z * s, std::cos(angle / 2)};
}
Q Euler(double rx, double ry, double rz) {
    return Mul(AxisAngle(V{0, 1, 0}, ry),
               Mul(AxisAngle(V{0, 0, 1}, rz), AxisAngle(V{1, 0, 0}, rx)));
}

TEST(EulerToQuaternion, YawAfterRollAfterPitchWithDoubleProducts) {
    ExpectQuat(Euler(0.4, 0.9, -0.6), EulerToQuaternion(0.4f, 0.9f, -0.6f), 1e-6);
}

// Both forms (the head pose's and the headset offsets') against the reference product.
TEST(Compose, BothFormsAreTheProduct) {
    const Quaternion a{0.3f, -0.5f, 0.6f, 0.55f}, b{-0.7f, 0.2f, 0.45f, 0.5f};
    ExpectQuat(Mul(FromFloat(a), FromFloat(b)), ComposeOrientation(a, b), 1e-6);
    ExpectQuat(Mul(FromFloat(a), FromFloat(b)), HamiltonProduct(a, b), 1e-6);
}

TEST(FastInverseSqrt, OneNewtonStep) {
    EXPECT_EQ(0.99830717f, FastInverseSqrt(1.0f));  // one step leaves up to ~0.2 % error
    EXPECT_NEAR(0.1f, FastInverseSqrt(100.0f), 2e-4f);
    EXPECT_NE(0.1f, FastInverseSqrt(100.0f)) << "a second Newton step or a true sqrt";
}

// The filter written as its equations: gravity (and the Earth's field, reduced to its horizontal
// magnitude and vertical part) rotated into the body frame, the error as measured x estimated,
// the rate corrected by it and integrated as q += q (0, w dt / 2), then the same one-step
// inverse square root as the filter (checked above) for the renormalisation.
constexpr double kDt = 1.0 / 76.0;
Q ReferenceStep(Q q, V gyro, V accel, V mag) {
    auto unit = [](V v) {
        const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        return V{v.x / n, v.y / n, v.z / n};
    };
    const V a = unit(accel);
    // Body frame estimate of "up", halved: q* (0,0,1) q.
    const V v = Rotate(Conj(q), V{0, 0, 0.5});
    V e = Cross(a, v);
    if (mag.x != 0 || mag.y != 0 || mag.z != 0) {
        const V m = unit(mag);
        const V h = Rotate(q, m);  // field in the earth frame
        const V b{std::sqrt(h.x * h.x + h.y * h.y), 0, h.z};
        const V w = Rotate(Conj(q), V{b.x / 2, 0, b.z / 2});
        const V em = Cross(m, w);
        e = V{e.x + em.x, e.y + em.y, e.z + em.z};
    }
    const V rate{gyro.x + e.x, gyro.y + e.y, gyro.z + e.z};  // proportional gain 1 (2Kp / 2)
    const Q dq = Mul(q, Q{rate.x * kDt / 2, rate.y * kDt / 2, rate.z * kDt / 2, 0});
    q = Q{q.x + dq.x, q.y + dq.y, q.z + dq.z, q.w + dq.w};
    const float norm2 = float(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    return Scale(q, FastInverseSqrt(norm2));
}

enum class Form { kSixAxisViaZeroField, kSixAxis, kNineAxis };

class MahonySteps : public ::testing::TestWithParam<Form> {};

TEST_P(MahonySteps, FollowTheRateEquationFromATiltedStart) {
    const Form form = GetParam();
    Q reference = Unit(Q{0.3, -0.45, 0.2, 0.8});
    OrientationFilter f;
    f.q0 = float(reference.w), f.q1 = float(reference.x);
    f.q2 = float(reference.y), f.q3 = float(reference.z);
    for (int step = 0; step < 30; ++step) {
        SCOPED_TRACE(step);
        const double t = step * 0.37;
        const V gyro{0.4 + 0.3 * std::sin(t), -0.6 + 0.2 * std::cos(t),
                     0.25 + 0.1 * std::sin(2 * t)};
        const V accel{1.5 + std::cos(t), -2.0 + 0.5 * std::sin(t), 9.0};
        const V mag = form == Form::kNineAxis ? V{20 + 3 * std::sin(t), -8.0, -35 + 2 * std::cos(t)}
                                              : V{0, 0, 0};
        reference = ReferenceStep(reference, gyro, accel, mag);
        const float g[3] = {float(gyro.x), float(gyro.y), float(gyro.z)};
        const float a[3] = {float(accel.x), float(accel.y), float(accel.z)};
        if (form == Form::kSixAxis) {
            MahonyUpdateImu(f, g[0], g[1], g[2], a[0], a[1], a[2]);
        } else {
            MahonyUpdate(f, g[0], g[1], g[2], a[0], a[1], a[2], float(mag.x), float(mag.y),
                         float(mag.z));
        }
        ExpectQuat(reference, Quaternion{f.q1, f.q2, f.q3, f.q0}, 2e-4);
        ASSERT_FALSE(HasFailure());
    }
    EXPECT_EQ(0.0f, f.integralFBx);  // no integral gain: the integral stays cleared
}

INSTANTIATE_TEST_SUITE_P(BothForms, MahonySteps,
                         ::testing::Values(Form::kSixAxisViaZeroField, Form::kSixAxis,
                                           Form::kNineAxis));

TEST(Mahony, ZeroAccelerometerOnlyIntegratesTheRate) {
    OrientationFilter f;
    MahonyUpdate(f, 0.3f, -0.2f, 1.0f, 0, 0, 0, 0, 40.0f, 0);
    const Q expected = ReferenceStep(Q{0, 0, 0, 1}, V{0.3, -0.2, 1.0}, V{0, 0, 1}, V{0, 0, 0});
    // Gravity along z from the identity gives no error, so the reference matches the skip.
    ExpectQuat(expected, Quaternion{f.q1, f.q2, f.q3, f.q0}, 1e-6);
}

// Recenter: the offset is a yaw of minus the vertical component of the raw rotation vector
// (2 atan2(|v|, w) v / |v| of the rotation with w >= 0), composed before every later pose.
Q ExpectedOffset(Q raw) {
    raw = Unit(raw);
    if (raw.w < 0) raw = Scale(raw, -1);
    const double n = std::sqrt(raw.x * raw.x + raw.y * raw.y + raw.z * raw.z);
    const double ry = 2 * std::atan2(n, raw.w) * raw.y / n;
    return AxisAngle(V{0, 1, 0}, -ry);
}

wire::TrackingUpdate QuaternionUpdate(const Q& q) {
    wire::TrackingUpdate u;
    u.wireKind = int32_t(wire::TrackingKind::kQuaternionAndPosition);
    const float quaternion[4] = {float(q.x), float(q.y), float(q.z), float(q.w)};
    const float position[3] = {0.1f, 1.6f, -0.3f};
    std::copy(quaternion, quaternion + 4, u.quaternion);
    std::copy(position, position + 3, u.position);
    return u;
}

TEST(Recenter, CancelsTheYawOfTheRecenterPoseForEveryLaterKind) {
    // Raw pose at recenter: w < 0 and tilted; RecenterOffset is also checked on its own.
    const Q atRecenter = Unit(Q{0.2, 0.7, -0.15, -0.45});
    ExpectQuat(ExpectedOffset(atRecenter),
               RecenterOffset(Quaternion{0.2f * 3, 0.7f * 3, -0.15f * 3, -0.45f * 3}), 1e-6);
    ExpectQuat(Q{0, 0, 0, 1}, RecenterOffset(Quaternion{0, 0, 0, 0}), 0);

    TrackingState state;
    state.ApplyTracking(QuaternionUpdate(atRecenter));
    wire::TrackingUpdate recenter;
    recenter.wireKind = int32_t(wire::TrackingKind::kRecenter);
    state.ApplyTracking(recenter);
    const Q offset = ExpectedOffset(atRecenter);
    ExpectQuat(Mul(offset, atRecenter), state.orientation(), 2e-6);

    // Later poses: a quaternion, angles, a rotation matrix and a pose matrix, each tilted.
    const Q later = Unit(Q{-0.35, 0.25, 0.4, 0.8});
    state.ApplyTracking(QuaternionUpdate(later));
    ExpectQuat(Mul(offset, later), state.orientation(), 2e-6);

    wire::TrackingUpdate angles;
    angles.wireKind = int32_t(wire::TrackingKind::kAnglesAndPosition);
    const float radians[3] = {0.3f, -1.2f, 0.5f};
    std::copy(radians, radians + 3, angles.angles);
    state.ApplyTracking(angles);
    ExpectQuat(Mul(offset, Euler(0.3, -1.2, 0.5)), state.orientation(), 2e-6);

    const Q turned = Unit(Q{0.5, -0.3, 0.6, 0.4});
    for (wire::TrackingKind kind :
         {wire::TrackingKind::kRotationMatrix, wire::TrackingKind::kPoseMatrix}) {
        wire::TrackingUpdate matrix;
        matrix.wireKind = int32_t(kind);
        const Matrix34 m = MatrixOf(turned);
        std::copy(m.m, m.m + 12, matrix.matrix);
        state.ApplyTracking(matrix);
        const Q expected = Mul(offset, turned);
        const Quaternion got = state.orientation();
        const double sign = got.w * expected.w < 0 ? -1 : 1;  // either sign is the same rotation
        ExpectQuat(Scale(expected, sign), got, 2e-6);
    }
    EXPECT_EQ(2.0f, state.position().z);  // column 3 of the pose matrix
    EXPECT_EQ(-0.25f, state.position().y);
}

}  // namespace
}  // namespace quillo::test
