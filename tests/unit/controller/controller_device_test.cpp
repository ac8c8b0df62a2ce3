// The hand controller against the fake runtime: what it publishes on activation, and the
// pose and input events each record produces, in order.
#include "devices/extra/controller_device.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "devices/driver_log.h"
#include "devices/host_interfaces.h"
#include "link/quillo_core.h"
#include "link/transmission_pipe.h"
#include "runtime/driver_calls.h"
#include "runtime/fake_interfaces.h"
#include "runtime/fake_runtime.h"
#include "unit/pipe/test_companion.h"

namespace quillo::test {
namespace {

using runtime::EventKind;
using runtime::RuntimeEvent;

constexpr uint32_t kObjectId = 3;

ControllerRecord IdentityRecord() {
    ControllerRecord r;
    r.controllerId = 7;
    r.pose[0][0] = r.pose[1][1] = r.pose[2][2] = 1.0f;
    r.pose[0][3] = 0.25f;
    r.pose[1][3] = 1.5f;
    r.pose[2][3] = -0.5f;
    return r;
}

// A short text per host event, to compare whole sequences at once.
std::string Describe(const RuntimeEvent& e) {
    const char* names[] = {"pressed ", "unpressed ", "touched ",
                           "untouched "};  // EventKind's order
    const int button = static_cast<int>(e.kind) - static_cast<int>(EventKind::ButtonPressed);
    if (e.kind == EventKind::PoseUpdated) return "pose";
    if (e.kind == EventKind::AxisUpdated) return "axis " + std::to_string(e.axisIndex);
    if (button >= 0 && button < 4) return names[button] + std::to_string(e.button);
    return runtime::EventKindName(e.kind);
}

class ControllerDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(vr::VRInitError_None, InitServerDriverContext(rt.Context()));
        ClearLogTarget();
        SetLogTargetIfUnset(DriverLogInterface());
    }
    void TearDown() override { ClearLogTarget(); }

    // Host calls made by applying `record`, described.
    std::vector<std::string> Apply(const ControllerRecord& record) {
        rt.ClearEvents();
        device.ApplyControllerRecord(record);
        std::vector<std::string> out;
        for (const RuntimeEvent& e : rt.Events()) {
            EXPECT_EQ(kObjectId, e.deviceIndex) << Describe(e);
            if (e.kind == EventKind::ButtonPressed || e.kind == EventKind::ButtonTouched) {
                EXPECT_EQ(0.0, e.timeOffset);
            }
            out.push_back(Describe(e));
        }
        return out;
    }

    vr::DriverPose_t PoseFromRuntime() { return runtime::CallGetPose(device); }

    vr::VRControllerState_t StateFromRuntime() { return runtime::CallGetControllerState(device); }

    runtime::FakeRuntime rt;
    ControllerDevice device{nullptr, &rt.Host(), 7};
};

TEST(ControllerSerial, SignedDecimalId) {
    EXPECT_EQ("QuilloControllerV02ID7", ControllerSerialNumber(7));
    EXPECT_EQ("QuilloControllerV02ID-1", ControllerSerialNumber(4294967295u));
    EXPECT_EQ("QuilloControllerV02ID-2147483648", ControllerSerialNumber(2147483648u));
    EXPECT_EQ("QuilloControllerV02ID0", ControllerSerialNumber(0));
}

TEST_F(ControllerDeviceTest, RecordsBeforeActivationAreDropped) {
    EXPECT_EQ(vr::k_unTrackedDeviceIndexInvalid, device.deviceIndex());
    ControllerRecord record = IdentityRecord();
    record.input.buttonPressed = 1;
    EXPECT_TRUE(Apply(record).empty());
    const vr::DriverPose_t pose = PoseFromRuntime();
    EXPECT_FALSE(pose.poseIsValid || pose.deviceIsConnected);
    // Copied out first: the field is not 8-byte aligned on every platform (4-byte packing).
    const uint64_t pressed = StateFromRuntime().ulButtonPressed;
    EXPECT_EQ(0u, pressed);
}

TEST_F(ControllerDeviceTest, ActivateAnnouncesItsButtonsAndSerialThenTakesTheId) {
    EXPECT_EQ(vr::VRInitError_None, device.Activate(kObjectId));
    EXPECT_EQ(kObjectId, device.deviceIndex());
    EXPECT_EQ(rt.LogLines(), std::vector<std::string>{
                                 "Controller: QuilloControllerV02ID7 activated with id: 3\n"});
    const std::vector<RuntimeEvent> writes = rt.EventsOfKind(EventKind::PropertyWrite);
    ASSERT_EQ(9u, writes.size());
    // Buttons 0-2 and the three axis buttons 32-34.
    EXPECT_EQ(vr::Prop_SupportedButtons_Uint64, writes[4].property);
    EXPECT_EQ(0x700000007ull, writes[4].value.uint64Value);
    EXPECT_EQ(vr::Prop_SerialNumber_String, writes[7].property);
    EXPECT_EQ("QuilloControllerV02ID7", writes[7].value.stringValue);
}

