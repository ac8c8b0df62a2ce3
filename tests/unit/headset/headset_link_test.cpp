// The headset fed by a companion over its pipes, in process: head poses reach the runtime at
// the next frame, refresh rates reach the display-frequency property.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>

#include "devices/headset/hmd_driver_virtual.h"
#include "link/wire_format.h"
#include "unit/headset/runtime_fixture.h"
#include "unit/pipe/test_companion.h"

namespace quillo::test {
namespace {

using runtime::EventKind;
using runtime::RuntimeEvent;

class HeadsetLinkTest : public RuntimeFixture {
  protected:
    bool SendQuaternionPose(TestCompanion& companion, std::array<float, 4> q,
                            std::array<float, 3> p) {
        wire::TrackingUpdate update;
        update.wireKind = static_cast<int32_t>(wire::TrackingKind::kQuaternionAndPosition);
        std::copy(q.begin(), q.end(), update.quaternion);
        std::copy(p.begin(), p.end(), update.position);
        return companion.SendRaw(Framed(wire::kTrackingMessage, TrackingPayload(update)));
    }
    // Messages are dispatched in order: once the rate's property write is seen, everything
    // sent before it has been handled too.
    bool WaitForRateProperty(float hz) {
        return fake->WaitForEvent(
            [hz](const RuntimeEvent& e) {
                return e.kind == EventKind::PropertyWrite &&
                       e.property == vr::Prop_DisplayFrequency_Float && e.value.floatValue == hz;
            },
            std::chrono::seconds(20));
    }
};

// An inactive headset hands over no pose, whatever arrived; the pose built at construction is
// still marked for rebuilding, so the first frame after activation carries the head pose that
// arrived meanwhile. Later poses and good rates reach the runtime at the next frame.
TEST_F(HeadsetLinkTest, HeadPosesAndGoodRatesReachTheRuntimeAtTheNextActiveFrame) {
    MakeRuntime(R"({"driver_quillo": {"RotationOffsetYDeg": 90}})");
    TestCompanion companion(UseOwnPipeNames());
    ASSERT_TRUE(companion.Create());
    HMDDriverVirtual hmd;
    ASSERT_TRUE(companion.AcceptDriver());
    ASSERT_TRUE(SendQuaternionPose(companion, {0.0f, 0.0f, 0.0f, 1.0f}, {1.0f, 2.0f, 3.0f}));
    ASSERT_TRUE(companion.SendRefreshRate(90));
    ASSERT_TRUE(WaitForRateProperty(90.0f));
    fake->ClearEvents();
    hmd.UpdatePose();
    EXPECT_TRUE(Events(EventKind::PoseUpdated).empty());
    hmd.Activate(0);
    hmd.UpdatePose();
    std::vector<RuntimeEvent> poses = Events(EventKind::PoseUpdated);
    ASSERT_EQ(poses.size(), 1u);
    EXPECT_EQ(poses[0].pose.vecPosition[2], 3.0);

    fake->ClearEvents();
    const float h = 0.70710677f;
    ASSERT_TRUE(SendQuaternionPose(companion, {h, 0.0f, 0.0f, h}, {0.5f, 1.25f, -2.0f}));
    for (int32_t hz : {0, -90, 72}) ASSERT_TRUE(companion.SendRefreshRate(hz));
    ASSERT_TRUE(WaitForRateProperty(72.0f));
    EXPECT_EQ(hmd.displayFrequency(), 72.0f);
    EXPECT_EQ(hmd.Core().refreshRate(), 72);

    fake->ClearEvents();
    hmd.UpdatePose();
    poses = Events(EventKind::PoseUpdated);
    ASSERT_EQ(poses.size(), 1u);
    const vr::DriverPose_t& pose = poses[0].pose;
    // The yaw offset of 90 degrees turns the world: yaw x orientation.
    ExpectQuaternion(pose.qRotation, 0.5, 0.5, -0.5, 0.5);
    EXPECT_EQ(std::vector<double>(pose.vecPosition, pose.vecPosition + 3),
              (std::vector<double>{0.5, 1.25, -2.0}));
}

}  // namespace
}  // namespace quillo::test
