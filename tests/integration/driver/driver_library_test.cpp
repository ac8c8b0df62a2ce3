// The built driver library loaded the way the runtime loads it, driven by the fake runtime in
// this process: the factory, Init with and without the companion, activation, frames, settings
// and Cleanup.
#include <gtest/gtest.h>

#include <memory>

#include "common/dynamic_library.h"
#include "integration/driver/driver_process_fixture.h"
#include "runtime/driver_calls.h"
#include "runtime/fake_interfaces.h"
#include "runtime/fake_runtime.h"

namespace quillo {
namespace {

using runtime::EventKind;
using runtime::RuntimeEvent;
using HmdDriverFactoryFn = void* (*)(const char*, int*);

class DriverLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(library.Load(test::NativePath(QUILLO_TEST_PATH_DRIVER_QUILLO), error)) << error;
        factory =
            reinterpret_cast<HmdDriverFactoryFn>(library.FindSymbol("HmdDriverFactory", error));
        ASSERT_NE(factory, nullptr) << error;
    }
    void TearDown() override {
        if (provider != nullptr && initialised) {
            provider->Cleanup();
        }
        library.Unload();
    }

    vr::EVRInitError Init(const char* settings) {
        std::string error;
        EXPECT_TRUE(fake.Settings().LoadJson(settings, error)) << error;
        provider = static_cast<vr::IServerTrackedDeviceProvider*>(
            factory(vr::IServerTrackedDeviceProvider_Version, nullptr));
        EXPECT_NE(provider, nullptr);
        if (provider == nullptr) return vr::VRInitError_Unknown;
        const vr::EVRInitError result = provider->Init(fake.Context());
        initialised = result == vr::VRInitError_None;
        return result;
    }
    bool Logged(const std::string& line) const {
        for (const std::string& l : fake.LogLines()) {
            if (l == line) return true;
        }
        return false;
    }

    platform::DynamicLibrary library;
    HmdDriverFactoryFn factory = nullptr;
    runtime::FakeRuntime fake;
    vr::IServerTrackedDeviceProvider* provider = nullptr;
    bool initialised = false;
};

constexpr const char* kDefaults = R"({"driver_quillo": {"windowWidth": 2560,
    "windowHeight": 1440, "renderScale": 100, "hmdMode": 0, "fakeSensorEnabled": true}})";

TEST_F(DriverLibraryTest, FactoryHandsOutOnlyTheProvider) {
    int code = 7;
    EXPECT_EQ(factory("IVRWatchdogProvider_001", &code), nullptr);
    EXPECT_EQ(code, vr::VRInitError_Init_InterfaceNotFound);
    EXPECT_EQ(factory("IServerTrackedDeviceProvider_003", nullptr), nullptr);
    // The comparison is exact: another letter case is another name.
    code = 7;
    EXPECT_EQ(factory("iservertrackeddeviceprovider_004", &code), nullptr);
    EXPECT_EQ(code, vr::VRInitError_Init_InterfaceNotFound);

    code = 7;
    void* first = factory("IServerTrackedDeviceProvider_004", &code);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(factory("IServerTrackedDeviceProvider_004", nullptr), first);
}

TEST_F(DriverLibraryTest, WithoutCompanionInitDeclines) {
    QUILLO_SKIP_IF_COMPANION_RUNS();
    EXPECT_EQ(Init(kDefaults), vr::VRInitError_Init_HmdNotFound);
    EXPECT_EQ(fake.LogLines(), std::vector<std::string>{"Pelmont not active\n"});
    EXPECT_EQ(fake.DeviceCount(), 0u);
}

TEST_F(DriverLibraryTest, CompanionNameInOtherLetterCaseDoesNotCount) {
    QUILLO_SKIP_IF_COMPANION_RUNS();
    platform::ChildProcess lookalike;
    platform::ChildProcessOptions options;
    options.program = test::NativePath(QUILLO_TEST_PATH_STANDIN_QUILLO_LOWER);
    options.arguments = {"600"};
    std::string error;
    ASSERT_TRUE(lookalike.Start(options, &error)) << error;
    // Wait until the process list shows it under its own name.
    ASSERT_TRUE(test::WaitUntil([&] {
        std::vector<platform::ProcessEntry> processes;
        return platform::ListProcesses(processes) &&
               FindProcessByImageName(processes, "quillo.exe") != nullptr;
    }));
    EXPECT_EQ(Init(kDefaults), vr::VRInitError_Init_HmdNotFound);
    EXPECT_EQ(fake.LogLines(), std::vector<std::string>{"Pelmont not active\n"});
}

