// The fake runtime the driver tests stand on: its settings reader and the rules the driver
// relies on (absent keys, object ids, containers, refusing devices).
#include <gtest/gtest.h>

#include "runtime/fake_interfaces.h"
#include "runtime/fake_runtime.h"

namespace quillo::runtime {
namespace {

TEST(FakeSettings, AbsentKeysReportUnsetAndReadAsZero) {
    FakeRuntime fake;
    std::string error;
    ASSERT_TRUE(fake.Settings().LoadJson(
        R"({"driver_quillo": {"hmdMode": 2, "flag": true, "text": "abc", "f": 2.75}})", error));
    vr::IVRSettings& settings = fake.Settings();
    vr::EVRSettingsError e = vr::VRSettingsError_None;
    EXPECT_EQ(settings.GetInt32("driver_quillo", "hmdMode", &e), 2);
    EXPECT_EQ(e, vr::VRSettingsError_None);
    EXPECT_EQ(settings.GetInt32("driver_quillo", "missing", &e), 0);
    EXPECT_EQ(e, vr::VRSettingsError_UnsetSettingHasNoDefault);
    EXPECT_FALSE(settings.GetBool("other_section", "flag", &e));
    EXPECT_EQ(e, vr::VRSettingsError_UnsetSettingHasNoDefault);
    EXPECT_TRUE(settings.GetBool("driver_quillo", "flag", &e));
    EXPECT_EQ(settings.GetInt32("driver_quillo", "f", nullptr), 2);
    EXPECT_EQ(settings.GetFloat("driver_quillo", "f", nullptr), 2.75f);
    // A value of the wrong kind is a read error.
    EXPECT_EQ(settings.GetInt32("driver_quillo", "text", &e), 0);
    EXPECT_EQ(e, vr::VRSettingsError_ReadFailed);
    char buffer[3];
    settings.GetString("driver_quillo", "text", buffer, sizeof(buffer), &e);
    EXPECT_STREQ(buffer, "ab");
    settings.SetInt32("driver_quillo", "missing", -5, nullptr);
    EXPECT_EQ(settings.GetInt32("driver_quillo", "missing", nullptr), -5);
}

// A settings file that is no document of sections is refused with a reason the user can act
// on, and leaves what was loaded before untouched; comments, as the runtime's own files carry
// them, are no error.
TEST(FakeSettings, RefusesBrokenFilesAndKeepsWhatItHad) {
    FakeRuntime fake;
    std::string error;
    ASSERT_TRUE(fake.Settings().LoadJson(R"( // defaults
        {"driver_quillo": {"hmdMode": 2 /* direct */}})",
                                         error))
        << error;
    struct Broken {
        const char* text;
        const char* says;
    };
    for (const Broken& broken : {
             Broken{R"({"driver_quillo": {"hmdMode": }})", "line 1, column 31"},
             Broken{"{\n\"driver_quillo\": {\"hmdMode\": 0,}}", "line 2, column"},
             Broken{"", "line 1, column 1"},
             Broken{"[1]", "not an object of sections"},
             Broken{R"({"driver_quillo": {"hmdMode": 0}, "other": 1})",
                    "\"other\" is not an object"},
         }) {
        SCOPED_TRACE(broken.text);
        error.clear();
        EXPECT_FALSE(fake.Settings().LoadJson(broken.text, error));
        EXPECT_NE(error.find(broken.says), std::string::npos) << error;
        EXPECT_EQ(fake.Settings().GetInt32("driver_quillo", "hmdMode", nullptr), 2);
    }
}

class CountingDevice final : public vr::ITrackedDeviceServerDriver {
  public:
    vr::EVRInitError Activate(uint32_t id) override {
        activatedWith = id;
        return vr::VRInitError_None;
    }
    void Deactivate() override { ++deactivations; }
    void EnterStandby() override {}
    void* GetComponent(const char*) override { return nullptr; }
    void DebugRequest(const char*, char*, uint32_t) override {}
#if QUILLO_MSVC_AGGREGATE_RETURN
    vr::DriverPose_t* GetPose(vr::DriverPose_t* out) override {
        *out = {};
        return out;
    }
#else
    vr::DriverPose_t GetPose() override {
        return {};
    }
#endif
    uint32_t activatedWith = 0xFFFFFFFF;
    int deactivations = 0;
};

TEST(FakeRuntime, DevicesGetIdsInOrderAndDistinctContainers) {
    FakeRuntime fake;
    CountingDevice a, b, c;
    vr::IVRServerDriverHost& host = fake.Host();
    EXPECT_TRUE(host.TrackedDeviceAdded("a", vr::TrackedDeviceClass_HMD, &a));
    EXPECT_TRUE(host.TrackedDeviceAdded("b", vr::TrackedDeviceClass_Controller, &b));
    // Refused: a serial already known, no serial, no driver.
    EXPECT_FALSE(host.TrackedDeviceAdded("a", vr::TrackedDeviceClass_Controller, &c));
    EXPECT_FALSE(host.TrackedDeviceAdded(nullptr, vr::TrackedDeviceClass_Controller, &c));
    EXPECT_FALSE(host.TrackedDeviceAdded("c", vr::TrackedDeviceClass_Controller, nullptr));
    EXPECT_EQ(fake.DeviceCount(), 2u);
    EXPECT_EQ(a.activatedWith, 0xFFFFFFFFu);  // only on request
    EXPECT_EQ(fake.ActivatePending(), 2u);
    EXPECT_EQ(a.activatedWith, 0u);
    EXPECT_EQ(b.activatedWith, 1u);
    EXPECT_EQ(fake.ActivatePending(), 0u);

    vr::IVRProperties& properties = fake.Properties();
    EXPECT_NE(properties.TrackedDeviceToPropertyContainer(0),
              properties.TrackedDeviceToPropertyContainer(1));
    EXPECT_NE(properties.TrackedDeviceToPropertyContainer(0), vr::k_ulInvalidPropertyContainer);

    EXPECT_TRUE(fake.DeactivateDevice(1));
    EXPECT_EQ(b.deactivations, 1);
    EXPECT_EQ(fake.ActivatePending(), 1u);  // activated again, as the runtime would
}

TEST(FakeRuntime, InlineActivationHappensBeforeTheAddReturns) {
    FakeRuntimeOptions options;
    options.activation = ActivationPolicy::Inline;
    FakeRuntime fake(options);
    CountingDevice device;
    EXPECT_TRUE(fake.Host().TrackedDeviceAdded("x", vr::TrackedDeviceClass_HMD, &device));
    EXPECT_EQ(device.activatedWith, 0u);
    const std::vector<RuntimeEvent> events = fake.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, EventKind::DeviceAdded);
    EXPECT_EQ(events[1].kind, EventKind::DeviceActivated);
}

