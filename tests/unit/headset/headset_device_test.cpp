// The headset as the runtime drives it, in process: construction, activation, per-frame
// updates, the display component and the two variants' own components.
#include <gtest/gtest.h>

#include <tuple>

#include "devices/headset/hmd_driver_direct.h"
#include "devices/headset/hmd_driver_virtual.h"
#include "gpu/frame_compositor.h"
#include "runtime/driver_calls.h"
#include "unit/headset/runtime_fixture.h"

namespace quillo::test {
namespace {

using runtime::EventKind;
using runtime::RuntimeEvent;

class HeadsetTest : public RuntimeFixture {};

TEST_F(HeadsetTest, SettingsSizeTheDisplayAndOffsetsWaitForAHeadPose) {
    MakeRuntime(R"({"driver_quillo": {"windowWidth": 1003, "windowHeight": 1001,
                   "renderScale": 150, "RotationOffsetYDeg": 90}})");
    HMDDriverVirtual hmd;
    EXPECT_TRUE(Logged("driver_quillo: Window: -1 -1 1502 1501\n"));
    uint32_t width = 0, height = 0;
    hmd.GetRecommendedRenderTargetSize(&width, &height);
    EXPECT_EQ(std::make_tuple(width, height), std::make_tuple(751u, 1501u));
    // Nothing is handed to the runtime before activation.
    EXPECT_TRUE(Events(EventKind::PropertyWrite).empty());
    EXPECT_FALSE(hmd.Core().Compositor().ready());
    const vr::DriverPose_t pose = runtime::CallGetPose(hmd);
    EXPECT_EQ(pose.qRotation.w, 1.0);
    EXPECT_EQ(pose.vecPosition[1], static_cast<double>(1.7f));
}

// Without the settings interface the starting values stay; absent size keys give the minimums.
TEST_F(HeadsetTest, MissingSettingsKeepStartingValuesOrFallToTheMinimums) {
    for (bool omitted : {true, false}) {
        runtime::FakeRuntimeOptions options;
        if (omitted) options.omittedInterfaces = {"IVRSettings_002"};
        MakeRuntime(omitted ? nullptr : R"({"driver_quillo": {}})", options);
        HMDDriverVirtual hmd;
        EXPECT_EQ(Logged("Using settings values\n"), !omitted);
        EXPECT_TRUE(Logged(omitted ? "driver_quillo: Window: -1 -1 2560 1440\n"
                                   : "driver_quillo: Window: -1 -1 1000 600\n"));
    }
}

TEST_F(HeadsetTest, ActivateWritesTheTwelvePropertiesInOrder) {
    runtime::FakeRuntime& rt = MakeRuntime();
    HMDDriverVirtual hmd;
    rt.ClearEvents();
    ASSERT_EQ(hmd.Activate(3), vr::VRInitError_None);
    const vr::PropertyContainerHandle_t container = runtime::FakeRuntime::ContainerForDevice(3);
    // The one place the headset's properties are listed: order, type and value.
    const std::vector<std::pair<vr::ETrackedDeviceProperty, std::string>> expected = {
        {vr::Prop_IsOnDesktop_Bool, "bool false"},
        {vr::Prop_WillDriftInYaw_Bool, "bool true"},
        {vr::Prop_ContainsProximitySensor_Bool, "bool true"},
        {vr::Prop_ReportsTimeSinceVSync_Bool, "bool false"},
        {vr::Prop_UserIpdMeters_Float, "float 0.065"},
        {vr::Prop_UserHeadToEyeDepthMeters_Float, "float 0"},
        {vr::Prop_DisplayFrequency_Float, "float 60"},
        {vr::Prop_SecondsFromVsyncToPhotons_Float, "float 0"},
        {vr::Prop_DeviceClass_Int32, "int32 1"},
        {vr::Prop_CurrentUniverseId_Uint64, "uint64 1"},
        {vr::Prop_ModelNumber_String, "string \"Quillo\""},
        {vr::Prop_SerialNumber_String, "string \"0.8\""},
    };
    std::vector<std::pair<vr::ETrackedDeviceProperty, std::string>> actual;
    for (const RuntimeEvent& write : Events(EventKind::PropertyWrite)) {
        EXPECT_EQ(write.container, container);
        EXPECT_EQ(write.value.writeType, vr::PropertyWrite_Set);
        actual.emplace_back(write.property, write.value.Describe());  // strings with their zero
    }
    EXPECT_EQ(actual, expected);

    // Log line and proximity report come before the properties.
    const std::vector<RuntimeEvent> all = rt.Events();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[0].text, "HMD activated with id 3 \n");
    EXPECT_EQ(std::make_tuple(all[1].kind, all[1].deviceIndex, all[1].flag),
              std::make_tuple(EventKind::Proximity, 3u, true));
}