TEST_F(ControllerDeviceTest, FirstRecordComparesWithTheZeroState) {
    device.Activate(kObjectId);
    ControllerRecord record = IdentityRecord();
    record.input.buttonPressed = 0x5;
    EXPECT_EQ((std::vector<std::string>{"pose", "pressed 0", "pressed 2"}), Apply(record));

    const vr::DriverPose_t pose = PoseFromRuntime();
    EXPECT_EQ(1.0, pose.qRotation.w);
    EXPECT_EQ(1.0, pose.qWorldFromDriverRotation.w);
    EXPECT_EQ(1.0, pose.qDriverFromHeadRotation.w);
    EXPECT_EQ(std::vector<double>(pose.vecPosition, pose.vecPosition + 3),
              (std::vector<double>{0.25, 1.5, -0.5}));
    EXPECT_TRUE(pose.poseIsValid && pose.deviceIsConnected && pose.willDriftInYaw);
    EXPECT_FALSE(pose.shouldApplyHeadModel);
    const RuntimeEvent sent = rt.EventsOfKind(EventKind::PoseUpdated).at(0);
    EXPECT_EQ(std::make_tuple(sent.poseSize, sent.pose.vecPosition[1]), std::make_tuple(280u, 1.5));

    // The same record again: only the pose.
    EXPECT_EQ((std::vector<std::string>{"pose"}), Apply(record));
}

