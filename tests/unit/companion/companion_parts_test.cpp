// The tracking payloads the reference companion builds for every kind, checked by decoding them
// as the driver does. Its options, commands and motion files are exercised by the process-level
// tests that run it.
#include <gtest/gtest.h>

#include <cmath>

#include "link/head_tracking.h"
#include "link/tracking_math.h"
#include "link/wire_format.h"
#include "motion.h"
#include "tracking_payloads.h"

namespace quillo::test {
namespace {

using namespace quillo::companion;

// q and -q are the same rotation.
::testing::AssertionResult Rotation(const Quaternion& a, const Quaternion& b) {
    const float same = std::fmax(std::fmax(std::fabs(a.x - b.x), std::fabs(a.y - b.y)),
                                 std::fmax(std::fabs(a.z - b.z), std::fabs(a.w - b.w)));
    const float opposite = std::fmax(std::fmax(std::fabs(a.x + b.x), std::fabs(a.y + b.y)),
                                     std::fmax(std::fabs(a.z + b.z), std::fabs(a.w + b.w)));
    if (std::fmin(same, opposite) <= 1e-5f) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ", " << a.w
                                         << ") is not the rotation expected";
}

TEST(CompanionTracking, EveryKindDecodesToThePoseItWasBuiltFrom) {
    HeadSample head;
    head.orientation = EulerToQuaternion(0.2f, -0.6f, 0.1f);
    head.position = Vector3{0.25f, 1.5f, -0.75f};
    TrackingPayloads payloads;
    uint8_t payload[wire::kMaxPayloadLength];
    for (int32_t kind : {0, 1, 3, 4, 5, 6, 50, 254, 2147483647, 77}) {
        const size_t length = payloads.Encode(kind, head, 2, payload, sizeof payload);
        ASSERT_GT(length, 0u) << kind;
        wire::TrackingUpdate update;
        ASSERT_EQ(wire::DecodeTrackingPayload(payload, length, update), wire::WireError::kNone)
            << kind;
        EXPECT_EQ(update.wireKind, kind);
        const Quaternion& q = head.orientation;
        switch (update.kind()) {
            case wire::TrackingKind::kRotationMatrix:
                EXPECT_TRUE(Rotation(MatrixToQuaternion(update.matrix), q)) << kind;
                break;
            case wire::TrackingKind::kPoseMatrix:
                EXPECT_TRUE(Rotation(MatrixToQuaternionCopysign(update.matrix), q));
                EXPECT_FLOAT_EQ(update.matrix[3], 0.25f);
                EXPECT_FLOAT_EQ(update.matrix[7], 1.5f);
                EXPECT_FLOAT_EQ(update.matrix[11], -0.75f);
                break;
            case wire::TrackingKind::kAnglesAndPosition:
                EXPECT_TRUE(Rotation(
                    EulerToQuaternion(update.angles[0], update.angles[1], update.angles[2]), q));
                EXPECT_FLOAT_EQ(update.position[2], -0.75f);
                break;
            case wire::TrackingKind::kQuaternionAndPosition:
                EXPECT_FLOAT_EQ(update.quaternion[0], q.x);
                EXPECT_FLOAT_EQ(update.quaternion[3], q.w);
                EXPECT_FLOAT_EQ(update.position[0], 0.25f);
                break;
            case wire::TrackingKind::kPositionOnly:
                EXPECT_FLOAT_EQ(update.position[1], 1.5f);
                break;
            case wire::TrackingKind::kStatus:
                EXPECT_EQ(update.status, 2);
                break;
            default:
                break;
        }
    }
}

// The inertial samples, run through the driver's own attitude filter, follow the motion they
// were made from: the gyroscope carries the filter along and the accelerometer and
// magnetometer agree with it, so no correction pulls it elsewhere.
TEST(CompanionTracking, InertialSamplesMakeTheDriversFilterFollowTheMotion) {
    TrackingState state;
    TrackingPayloads payloads;
    uint8_t payload[wire::kMaxPayloadLength];
    double worst = 0.0;
    for (int sample = 0; sample <= 6 * 76; ++sample) {
        const HeadSample head = ScriptedHead(sample / kInertialSampleRate);
        const size_t length = payloads.Encode(2, head, 0, payload, sizeof payload);
        ASSERT_EQ(state.DecodeTracking(payload, length), wire::WireError::kNone);
        const Quaternion& q = state.orientation();
        // Compare as rotations: the angle between the two.
        const double dot = std::fabs(q.x * head.orientation.x + q.y * head.orientation.y +
                                     q.z * head.orientation.z + q.w * head.orientation.w);
        const double norm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
        const double angle = 2.0 * std::acos(std::fmin(1.0, dot / norm));
        worst = std::fmax(worst, angle);
    }
    EXPECT_LT(worst, 0.02) << "radians";  // about a degree over six seconds of turning
}

}  // namespace
}  // namespace quillo::test