// Poses go to the runtime only while active (an inactive headset reports only that nobody
// wears it); the first activation makes the output textures, a second one keeps them.
TEST_F(HeadsetTest, ActivationCycleMakesTexturesOnceAndHandsPosesOnlyWhileActive) {
    runtime::FakeRuntime& rt = MakeRuntime();
    HMDDriverVirtual hmd;
    FrameCompositor& compositor = hmd.Core().Compositor();
    uint64_t firstHandle = 0;
    for (int activation = 0; activation < 2; ++activation) {
        rt.ClearEvents();
        hmd.UpdatePose();
        std::vector<RuntimeEvent> events = rt.Events();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(std::make_tuple(events[0].kind, events[0].deviceIndex),
                  std::make_tuple(EventKind::Proximity, vr::k_unTrackedDeviceIndexInvalid));

        ASSERT_EQ(hmd.Activate(0), vr::VRInitError_None);
        ASSERT_TRUE(compositor.ready());
        EXPECT_EQ(compositor.outputFormat(), 28u);  // DXGI_FORMAT_R8G8B8A8_UNORM
        const auto output = compositor.OutputTexture(0)->Describe();
        EXPECT_EQ(std::make_tuple(output.width, output.height), std::make_tuple(2560u, 1440u));
        if (activation == 0) firstHandle = compositor.OutputSharedHandle(0);
        EXPECT_EQ(compositor.OutputSharedHandle(0), firstHandle);
        EXPECT_EQ(Events(EventKind::PropertyWrite).size(), 12u);  // every property each time

        rt.ClearEvents();
        for (int frame = 0; frame < 3; ++frame) hmd.UpdatePose();
        const std::vector<RuntimeEvent> poses = Events(EventKind::PoseUpdated);
        ASSERT_EQ(poses.size(), 3u);
        for (const RuntimeEvent& pose : poses) {
            EXPECT_EQ(pose.deviceIndex, 0u);
            EXPECT_EQ(pose.poseSize, sizeof(vr::DriverPose_t));
            EXPECT_EQ(pose.pose.vecPosition[1], static_cast<double>(1.7f));
        }
        EXPECT_EQ(Events(EventKind::Proximity).size(), 3u);
        hmd.Deactivate();
        EXPECT_TRUE(Logged("Driver deactivated: Quillo \n"));
    }
}

TEST_F(HeadsetTest, FrameRateBeforeActivationIsPublishedByActivate) {
    runtime::FakeRuntime& rt = MakeRuntime();
    HMDDriverVirtual hmd;
    rt.ClearEvents();
    hmd.OnFramerateUpdated(90);
    std::vector<RuntimeEvent> writes = Events(EventKind::PropertyWrite);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(
        std::make_tuple(writes[0].container, writes[0].property, writes[0].value.floatValue),
        std::make_tuple(vr::k_ulInvalidPropertyContainer, vr::Prop_DisplayFrequency_Float, 90.0f));

    rt.ClearEvents();
    hmd.Activate(2);
    writes = Events(EventKind::PropertyWrite);
    ASSERT_EQ(writes.size(), 12u);
    EXPECT_EQ(writes[6].value.floatValue, 90.0f);

    // Every positive rate is published to the device, however high; 0 and negative ones are not.
    for (int32_t hz : {75, 2000, 0, -90}) {
        rt.ClearEvents();
        hmd.OnFramerateUpdated(hz);
        writes = Events(EventKind::PropertyWrite);
        ASSERT_EQ(writes.size(), hz > 0 ? 1u : 0u) << hz;
        if (hz > 0) {
            EXPECT_EQ(writes[0].container, runtime::FakeRuntime::ContainerForDevice(2));
        }
    }
    EXPECT_EQ(hmd.displayFrequency(), 2000.0f);
}