TEST_F(ControllerDeviceTest, StatusDecidesResultValidityAndConnectionAndThePoseStillGoesOut) {
    device.Activate(kObjectId);
    struct {
        uint32_t status;
        vr::ETrackingResult result;
        bool valid, connected;
    } const cases[] = {{2, vr::TrackingResult_Uninitialized, false, false},
                       {7, vr::TrackingResult_Running_OK, true, true},
                       {1, vr::TrackingResult_Running_OutOfRange, false, true},
                       {0, vr::TrackingResult_Running_OK, true, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        ControllerRecord record = IdentityRecord();
        record.status = c.status;
        EXPECT_EQ((std::vector<std::string>{"pose"}), Apply(record));
        const vr::DriverPose_t pose = PoseFromRuntime();
        EXPECT_EQ(std::make_tuple(c.result, c.valid, c.connected),
                  std::make_tuple(pose.result, pose.poseIsValid, pose.deviceIsConnected));
    }
    EXPECT_EQ(static_cast<vr::ITrackedDeviceServerDriver*>(&device),
              device.GetComponent("itrackeddeviceserverdriver_005"));
    EXPECT_EQ(nullptr, device.GetComponent("IVRDisplayComponent_002"));
}

TEST_F(ControllerDeviceTest, TouchBeforePressAndReleaseBeforeUntouch) {
    device.Activate(kObjectId);
    ControllerRecord record = IdentityRecord();
    record.input.buttonTouched = (1ull << 32) | (1ull << 63);
    record.input.buttonPressed = (1ull << 32) | 2;
    EXPECT_EQ(
        (std::vector<std::string>{"pose", "touched 32", "touched 63", "pressed 1", "pressed 32"}),
        Apply(record));
    record.input.buttonTouched = 1ull << 63;
    record.input.buttonPressed = 2 | 4;
    EXPECT_EQ((std::vector<std::string>{"pose", "pressed 2", "unpressed 32", "untouched 32"}),
              Apply(record));
    record.input.buttonTouched = 0;
    record.input.buttonPressed = 0;
    EXPECT_EQ((std::vector<std::string>{"pose", "unpressed 1", "unpressed 2", "untouched 63"}),
              Apply(record));
}

TEST_F(ControllerDeviceTest, AxisEventsForTheFirstThreeAxesOnly) {
    device.Activate(kObjectId);
    ControllerRecord record = IdentityRecord();
    Apply(record);

    record.input.axis[1][1] = 0.75f;  // only y of axis 1
    EXPECT_EQ((std::vector<std::string>{"pose", "axis 1"}), Apply(record));
    const RuntimeEvent axis = rt.EventsOfKind(EventKind::AxisUpdated).at(0);
    EXPECT_EQ(0.0f, axis.axis.x);
    EXPECT_EQ(0.75f, axis.axis.y);
    record.input.axis[2][0] = 0.5f;
    EXPECT_EQ((std::vector<std::string>{"pose", "axis 2"}), Apply(record));

    record.input.axis[3][0] = 1.0f;
    record.input.axis[4][1] = -1.0f;
    record.input.packetNum = 12;
    EXPECT_EQ((std::vector<std::string>{"pose"}), Apply(record));
    const vr::VRControllerState_t state = StateFromRuntime();
    EXPECT_EQ(1.0f, state.rAxis[3].x);
    EXPECT_EQ(-1.0f, state.rAxis[4].y);
    EXPECT_EQ(0.75f, state.rAxis[1].y);
    EXPECT_EQ(12u, state.unPacketNum);

    // NaN never equals anything, itself included: every record with it reports a change.
    record.input.axis[0][0] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ((std::vector<std::string>{"pose", "axis 0"}), Apply(record));
    EXPECT_EQ((std::vector<std::string>{"pose", "axis 0"}), Apply(record));
    // -0 equals +0: no change.
    record.input.axis[0][0] = 0.0f;
    Apply(record);
    record.input.axis[0][0] = -0.0f;
    EXPECT_EQ((std::vector<std::string>{"pose"}), Apply(record));
}

// A pulse the runtime asks for goes to the companion with this controller's id and duration.
TEST_F(ControllerDeviceTest, HapticPulsesGoThroughTheLinkUnderTheControllersId) {
    const std::string suffix = UniquePipeSuffix();
    TestCompanion companion(suffix);
    ASSERT_TRUE(companion.Create());
    QuilloCore link;
    link.Initialize(suffix);
    ASSERT_TRUE(companion.AcceptDriver());
    ASSERT_TRUE(WaitFor([&] { return link.Pipe().IsConnected(); }));
    ControllerDevice linked{&link, &rt.Host(), 0xA1B2C3D4u};
    EXPECT_TRUE(linked.TriggerHapticPulse(1, 1234));
    ReceivedMessage message;
    ASSERT_TRUE(companion.Receive(message));
    ASSERT_EQ(message.type, static_cast<uint32_t>(wire::kHapticPulse));
    wire::HapticPulse pulse;
    ASSERT_EQ(wire::DecodeHapticPulse(message.payload.data(), message.payload.size(), pulse),
              wire::WireError::kNone);
    EXPECT_EQ(std::make_tuple(pulse.controllerId, pulse.durationMicros),
              std::make_tuple(0xA1B2C3D4u, uint16_t{1234}));
}

TEST_F(ControllerDeviceTest, RecordsWithANonFinitePoseAreDroppedWholeAndLoggedOncePerRun) {
    device.Activate(kObjectId);
    ControllerRecord good = IdentityRecord();
    good.input.buttonPressed = 1;
    Apply(good);
    const vr::DriverPose_t before = PoseFromRuntime();

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct {
        const char* what;
        int row, column;
        float value;
    } const bad[] = {{"NaN rotation", 1, 2, nan},  // hidden by the conversion's clamps
                     {"infinite position", 0, 3, inf},
                     {"diagonal that overflows", 0, 0, 3e38f}};
    std::vector<std::string> events;  // every host call and log line of the run
    for (const auto& b : bad) {
        ControllerRecord record = IdentityRecord();
        record.pose[b.row][b.column] = b.value;
        record.pose[1][1] = b.value == 3e38f ? -3e38f : 1.0f;  // 1 + 3e38 + 3e38 is infinite
        record.input.buttonPressed = 2;                        // input goes with the pose
        rt.ClearEvents();
        device.ApplyControllerRecord(record);
        for (const std::string& line : rt.LogLines()) events.push_back(line);
        EXPECT_EQ(rt.LogLines().size(), rt.Events().size()) << b.what << ": host called";
        const vr::DriverPose_t pose = PoseFromRuntime();
        EXPECT_EQ(0, std::memcmp(&before, &pose, sizeof pose)) << b.what;
        const uint64_t pressed = StateFromRuntime().ulButtonPressed;
        EXPECT_EQ(1u, pressed) << b.what;
    }
    ASSERT_EQ(1u, events.size()) << "one line for the run";
    EXPECT_NE(std::string::npos,
              events[0].find("QuilloControllerV02ID7 record dropped: its pose is not finite"));

    rt.ClearEvents();
    device.ApplyControllerRecord(good);
    EXPECT_EQ(1u, rt.EventsOfKind(EventKind::PoseUpdated).size());
    ASSERT_EQ(1u, rt.LogLines().size());
    EXPECT_NE(
        std::string::npos,
        rt.LogLines()[0].find("QuilloControllerV02ID7 records accepted again after 3 dropped"));
}

}  // namespace
}  // namespace quillo::test