TEST_F(DriverLibraryTest, MissingHostInterfaceGives105) {
    runtime::FakeRuntimeOptions options;
    options.omittedInterfaces = {"IVRProperties_001"};
    runtime::FakeRuntime partial(options);
    provider = static_cast<vr::IServerTrackedDeviceProvider*>(
        factory(vr::IServerTrackedDeviceProvider_Version, nullptr));
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(provider->Init(partial.Context()), vr::VRInitError_Init_InterfaceNotFound);
    EXPECT_TRUE(partial.Events().empty());
}

TEST_F(DriverLibraryTest, WithCompanionTheDevicesComeUpAndRun) {
    platform::ChildProcess companion;
    ASSERT_TRUE(test::StartStandinCompanion(companion));
    ASSERT_EQ(Init(kDefaults), vr::VRInitError_None);
    EXPECT_TRUE(Logged("Quillo process is running\n"));
    EXPECT_TRUE(Logged("driver_quillo: Window: -1 -1 2560 1440\n"));

    const std::vector<RuntimeEvent> added = fake.EventsOfKind(EventKind::DeviceAdded);
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0].serial, "serialNumber");
    EXPECT_EQ(added[0].deviceClass, vr::TrackedDeviceClass_HMD);
    EXPECT_EQ(added[1].serial, "0.1113");
    EXPECT_EQ(added[1].deviceClass, vr::TrackedDeviceClass_TrackingReference);

    fake.ClearEvents();
    EXPECT_EQ(fake.ActivatePending(), 2u);
    const std::vector<RuntimeEvent> writes = fake.EventsOfKind(EventKind::PropertyWrite);
    ASSERT_EQ(writes.size(), 12u + 11u);
    EXPECT_EQ(writes[0].property, vr::Prop_IsOnDesktop_Bool);
    EXPECT_EQ(writes[8].property, vr::Prop_DeviceClass_Int32);
    EXPECT_EQ(writes[8].value.int32Value, 1);
    EXPECT_EQ(writes[11].value.stringValue, "0.8");
    EXPECT_EQ(writes[12].deviceIndex, 1u);
    EXPECT_EQ(writes[22].value.stringValue, "dk2_camera");

    fake.ClearEvents();
    for (int frame = 0; frame < 5; ++frame) provider->RunFrame();
    const std::vector<RuntimeEvent> poses = fake.EventsOfKind(EventKind::PoseUpdated);
    ASSERT_EQ(poses.size(), 10u);
    for (size_t i = 0; i < poses.size(); i += 2) {
        EXPECT_EQ(poses[i].deviceIndex, 0u);
        EXPECT_EQ(poses[i].pose.vecPosition[0], 0.0);
        EXPECT_EQ(poses[i].pose.vecPosition[1], static_cast<double>(1.7f));
        EXPECT_EQ(poses[i].pose.vecPosition[2], 0.0);
        EXPECT_EQ(poses[i + 1].deviceIndex, 1u);
        EXPECT_EQ(poses[i + 1].pose.vecPosition[2], 3.0);
    }

    // The headset answers through the same declarations the runtime uses.
    const std::optional<runtime::DeviceRecord> hmd = fake.Device(0);
    ASSERT_TRUE(hmd.has_value());
    const vr::DriverPose_t pose = runtime::CallGetPose(*hmd->driver);
    EXPECT_EQ(pose.vecPosition[1], static_cast<double>(1.7f));
    EXPECT_NE(hmd->driver->GetComponent("IVRVirtualDisplay_001"), nullptr);

    provider->Cleanup();
    initialised = false;
    fake.ClearEvents();
    // Nothing reaches the log after Cleanup.
    provider->EnterStandby();
    EXPECT_TRUE(fake.LogLines().empty());
}

TEST_F(DriverLibraryTest, SettingsShapeTheHeadset) {
    platform::ChildProcess companion;
    ASSERT_TRUE(test::StartStandinCompanion(companion));
    ASSERT_EQ(Init(R"({"driver_quillo": {"windowWidth": 1920, "windowHeight": 1080,
                  "renderScale": 150, "hmdMode": 2, "fakeSensorEnabled": false}})"),
              vr::VRInitError_None);
    EXPECT_TRUE(Logged("Preparing HMD, mode 2\n"));
    EXPECT_TRUE(Logged("driver_quillo: Window: -1 -1 2880 1620\n"));
    EXPECT_TRUE(Logged("driver_quillo: Render Target: 1440 1620\n"));
    ASSERT_EQ(fake.DeviceCount(), 1u);
    const std::optional<runtime::DeviceRecord> hmd = fake.Device(0);
    ASSERT_TRUE(hmd.has_value());
    EXPECT_NE(hmd->driver->GetComponent("IVRDriverDirectModeComponent_002"), nullptr);
    EXPECT_EQ(hmd->driver->GetComponent("IVRVirtualDisplay_001"), nullptr);
}

}  // namespace
}  // namespace quillo
