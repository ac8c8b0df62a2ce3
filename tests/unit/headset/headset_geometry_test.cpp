// Display geometry from the settings, rotation offsets and the pose built from a head pose.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <tuple>

#include "devices/headset/headset_geometry.h"
#include "unit/headset/runtime_fixture.h"

namespace quillo::test {
namespace {

void ExpectGeometry(const DisplayGeometry& g, int32_t rtWidth, int32_t rtHeight) {
    EXPECT_EQ(g.renderTargetWidth, rtWidth);
    EXPECT_EQ(g.renderTargetHeight, rtHeight);
    // The window is always two render targets side by side.
    EXPECT_EQ(g.windowWidth, 2 * rtWidth);
    EXPECT_EQ(g.windowHeight, rtHeight);
}

// Width halved in integers before scaling, products truncated (1003 / 2 = 501, x 1.5 = 751.5 ->
// 751; scaling first would give 752), scale never below 100 %, the minimums 500 x 600 applied
// to the scaled size.
TEST(DisplayGeometry, FromTheSettings) {
    const struct {
        int32_t width, height, percent, rtWidth, rtHeight;
    } cases[] = {
        {2560, 1440, 100, 1280, 1440}, {2560, 1440, 150, 1920, 2160},  {2560, 1440, 0, 1280, 1440},
        {2560, 1440, 99, 1280, 1440},  {2560, 1440, -200, 1280, 1440}, {1003, 1001, 150, 751, 1501},
        {1001, 1440, 100, 500, 1440},  {1003, 1440, 100, 501, 1440},   {0, 0, 0, 500, 600},
        {998, 599, 100, 500, 600},     {1002, 601, 100, 501, 601},     {800, 500, 150, 600, 750},
        {-4000, -10, 100, 500, 600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " at " << c.percent);
        ExpectGeometry(ComputeDisplayGeometry(c.width, c.height, c.percent), c.rtWidth, c.rtHeight);
    }
    EXPECT_EQ(ComputeDisplayGeometry(2560, 1440, 50).renderScale, 1.0f);
    EXPECT_EQ(ComputeDisplayGeometry(2560, 1440, 101).renderScale, static_cast<float>(101 / 100.0));
}

TEST(DisplayGeometry, HugeSettingsStayInRange) {
    const DisplayGeometry g = ComputeDisplayGeometry(INT_MAX, INT_MAX, INT_MAX);
    EXPECT_GE(g.renderTargetWidth, 500);
    EXPECT_EQ(g.windowWidth, 2 * g.renderTargetWidth);
    EXPECT_GT(g.renderTargetHeight, 0);
    ExpectGeometry(ComputeDisplayGeometry(INT_MIN, INT_MIN, INT_MAX), 500, 600);
}

// Y goes into the world-frame (yaw) offset, X and Z into the head-frame offset only.
TEST(RotationOffsets, EachAxisGoesToItsQuaternion) {
    const float h = 0.70710677f;
    const struct {
        float x, y, z;
        Quaternion yaw, local;
    } cases[] = {
        {0, 0, 0, {0, 0, 0, 1}, {0, 0, 0, 1}},
        {0, 90, 0, {0, h, 0, h}, {0, 0, 0, 1}},
        {0, -90, 0, {0, -h, 0, h}, {0, 0, 0, 1}},
        {90, 0, 0, {0, 0, 0, 1}, {h, 0, 0, h}},
        {0, 0, 90, {0, 0, 0, 1}, {0, 0, h, h}},
        {90, 0, 90, {0, 0, 0, 1}, {0.5f, 0.5f, 0.5f, 0.5f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.x << " " << c.y << " " << c.z);
        const RotationOffsets offsets = ComputeRotationOffsets(c.x, c.y, c.z);
        ExpectQuaternion(offsets.yaw, c.yaw.x, c.yaw.y, c.yaw.z, c.yaw.w);
        ExpectQuaternion(offsets.local, c.local.x, c.local.y, c.local.z, c.local.w);
    }
}

HeadPose Received(float x, float y, float z, float w) {
    HeadPose head;
    const float orientation[4] = {x, y, z, w}, position[3] = {0.25f, 1.6f, -0.5f};
    std::copy(orientation, orientation + 4, head.orientation);
    std::copy(position, position + 3, head.position);
    head.trackingStatus = 0;
    head.poseReceived = true;
    return head;
}

TEST(HeadsetPose, NoOffsetsPassTheOrientationExactlyAndTheRestingPoseIgnoresOffsetsAndStatus) {
    const vr::DriverPose_t plain =
        BuildHeadsetPose(Received(0.1f, -0.2f, 0.3f, 0.9273618f), ComputeRotationOffsets(0, 0, 0));
    const vr::HmdQuaternion_t& q = plain.qRotation;
    EXPECT_EQ(std::make_tuple(q.x, q.y, q.z, q.w),
              std::make_tuple(double{0.1f}, double{-0.2f}, double{0.3f}, double{0.9273618f}));

    HeadPose resting = Received(0.3f, 0, 0, 1);
    resting.poseReceived = false;  // the orientation is not used until a pose has arrived
    resting.trackingStatus = 2;
    const vr::DriverPose_t pose = BuildHeadsetPose(resting, ComputeRotationOffsets(30, 90, 10));
    ExpectQuaternion(pose.qRotation, 0, 0, 0, 1);
    EXPECT_EQ(std::make_tuple(pose.vecPosition[0], pose.vecPosition[1], pose.vecPosition[2]),
              std::make_tuple(0.0, double{1.7f}, 0.0));
    EXPECT_EQ(std::make_tuple(pose.result, pose.poseIsValid, pose.deviceIsConnected),
              std::make_tuple(vr::TrackingResult_Running_OK, true, true));
}

// The yaw offset turns the world (applied on the left), the X/Z offset turns the head in its
// own frame (applied on the right). Swapping either side flips the sign of z here.
TEST(HeadsetPose, OffsetsComposeOnTheirOwnSides) {
    const float h = 0.70710677f;
    const vr::DriverPose_t yawed =
        BuildHeadsetPose(Received(h, 0, 0, h), ComputeRotationOffsets(0, 90, 0));
    const vr::DriverPose_t pitched =
        BuildHeadsetPose(Received(0, h, 0, h), ComputeRotationOffsets(90, 0, 0));
    for (const vr::DriverPose_t& pose : {yawed, pitched}) {
        ExpectQuaternion(pose.qRotation, 0.5, 0.5, -0.5, 0.5);
    }
    // The position is not rotated by any offset.
    EXPECT_EQ(std::vector<double>(yawed.vecPosition, yawed.vecPosition + 3),
              (std::vector<double>{0.25f, 1.6f, -0.5f}));
}

TEST(HeadsetPose, TrackingStatusMapping) {
    const struct {
        int32_t status;
        vr::ETrackingResult result;
        bool valid, connected;
    } cases[] = {
        {0, vr::TrackingResult_Running_OK, true, true},
        {1, vr::TrackingResult_Running_OutOfRange, false, true},
        {2, vr::TrackingResult_Uninitialized, false, false},
        {3, vr::TrackingResult_Running_OK, true, true},
        {-1, vr::TrackingResult_Running_OK, true, true},
        {254, vr::TrackingResult_Running_OK, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        HeadPose head = Received(0, 0, 0, 1);
        head.trackingStatus = c.status;
        const vr::DriverPose_t pose = BuildHeadsetPose(head, ComputeRotationOffsets(0, 0, 0));
        EXPECT_EQ(std::make_tuple(pose.result, pose.poseIsValid, pose.deviceIsConnected),
                  std::make_tuple(c.result, c.valid, c.connected));
        EXPECT_TRUE(pose.willDriftInYaw);
    }
}

}  // namespace
}  // namespace quillo::test
