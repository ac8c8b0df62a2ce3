// The link's head-tracking state fed with encoded TrackingMessage payloads.
#include "link/head_tracking.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "link/little_endian.h"
#include "link/tracking_math.h"

namespace quillo::test {
namespace {

using wire::TrackingUpdate;
using wire::WireError;

std::vector<uint8_t> Encode(const TrackingUpdate& update) {
    std::vector<uint8_t> bytes(64);
    size_t written = 0;
    EXPECT_EQ(WireError::kNone, EncodeTrackingPayload(update, bytes.data(), 64, written));
    bytes.resize(written);
    return bytes;
}

WireError Send(TrackingState& state, const TrackingUpdate& update) {
    const std::vector<uint8_t> bytes = Encode(update);
    return state.DecodeTracking(bytes.data(), bytes.size());
}

TrackingUpdate Matrix(int32_t kind, float diagX, float diagY, float diagZ, float tx = 0,
                      float ty = 0, float tz = 0) {
    TrackingUpdate u;
    u.wireKind = kind;
    const float m[12] = {diagX, 0, 0, tx, 0, diagY, 0, ty, 0, 0, diagZ, tz};
    std::memcpy(u.matrix, m, sizeof m);
    return u;
}

TrackingUpdate Quat(float x, float y, float z, float w) {
    TrackingUpdate u;
    u.wireKind = 4;
    const float q[4] = {x, y, z, w}, p[3] = {0.1f, 1.6f, -0.2f};
    std::memcpy(u.quaternion, q, sizeof q);
    std::memcpy(u.position, p, sizeof p);
    return u;
}

TrackingUpdate NoData(int32_t kind) {
    TrackingUpdate u;
    u.wireKind = kind;
    return u;
}

void ExpectQuat(const Quaternion& q, float x, float y, float z, float w, float tol = 1e-6f) {
    EXPECT_NEAR(x, q.x, tol);
    EXPECT_NEAR(y, q.y, tol);
    EXPECT_NEAR(z, q.z, tol);
    EXPECT_NEAR(w, q.w, tol);
}

// Kinds 0 and 6 with general rotations are checked against the sandwich form in
// tracking_math_test.cpp; here what each does with the position and the pose flag.
TEST(TrackingState, MatrixKindsAndThePosition) {
    TrackingState state;
    EXPECT_FALSE(state.Snapshot().poseReceived);
    ASSERT_EQ(WireError::kNone, Send(state, Matrix(0, -1, -1, 1, 5, 5, 5)));
    ExpectQuat(state.rawOrientation(), 0, 0, 1, 0);
    EXPECT_EQ(1.7f, state.position().y) << "kind 0 leaves the position alone";
    EXPECT_TRUE(state.Snapshot().poseReceived);

    ASSERT_EQ(WireError::kNone, Send(state, Matrix(6, 1, 1, 1, 1, 2, 3)));
    const HeadPose pose = state.Snapshot();
    EXPECT_EQ(1.0f, pose.orientation[3]);
    EXPECT_EQ(std::vector<float>(pose.position, pose.position + 3),
              (std::vector<float>{1.0f, 2.0f, 3.0f}));
}

// The filter keeps its scalar first; the pose takes it last, about normalised by the round
// trip through a matrix. Two samples (nine-axis, then six-axis): the filter leaves the identity.
TEST(TrackingState, InertialSamplesTurnThePoseAsTheFilterDoes) {
    TrackingState state;
    OrientationFilter filter;
    TrackingUpdate u;
    u.wireKind = 2;
    u.inertial = {{0.4f, -0.7f, 0.3f}, {1.5f, -2.0f, 9.0f}, {20.0f, -8.0f, -35.0f}};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(WireError::kNone, Send(state, u));
        const wire::InertialSample& s = u.inertial;
        MahonyUpdate(filter, s.gyro[0], s.gyro[1], s.gyro[2], s.accel[0], s.accel[1], s.accel[2],
                     s.mag[0], s.mag[1], s.mag[2]);
        const float n = std::sqrt(filter.q0 * filter.q0 + filter.q1 * filter.q1 +
                                  filter.q2 * filter.q2 + filter.q3 * filter.q3);
        const float k = (state.rawOrientation().w * filter.q0 < 0 ? -1.0f : 1.0f) / n;
        ExpectQuat(state.rawOrientation(), k * filter.q1, k * filter.q2, k * filter.q3,
                   k * filter.q0, 1e-4f);
        u.inertial.mag[0] = u.inertial.mag[1] = u.inertial.mag[2] = 0.0f;
    }
    EXPECT_EQ(1.7f, state.position().y) << "inertial samples leave the position alone";
}

TEST(TrackingState, QuaternionAnglesAndStatus) {
    TrackingState state;
    TrackingUpdate status = NoData(254);
    status.status = 2;
    ASSERT_EQ(WireError::kNone, Send(state, status));
    EXPECT_TRUE(state.poseReceived()) << "a status message counts as a tracking update";
    EXPECT_EQ(2, state.Snapshot().trackingStatus);
    status.status = 0;
    ASSERT_EQ(WireError::kNone, Send(state, status));
    ASSERT_EQ(WireError::kNone, Send(state, Quat(0, 0, 0, 2)));  // not normalised
    HeadPose pose = state.Snapshot();
    EXPECT_EQ(2.0f, pose.orientation[3]);
    EXPECT_EQ(1.6f, pose.position[1]);

    TrackingUpdate angles;
    angles.wireKind = 3;
    angles.angles[1] = 1.0471976f;  // 60 degrees of yaw
    angles.position[2] = 0.5f;
    ASSERT_EQ(WireError::kNone, Send(state, angles));
    pose = state.Snapshot();
    EXPECT_NEAR(0.5f, pose.orientation[1], 1e-6f);
    EXPECT_EQ(0.5f, pose.position[2]);

    status.status = 2;
    ASSERT_EQ(WireError::kNone, Send(state, status));
    pose = state.Snapshot();
    EXPECT_EQ(2, pose.trackingStatus);
    EXPECT_NEAR(0.5f, pose.orientation[1], 1e-6f) << "status leaves the rotation as it was";
}

TEST(TrackingState, RecenteringAPurePitchLeavesNothingToCancel) {
    TrackingState state;
    TrackingUpdate pitch = NoData(3);
    pitch.angles[0] = 0.5235988f;  // 30 degrees
    ASSERT_EQ(WireError::kNone, Send(state, pitch));
    state.Recenter();
    ExpectQuat(state.recenterOffset(), 0, 0, 0, 1, 0);
    ExpectQuat(state.orientation(), 0.25881904f, 0, 0, 0.96592583f);  // sin and cos of 15 degrees
}

TEST(TrackingState, PositionOnlyKeepsTheComposedOrientation) {
    TrackingState state;
    ASSERT_EQ(WireError::kNone, Send(state, Quat(0, 0.25881904f, 0, 0.96592583f)));
    ASSERT_EQ(WireError::kNone, Send(state, NoData(50)));
    const HeadPose before = state.Snapshot();
    ASSERT_EQ(WireError::kNone, Send(state, Quat(0, 0.5f, 0, 0.8660254f)));
    state.Recenter();
    TrackingUpdate position;
    position.wireKind = 5;
    position.position[0] = 4.0f;
    ASSERT_EQ(WireError::kNone, Send(state, position));
    const HeadPose after = state.Snapshot();
    EXPECT_EQ(4.0f, after.position[0]);
    // Still the composition with the old offset: 60 - 30 = 30 degrees of yaw.
    EXPECT_NEAR(0.25881904f, after.orientation[1], 1e-6f);
    EXPECT_NE(before.orientation[1], after.orientation[1]);
}

}  // namespace
}  // namespace quillo::test
