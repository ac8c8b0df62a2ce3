// The headset as the runtime drives it, in process: construction, activation, per-frame
// updates, the display component and the two variants' own components.
#include <gtest/gtest.h>

#include <cstring>
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

class HeadsetTest : public test::RuntimeFixture {};

TEST_F(HeadsetTest, ConstructionLogsSettingsAndGeometry) {
    MakeRuntime();
    HMDDriverVirtual hmd;
    const std::vector<std::string> expected = {
        "Using settings values\n",
        "driver_quillo: Serial Number: 0.8\n",
        "driver_quillo: Model Number: Quillo\n",
        "driver_quillo: Window: -1 -1 2560 1440\n",
        "driver_quillo: Render Target: 1280 1440\n",
        "driver_quillo: Seconds from Vsync to Photons: 0.000000\n",
        "driver_quillo: Display Frequency: 60.000000\n",
        "driver_quillo: IPD: 0.065000\n",
    };
    EXPECT_EQ(Logs(), expected);
    // Nothing is handed to the runtime before activation.
    EXPECT_TRUE(Events(EventKind::PropertyWrite).empty());
    EXPECT_EQ(hmd.deviceIndex(), vr::k_unTrackedDeviceIndexInvalid);
    EXPECT_FALSE(hmd.Core().Compositor().ready());
}

TEST_F(HeadsetTest, SettingsChangeSizesAndOffsets) {
    MakeRuntime(R"({"driver_quillo": {"windowWidth": 1003, "windowHeight": 1001,
                   "renderScale": 150, "RotationOffsetYDeg": 90}})");
    HMDDriverVirtual hmd;
    EXPECT_TRUE(Logged("driver_quillo: Window: -1 -1 1502 1501\n"));
    EXPECT_TRUE(Logged("driver_quillo: Render Target: 751 1501\n"));
    uint32_t width = 0, height = 0;
    hmd.GetRecommendedRenderTargetSize(&width, &height);
    EXPECT_EQ(std::make_tuple(width, height), std::make_tuple(751u, 1501u));
    EXPECT_FLOAT_EQ(hmd.renderScale(), 1.5f);
    EXPECT_EQ(hmd.rotationOffsets().yaw.y, 0.70710677f);
    // Until a head pose arrives the offsets are not applied.
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
        EXPECT_TRUE(Logged(omitted ? "driver_quillo: Render Target: 1280 1440\n"
                                   : "driver_quillo: Render Target: 500 600\n"));
    }
}

TEST_F(HeadsetTest, ActivateWritesTheTwelvePropertiesInOrder) {
    runtime::FakeRuntime& rt = MakeRuntime();
    HMDDriverVirtual hmd;
    rt.ClearEvents();
    ASSERT_EQ(hmd.Activate(3), vr::VRInitError_None);

    const vr::PropertyContainerHandle_t container = runtime::FakeRuntime::ContainerForDevice(3);
    EXPECT_EQ(hmd.propertyContainer(), container);
    EXPECT_EQ(hmd.deviceIndex(), 3u);
    // The one place the headset's twelve properties are listed: order, type and value.
    const std::vector<RuntimeEvent> writes = Events(EventKind::PropertyWrite);
    ASSERT_EQ(writes.size(), 12u);
    struct Expected {
        vr::ETrackedDeviceProperty prop;
        vr::PropertyTypeTag_t tag;
        double number;
        const char* text;
    } expected[] = {
        {vr::Prop_IsOnDesktop_Bool, vr::k_unBoolPropertyTag, 0, nullptr},
        {vr::Prop_WillDriftInYaw_Bool, vr::k_unBoolPropertyTag, 1, nullptr},
        {vr::Prop_ContainsProximitySensor_Bool, vr::k_unBoolPropertyTag, 1, nullptr},
        {vr::Prop_ReportsTimeSinceVSync_Bool, vr::k_unBoolPropertyTag, 0, nullptr},
        {vr::Prop_UserIpdMeters_Float, vr::k_unFloatPropertyTag, 0.065f, nullptr},
        {vr::Prop_UserHeadToEyeDepthMeters_Float, vr::k_unFloatPropertyTag, 0, nullptr},
        {vr::Prop_DisplayFrequency_Float, vr::k_unFloatPropertyTag, 60, nullptr},
        {vr::Prop_SecondsFromVsyncToPhotons_Float, vr::k_unFloatPropertyTag, 0, nullptr},
        {vr::Prop_DeviceClass_Int32, vr::k_unInt32PropertyTag, 1, nullptr},
        {vr::Prop_CurrentUniverseId_Uint64, vr::k_unUint64PropertyTag, 1, nullptr},
        {vr::Prop_ModelNumber_String, vr::k_unStringPropertyTag, 0, "Quillo"},
        {vr::Prop_SerialNumber_String, vr::k_unStringPropertyTag, 0, "0.8"},
    };
    for (size_t i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        const runtime::PropertyValue& value = writes[i].value;
        EXPECT_EQ(writes[i].property, expected[i].prop);
        EXPECT_EQ(value.tag, expected[i].tag);
        EXPECT_TRUE(value.wellFormed);
        EXPECT_EQ(value.writeType, vr::PropertyWrite_Set);
        EXPECT_EQ(writes[i].container, container);
        switch (value.tag) {
            case vr::k_unBoolPropertyTag:
                EXPECT_EQ(value.boolValue, expected[i].number != 0);
                break;
            case vr::k_unFloatPropertyTag:
                EXPECT_EQ(value.floatValue, static_cast<float>(expected[i].number));
                break;
            case vr::k_unInt32PropertyTag:
                EXPECT_EQ(value.int32Value, expected[i].number);
                break;
            case vr::k_unUint64PropertyTag:
                EXPECT_EQ(value.uint64Value, expected[i].number);
                break;
            default:  // strings go with their terminating zero
                EXPECT_EQ(value.stringValue, expected[i].text);
                EXPECT_EQ(value.bytes.size(), std::strlen(expected[i].text) + 1);
        }
    }

    // Log line and proximity report come before the properties.
    const std::vector<RuntimeEvent> all = rt.Events();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[0].kind, EventKind::LogLine);
    EXPECT_EQ(all[0].text, "HMD activated with id 3 \n");
    EXPECT_EQ(all[1].kind, EventKind::Proximity);
    EXPECT_EQ(all[1].deviceIndex, 3u);
    EXPECT_TRUE(all[1].flag);
}

