// The device provider driven in process as the runtime drives it. Each test has a provider of
// its own (the library's single provider is a static of the driver library); the companion
// check is replaced by a plain answer so no process has to run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "devices/extra/controller_device.h"
#include "devices/extra/fake_sensor_driver.h"
#include "devices/headset/hmd_driver_direct.h"
#include "devices/headset/hmd_driver_virtual.h"
#include "driver/controller_admission.h"
#include "driver/server_driver.h"
#include "link/controller_record.h"
#include "link/transmission_pipe.h"
#include "link/wire_format.h"
#include "platform/log_sink.h"
#include "runtime/driver_calls.h"
#include "unit/headset/runtime_fixture.h"
#include "unit/pipe/test_companion.h"

namespace quillo::test {
namespace {

using runtime::EventKind;
using runtime::RuntimeEvent;

class ProviderTest : public RuntimeFixture {
  protected:
    void TearDown() override {
        provider.Cleanup();
        RuntimeFixture::TearDown();
    }
    vr::EVRInitError InitWith(const char* settings, bool companion = true,
                              runtime::FakeRuntimeOptions options = {}) {
        MakeRuntime(settings, std::move(options), false);
        provider.SetCompanionCheck(companion ? +[] { return true; } : +[] { return false; });
        return provider.Init(fake->Context());
    }

    CServerDriver_Quillo provider;
};

TEST_F(ProviderTest, MissingHostInterfaceFailsBeforeAnythingIsLogged) {
    for (const char* omitted :
         {"IVRServerDriverHost_004", "IVRSettings_002", "IVRProperties_001", "IVRDriverLog_001"}) {
        SCOPED_TRACE(omitted);
        runtime::FakeRuntimeOptions options;
        options.omittedInterfaces = {omitted};
        EXPECT_EQ(InitWith(kDefaultSettings, true, options),
                  vr::VRInitError_Init_InterfaceNotFound);
        EXPECT_TRUE(fake->Events().empty());
        EXPECT_EQ(provider.hmd(), nullptr);
    }
}

TEST_F(ProviderTest, WithoutCompanionNothingIsCreated) {
    EXPECT_EQ(InitWith(kDefaultSettings, false), vr::VRInitError_Init_HmdNotFound);
    EXPECT_EQ(Logs(), std::vector<std::string>{"Pelmont not active\n"});
    EXPECT_EQ(fake->DeviceCount(), 0u);
    EXPECT_EQ(provider.hmd(), nullptr);
    EXPECT_EQ(provider.fakeSensor(), nullptr);
    // "fakeSensorEnabled" is read before the check, "hmdMode" is not read at all.
    const std::vector<RuntimeEvent> reads = Events(EventKind::SettingRead);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].key, "fakeSensorEnabled");
}

TEST_F(ProviderTest, InitAddsHeadsetThenTrackingReference) {
    ASSERT_EQ(InitWith(kDefaultSettings), vr::VRInitError_None);
    std::vector<std::tuple<std::string, vr::ETrackedDeviceClass, uint32_t>> added;
    for (const RuntimeEvent& e : Events(EventKind::DeviceAdded)) {
        added.emplace_back(e.serial, e.deviceClass, e.deviceIndex);
    }
    EXPECT_EQ(added, (decltype(added){{"serialNumber", vr::TrackedDeviceClass_HMD, 0},
                                      {"0.1113", vr::TrackedDeviceClass_TrackingReference, 1}}));

    // A runtime that refuses the devices does not fail Init.
    provider.Cleanup();
    runtime::FakeRuntimeOptions refusing;
    refusing.acceptDevices = false;
    ASSERT_EQ(InitWith(kDefaultSettings, true, refusing), vr::VRInitError_None);
    EXPECT_NE(provider.hmd(), nullptr);
}