TEST(FakeRuntime, PropertyWritesAreDecodedAndMalformedOnesFlagged) {
    FakeRuntime fake;
    vr::IVRProperties& properties = fake.Properties();
    const vr::PropertyContainerHandle_t container = properties.TrackedDeviceToPropertyContainer(0);
    float value = 0.5f;
    char text[3] = {'a', 'b', 'c'};  // no terminating zero
    vr::PropertyWrite_t writes[2] = {};
    writes[0].prop = vr::Prop_UserIpdMeters_Float;
    writes[0].pvBuffer = &value;
    writes[0].unBufferSize = sizeof(value);
    writes[0].unTag = vr::k_unFloatPropertyTag;
    writes[1].prop = vr::Prop_ModelNumber_String;
    writes[1].pvBuffer = text;
    writes[1].unBufferSize = sizeof(text);
    writes[1].unTag = vr::k_unStringPropertyTag;
    properties.WritePropertyBatch(container, writes, 2);
    const std::vector<RuntimeEvent> events = fake.EventsOfKind(EventKind::PropertyWrite);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(events[0].value.wellFormed);
    EXPECT_EQ(events[0].value.floatValue, 0.5f);
    EXPECT_EQ(events[0].deviceIndex, 0u);
    EXPECT_FALSE(events[1].value.wellFormed);
    EXPECT_EQ(fake.Properties().Value(container, vr::Prop_UserIpdMeters_Float)->floatValue, 0.5f);
}

}  // namespace
}  // namespace quillo::runtime