TEST_F(HeadsetTest, FirstActivationMakesTheOutputTexturesOnce) {
    MakeRuntime();
    HMDDriverVirtual hmd;
    ASSERT_EQ(hmd.Activate(0), vr::VRInitError_None);
    FrameCompositor& compositor = hmd.Core().Compositor();
    EXPECT_TRUE(compositor.ready());
    EXPECT_EQ(compositor.outputFormat(), 28u);
    ASSERT_NE(compositor.OutputTexture(0), nullptr);
    EXPECT_EQ(compositor.OutputTexture(0)->Describe().width, 2560u);
    EXPECT_EQ(compositor.OutputTexture(0)->Describe().height, 1440u);
    const uint64_t first = compositor.OutputSharedHandle(0);

    hmd.Deactivate();
    fake->ClearEvents();
    ASSERT_EQ(hmd.Activate(0), vr::VRInitError_None);
    // Every property again, the same textures.
    EXPECT_EQ(Events(EventKind::PropertyWrite).size(), 12u);
    EXPECT_EQ(compositor.OutputSharedHandle(0), first);
}

TEST_F(HeadsetTest, UpdatePoseOnlyHandsPosesWhileActive) {
    runtime::FakeRuntime& rt = MakeRuntime();
    HMDDriverVirtual hmd;
    rt.ClearEvents();
    hmd.UpdatePose();
    std::vector<RuntimeEvent> events = rt.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, EventKind::Proximity);
    EXPECT_EQ(events[0].deviceIndex, vr::k_unTrackedDeviceIndexInvalid);

    hmd.Activate(0);
    rt.ClearEvents();
    for (int frame = 0; frame < 3; ++frame) {
        hmd.UpdatePose();
    }
    const std::vector<RuntimeEvent> poses = Events(EventKind::PoseUpdated);
    ASSERT_EQ(poses.size(), 3u);
    for (const RuntimeEvent& pose : poses) {
        EXPECT_EQ(pose.deviceIndex, 0u);
        EXPECT_EQ(pose.poseSize, sizeof(vr::DriverPose_t));
        EXPECT_EQ(std::make_tuple(pose.pose.vecPosition[0], pose.pose.vecPosition[1],
                                  pose.pose.vecPosition[2]),
                  std::make_tuple(0.0, static_cast<double>(1.7f), 0.0));
        EXPECT_EQ(pose.pose.qRotation.w, 1.0);
        EXPECT_EQ(pose.pose.result, vr::TrackingResult_Running_OK);
    }
    EXPECT_EQ(Events(EventKind::Proximity).size(), 3u);

    hmd.Deactivate();
    EXPECT_TRUE(Logged("Driver deactivated: Quillo \n"));
    rt.ClearEvents();
    hmd.UpdatePose();
    events = rt.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, EventKind::Proximity);
    EXPECT_EQ(events[0].deviceIndex, vr::k_unTrackedDeviceIndexInvalid);
}