TEST_F(HeadsetTest, DisplayComponentAnswers) {
    MakeRuntime();
    HMDDriverVirtual hmd;
    vr::IVRDisplayComponent& display = hmd;
    int32_t x = 0, y = 0;
    uint32_t width = 0, height = 0;
    display.GetWindowBounds(&x, &y, &width, &height);
    EXPECT_EQ(std::make_tuple(x, y, width, height), std::make_tuple(-1, -1, 2560u, 1440u));
    EXPECT_FALSE(display.IsDisplayOnDesktop());
    EXPECT_FALSE(display.IsDisplayRealDisplay());

    uint32_t vx = 9, vy = 9, vw = 0, vh = 0;
    display.GetEyeOutputViewport(vr::Eye_Left, &vx, &vy, &vw, &vh);
    EXPECT_EQ(std::make_tuple(vx, vy, vw, vh), std::make_tuple(0u, 0u, 1280u, 1440u));
    // Any value but 0 counts as the right eye.
    for (int eye : {1, 7}) {
        display.GetEyeOutputViewport(static_cast<vr::EVREye>(eye), &vx, &vy, &vw, &vh);
        EXPECT_EQ(vx, 1280u) << eye;
    }

    // The eyes mirror each other; the outer side of each is the narrower one.
    float l[2], r[2], t[2], b[2];
    for (int eye : {0, 1}) {
        display.GetProjectionRaw(static_cast<vr::EVREye>(eye), &l[eye], &r[eye], &t[eye], &b[eye]);
    }
    EXPECT_EQ(std::make_tuple(l[0], r[0], t[0], b[0]), std::make_tuple(-r[1], -l[1], t[1], b[1]));
    EXPECT_LT(-l[0], r[0]);
    EXPECT_GT(r[0], 0.0f);
    EXPECT_EQ(t[0], -b[0]);
    EXPECT_LT(t[0], 0.0f);

    const vr::DistortionCoordinates_t d =
        runtime::CallComputeDistortion(display, vr::Eye_Right, 0.25f, 0.75f);
    for (const float* c : {d.rfRed, d.rfGreen, d.rfBlue}) {
        EXPECT_EQ(std::make_tuple(c[0], c[1]), std::make_tuple(0.25f, 0.75f));
    }

    char buffer[4] = {'x', 'y', 'z', 'w'};
    hmd.DebugRequest("anything", buffer, 0);
    EXPECT_EQ(buffer[0], 'x');
    hmd.DebugRequest("anything", buffer, sizeof(buffer));
    EXPECT_EQ(std::string(buffer, 2), std::string("\0y", 2));
}

TEST_F(HeadsetTest, ComponentsByNameInAnyLetterCase) {
    MakeRuntime();
    HMDDriverVirtual hmd;
    HMDDriverDirect direct;
    const struct {
        const char* name;
        void* onVirtual;
        void* onDirect;
    } cases[] = {
        {"ivrdisplaycomponent_002", static_cast<vr::IVRDisplayComponent*>(&hmd),
         static_cast<vr::IVRDisplayComponent*>(&direct)},
        {"ITrackedDeviceServerDriver_005", static_cast<vr::ITrackedDeviceServerDriver*>(&hmd),
         static_cast<vr::ITrackedDeviceServerDriver*>(&direct)},
        {"ivrvirtualdisplay_001", static_cast<vr::IVRVirtualDisplay*>(&hmd), nullptr},
        {"IVRDRIVERDIRECTMODECOMPONENT_002", nullptr,
         static_cast<vr::IVRDriverDirectModeComponent*>(&direct)},
        {"IVRCameraComponent_002", nullptr, nullptr},
        {"IVRDisplayComponent_00", nullptr, nullptr},
        {nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hmd.GetComponent(c.name), c.onVirtual) << (c.name ? c.name : "null");
        EXPECT_EQ(direct.GetComponent(c.name), c.onDirect) << (c.name ? c.name : "null");
    }
}

TEST_F(HeadsetTest, VirtualDisplayCountsEveryPresent) {
    MakeRuntime();
    HMDDriverVirtual hmd;
    float seconds = 0.0f;
    uint64_t counter = 99;
    EXPECT_TRUE(hmd.GetTimeSinceLastVsync(&seconds, &counter));
    EXPECT_EQ(std::make_tuple(seconds, counter), std::make_tuple(0.016f, uint64_t{0}));
    hmd.Activate(0);
    // Handles that name no texture: the link drops every frame, the count still grows.
    for (int i = 0; i < 5; ++i) hmd.Present(0x1234 + i);
    EXPECT_TRUE(hmd.GetTimeSinceLastVsync(&seconds, &counter));
    EXPECT_EQ(std::make_tuple(seconds, counter), std::make_tuple(0.016f, uint64_t{5}));
    hmd.WaitForPresent();  // the first wait returns at once
}

}  // namespace
}  // namespace quillo::test