TEST_F(ProviderTest, SettingsChooseTheHeadsetVariantAndTheTrackingReference) {
    // An absent or unreadable setting: the virtual-display headset and a tracking reference.
    const struct {
        const char* settings;
        bool direct, sensor;
    } cases[] = {
        {R"({"driver_quillo": {}})", false, true},
        {R"({"driver_quillo": {"hmdMode": 0}})", false, true},
        {R"({"driver_quillo": {"hmdMode": 1, "fakeSensorEnabled": "no"}})", false, true},
        {R"({"driver_quillo": {"hmdMode": 2, "fakeSensorEnabled": false}})", true, false},
        {R"({"driver_quillo": {"hmdMode": 7}})", true, true},
        {R"({"driver_quillo": {"hmdMode": -1}})", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        ASSERT_EQ(InitWith(c.settings), vr::VRInitError_None);
        EXPECT_EQ(dynamic_cast<HMDDriverDirect*>(provider.hmd()) != nullptr, c.direct);
        EXPECT_EQ(dynamic_cast<HMDDriverVirtual*>(provider.hmd()) != nullptr, !c.direct);
        EXPECT_EQ(provider.fakeSensor() != nullptr, c.sensor);
        EXPECT_EQ(fake->DeviceCount(), c.sensor ? 2u : 1u);
        provider.Cleanup();
    }
}

// RunFrame pushes poses only for activated devices; standby calls and the lower layers log
// only until Cleanup, which destroys only the headset.
TEST_F(ProviderTest, FramesStandbyAndCleanup) {
    ASSERT_EQ(InitWith(kDefaultSettings), vr::VRInitError_None);
    fake->ClearEvents();
    provider.RunFrame();
    EXPECT_TRUE(Events(EventKind::PoseUpdated).empty());

    fake->ActivatePending();
    fake->ClearEvents();
    for (int frame = 0; frame < 2; ++frame) provider.RunFrame();
    const std::vector<RuntimeEvent> poses = Events(EventKind::PoseUpdated);
    ASSERT_EQ(poses.size(), 4u);
    for (size_t i = 0; i < poses.size(); ++i) {
        EXPECT_EQ(poses[i].deviceIndex, i % 2) << "headset, then tracking reference";
        EXPECT_EQ(poses[i].poseSize, 280u);
    }
    // Deactivating the tracking reference does not stop its poses.
    fake->DeactivateDevice(1);
    fake->ClearEvents();
    provider.RunFrame();
    EXPECT_EQ(Events(EventKind::PoseUpdated).size(), 2u);

    CFakeSensorDriver_Quillo* sensor = provider.fakeSensor();
    fake->ClearEvents();
    EXPECT_TRUE(provider.ShouldBlockStandbyMode());
    provider.EnterStandby();
    provider.LeaveStandby();
    platform::LogLine("driver_quillo: from below %d\n", 7);
    EXPECT_EQ(Logs(), (std::vector<std::string>{"ShouldBlockStandby Server Tracked device \n",
                                                "Enter standby Server tracked device \n",
                                                "Leave standby Server tracked device \n",
                                                "driver_quillo: from below 7\n"}));
    EXPECT_EQ(fake->Events().size(), 4u);
    fake->ClearEvents();
    provider.Cleanup();
    EXPECT_EQ(LogTarget(), nullptr);
    EXPECT_EQ(provider.hmd(), nullptr);
    EXPECT_EQ(provider.fakeSensor(), sensor);
    EXPECT_TRUE(fake->Events().empty());
    // After Cleanup the driver is silent, and RunFrame has no headset to update.
    provider.EnterStandby();
    provider.RunFrame();
    platform::LogLine("driver_quillo: after cleanup\n");
    EXPECT_TRUE(Logs().empty());
    provider.Cleanup();  // twice is harmless
}

TEST_F(ProviderTest, InterfaceVersionList) {
    std::string actual;
    for (const char* const* v = provider.GetInterfaceVersions(); *v; ++v)
        actual += *v + std::string(" ");
    EXPECT_EQ(actual,
              "IVRSettings_002 ITrackedDeviceServerDriver_005 IVRDisplayComponent_002 "
              "IVRDriverDirectModeComponent_002 IVRControllerComponent_001 IVRCameraComponent_002 "
              "IServerTrackedDeviceProvider_004 IVRWatchdogProvider_001 IVRVirtualDisplay_001 ");
}

ControllerRecord MakeRecord(uint32_t id, float x) {
    ControllerRecord record;
    record.controllerId = id;
    record.pose[0][0] = record.pose[1][1] = record.pose[2][2] = 1.0f;
    record.pose[0][3] = x;
    record.input.buttonPressed = 1ull << vr::k_EButton_Grip;
    return record;
}

TEST_F(ProviderTest, FirstRecordCreatesTheControllerLaterOnesUpdateIt) {
    ASSERT_EQ(InitWith(kDefaultSettings), vr::VRInitError_None);
    fake->ActivatePending();
    fake->ClearEvents();

    provider.OnControllerUpdated(MakeRecord(5, 0.25f));
    const std::vector<RuntimeEvent> added = Events(EventKind::DeviceAdded);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(std::make_tuple(added[0].serial, added[0].deviceClass),
              std::make_tuple("QuilloControllerV02ID5", vr::TrackedDeviceClass_Controller));
    EXPECT_TRUE(Logged("New driver registered (serial QuilloControllerV02ID5) with status 1 \n"));
    ControllerDevice* controller = provider.controller(5);
    ASSERT_NE(controller, nullptr);
    // The record that created the device is not applied.
    EXPECT_EQ(runtime::CallGetPose(*controller).vecPosition[0], 0.0);
    EXPECT_TRUE(Events(EventKind::ButtonPressed).empty());

    fake->ActivatePending();
    provider.OnControllerUpdated(MakeRecord(5, 0.25f));
    EXPECT_EQ(provider.controllerCount(), 1u);
    EXPECT_FLOAT_EQ(static_cast<float>(runtime::CallGetPose(*controller).vecPosition[0]), 0.25f);
    EXPECT_EQ(Events(EventKind::ButtonPressed).size(), 1u);

    provider.OnControllerUpdated(MakeRecord(6, 0.0f));
    EXPECT_EQ(provider.controllerCount(), 2u);
    EXPECT_EQ(Events(EventKind::DeviceAdded).back().serial, "QuilloControllerV02ID6");
}

TEST_F(ProviderTest, ControllersAreCappedAndEachRefusedIdIsLoggedOnce) {
    ASSERT_EQ(InitWith(kDefaultSettings), vr::VRInitError_None);
    fake->ClearEvents();
    const uint32_t cap = static_cast<uint32_t>(ControllerAdmission::kMaxControllers);
    const uint32_t table = static_cast<uint32_t>(ControllerAdmission::kLoggedRefusals);
    // A flood of new ids, each sent three times, well past what the refusal table holds.
    for (int round = 0; round < 3; ++round) {
        for (uint32_t id = 100; id < 100 + cap + table + 40; ++id) {
            provider.OnControllerUpdated(MakeRecord(id, 0.0f));
        }
    }
    EXPECT_EQ(provider.controllerCount(), ControllerAdmission::kMaxControllers);
    EXPECT_EQ(Events(EventKind::DeviceAdded).size(), ControllerAdmission::kMaxControllers);
    EXPECT_NE(provider.controller(100 + cap - 1), nullptr);
    EXPECT_EQ(provider.controller(100 + cap), nullptr);
    size_t refusals = 0, tableFull = 0;
    for (const std::string& line : fake->LogLines()) {
        refusals += line.find("refused: 16 controllers exist already") != std::string::npos;
        tableFull += line.find("further refusals are not logged") != std::string::npos;
    }
    EXPECT_EQ(refusals, ControllerAdmission::kLoggedRefusals) << "each refused id once";
    EXPECT_EQ(tableFull, 1u);

    // Known ids keep being served.
    fake->ActivatePending();
    provider.OnControllerUpdated(MakeRecord(100, 0.5f));
    EXPECT_FLOAT_EQ(
        static_cast<float>(runtime::CallGetPose(*provider.controller(100)).vecPosition[0]), 0.5f);
}

TEST_F(ProviderTest, ControllersOutlivingTheirHeadsetAnswerEveryCallHarmlessly) {
    // A controller keeps the runtime's pointer after Cleanup, and one made before a second
    // Init is retired, not freed; its headset's link is gone either way (the sanitizer build
    // reports any access to it).
    ASSERT_EQ(InitWith(kDefaultSettings), vr::VRInitError_None);
    provider.OnControllerUpdated(MakeRecord(5, 0.25f));
    ControllerDevice* retired = provider.controller(5);
    ASSERT_NE(retired, nullptr);
    ASSERT_EQ(provider.Init(fake->Context()), vr::VRInitError_None);
    provider.OnControllerUpdated(MakeRecord(5, 0.5f));
    ControllerDevice* current = provider.controller(5);
    ASSERT_NE(current, retired);
    provider.Cleanup();
    for (ControllerDevice* device : {retired, current}) {
        EXPECT_TRUE(device->TriggerHapticPulse(0, 500));
        EXPECT_EQ(runtime::CallGetPose(*device).vecPosition[0], 0.0);
        device->ApplyControllerRecord(MakeRecord(5, 0.75f));
        device->EnterStandby();
        device->Deactivate();
    }
}

// A companion whose first controller record sends the link's reader thread into a
// TrackedDeviceAdded that does not return until the test lets it.
class SlowRuntimeCall : public ProviderTest {
  protected:
    void SetUp() override {
        ProviderTest::SetUp();
        std::string error;
        ASSERT_TRUE(companion.Create(error)) << error;
    }
    void TearDown() override {
        released = true;
        // The headset is freed by the link's last thread; wait for it before the runtime goes.
        EXPECT_TRUE(WaitFor([] { return TransmissionPipe::ThreadsRunningInProcess() == 0; }));
        ProviderTest::TearDown();
    }
    // After Init: holds the reader thread inside the runtime, runs `teardown` on a thread of its
    // own and expects it to return while the reader is still held (the guard only keeps a
    // broken build from hanging the suite).
    void ExpectReturnsWhileTheReaderIsHeld(const std::function<void()>& teardown) {
        fake->SetObserver([this](const RuntimeEvent& event) {
            if (event.kind != EventKind::DeviceAdded ||
                event.deviceClass != vr::TrackedDeviceClass_Controller) {
                return;
            }
            entered = true;
            while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        ASSERT_TRUE(companion.AcceptDriver());
        uint8_t record[wire::kControllerRecordSize];
        wire::EncodeControllerRecord(MakeRecord(9, 0.0f), record, sizeof record);
        ASSERT_TRUE(companion.Send(wire::kControllerMessage, record, sizeof record));
        ASSERT_TRUE(WaitFor([this] { return entered.load(); }));
        std::atomic<bool> done{false};
        std::thread runtimeThread([&] {
            teardown();
            done = true;
        });
        EXPECT_TRUE(WaitFor([&] { return done.load(); }, 10000));
        released = true;
        runtimeThread.join();
    }

    TestCompanion companion{UseOwnPipeNames()};
    std::atomic<bool> entered{false}, released{false};
};

TEST_F(SlowRuntimeCall, CleanupDoesNotWaitForIt) {
    ASSERT_EQ(InitWith(kDefaultSettings), vr::VRInitError_None);
    ExpectReturnsWhileTheReaderIsHeld([&] { provider.Cleanup(); });
    EXPECT_EQ(provider.hmd(), nullptr);
}

TEST_F(SlowRuntimeCall, DestroyingTheProviderWithoutCleanupDoesNotWaitForIt) {
    // As the library's static provider at unload: nothing may wait for a link thread there.
    auto owner = std::make_unique<CServerDriver_Quillo>();
    owner->SetCompanionCheck(+[] { return true; });
    ASSERT_EQ(owner->Init(MakeRuntime(kDefaultSettings, {}, false).Context()),
              vr::VRInitError_None);
    ExpectReturnsWhileTheReaderIsHeld([&] { owner.reset(); });
}

TEST_F(ProviderTest, TrackingReferenceDeviceStandsStillWhereverItIsAsked) {
    CFakeSensorDriver_Quillo sensor(&MakeRuntime().Host());
    for (bool activated : {false, true}) {
        if (activated) {
            ASSERT_EQ(sensor.Activate(4), vr::VRInitError_None);
        }
        const vr::DriverPose_t pose = runtime::CallGetPose(sensor);
        EXPECT_EQ(std::make_tuple(pose.vecPosition[2], pose.qRotation.w, pose.result),
                  std::make_tuple(3.0, 1.0, vr::TrackingResult_Running_OK));
        EXPECT_TRUE(pose.poseIsValid && pose.deviceIsConnected);
    }
    EXPECT_EQ(sensor.deviceIndex(), 4u);
    EXPECT_EQ(sensor.GetComponent("itrackeddeviceserverdriver_005"),
              static_cast<vr::ITrackedDeviceServerDriver*>(&sensor));
    EXPECT_EQ(sensor.GetComponent("IVRControllerComponent_001"), nullptr);
    bool serialWritten = false;
    for (const RuntimeEvent& write : Events(EventKind::PropertyWrite)) {
        serialWritten = serialWritten || (write.property == vr::Prop_SerialNumber_String &&
                                          write.value.stringValue == "0.1113");
    }
    EXPECT_TRUE(serialWritten);
    sensor.Deactivate();
    EXPECT_TRUE(Logged("Driver deactivated: Quillo fake sensor \n")) << "the model, not the serial";
}

}  // namespace
}  // namespace quillo::test