TEST_F(HeadsetTest, FrameRateBeforeActivationIsPublishedByActivate) {
    runtime::FakeRuntime& rt = MakeRuntime();
    HMDDriverVirtual hmd;
    rt.ClearEvents();
    hmd.OnFramerateUpdated(90);
    EXPECT_EQ(hmd.displayFrequency(), 90.0f);
    std::vector<RuntimeEvent> writes = Events(EventKind::PropertyWrite);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].container, vr::k_ulInvalidPropertyContainer);
    EXPECT_EQ(writes[0].property, vr::Prop_DisplayFrequency_Float);
    EXPECT_EQ(writes[0].value.floatValue, 90.0f);
    EXPECT_TRUE(Logged("Updating headset fps, new value: 90.000000 \n"));

    rt.ClearEvents();
    hmd.Activate(2);
    writes = Events(EventKind::PropertyWrite);
    ASSERT_EQ(writes.size(), 12u);
    EXPECT_EQ(writes[6].value.floatValue, 90.0f);

    rt.ClearEvents();
    hmd.OnFramerateUpdated(75);
    writes = Events(EventKind::PropertyWrite);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].container, runtime::FakeRuntime::ContainerForDevice(2));

    // Every positive rate is published, however high; 0 and negative ones are not.
    for (int32_t hz : {2000, 0, -90}) {
        rt.ClearEvents();
        hmd.OnFramerateUpdated(hz);
        writes = Events(EventKind::PropertyWrite);
        ASSERT_EQ(writes.size(), hz > 0 ? 1u : 0u) << hz;
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
    display.GetEyeOutputViewport(vr::Eye_Right, &vx, &vy, &vw, &vh);
    EXPECT_EQ(vx, 1280u);
    // Any value but 0 counts as the right eye.
    display.GetEyeOutputViewport(static_cast<vr::EVREye>(7), &vx, &vy, &vw, &vh);
    EXPECT_EQ(vx, 1280u);

    float l = 0, r = 0, t = 0, b = 0;
    display.GetProjectionRaw(vr::Eye_Left, &l, &r, &t, &b);
    EXPECT_EQ(std::make_tuple(l, r, t, b), std::make_tuple(-1.05866f, 1.09237f, -1.3316f, 1.3316f));
    display.GetProjectionRaw(vr::Eye_Right, &l, &r, &t, &b);
    EXPECT_EQ(std::make_tuple(l, r), std::make_tuple(-1.09237f, 1.05866f));

    const vr::DistortionCoordinates_t d =
        runtime::CallComputeDistortion(display, vr::Eye_Right, 0.25f, 0.75f);
    for (const float* c : {d.rfRed, d.rfGreen, d.rfBlue}) {
        EXPECT_EQ(c[0], 0.25f);
        EXPECT_EQ(c[1], 0.75f);
    }
}

TEST_F(HeadsetTest, DebugRequestWritesOnlyAnEmptyString) {
    MakeRuntime();
    HMDDriverVirtual hmd;
    char buffer[4] = {'x', 'y', 'z', 'w'};
    hmd.DebugRequest("anything", buffer, 0);
    EXPECT_EQ(buffer[0], 'x');
    hmd.DebugRequest("anything", buffer, sizeof(buffer));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'y');
}

TEST_F(HeadsetTest, ComponentsByNameInAnyLetterCase) {
    MakeRuntime();
    HMDDriverVirtual hmd;
    EXPECT_EQ(hmd.GetComponent("ivrdisplaycomponent_002"),
              static_cast<vr::IVRDisplayComponent*>(&hmd));
    EXPECT_EQ(hmd.GetComponent("ITrackedDeviceServerDriver_005"),
              static_cast<vr::ITrackedDeviceServerDriver*>(&hmd));
    EXPECT_EQ(hmd.GetComponent("ivrvirtualdisplay_001"), static_cast<vr::IVRVirtualDisplay*>(&hmd));
    EXPECT_EQ(hmd.GetComponent("IVRDriverDirectModeComponent_002"), nullptr);
    EXPECT_EQ(hmd.GetComponent("IVRCameraComponent_002"), nullptr);
    EXPECT_EQ(hmd.GetComponent("IVRDisplayComponent_00"), nullptr);
    EXPECT_EQ(hmd.GetComponent(nullptr), nullptr);

    HMDDriverDirect direct;
    EXPECT_EQ(direct.GetComponent("IVRDRIVERDIRECTMODECOMPONENT_002"),
              static_cast<vr::IVRDriverDirectModeComponent*>(&direct));
    EXPECT_EQ(direct.GetComponent("IVRVirtualDisplay_001"), nullptr);
    EXPECT_EQ(direct.GetComponent("IVRDisplayComponent_002"),
              static_cast<vr::IVRDisplayComponent*>(&direct));
}

TEST_F(HeadsetTest, VirtualDisplayCountsEveryPresent) {
    MakeRuntime();
    HMDDriverVirtual hmd;
    float seconds = 0.0f;
    uint64_t counter = 99;
    EXPECT_TRUE(hmd.GetTimeSinceLastVsync(&seconds, &counter));
    EXPECT_EQ(seconds, 0.016f);
    EXPECT_EQ(counter, 0u);
    hmd.Activate(0);
    // Handles that name no texture: the link drops every frame, the count still grows.
    for (int i = 0; i < 5; ++i) {
        hmd.Present(0x1234 + i);
    }
    EXPECT_TRUE(hmd.GetTimeSinceLastVsync(&seconds, &counter));
    EXPECT_EQ(counter, 5u);
    EXPECT_EQ(seconds, 0.016f);
    hmd.WaitForPresent();  // the first wait returns at once
}

}  // namespace
}  // namespace quillo::test
