// The host interfaces the fake runtime hands to a driver, one class per interface.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "openvr/openvr_driver.h"
#include "runtime_events.h"

namespace quillo::runtime {

class FakeRuntime;

class FakeDriverContext final : public vr::IVRDriverContext {
  public:
    explicit FakeDriverContext(FakeRuntime& runtime) : runtime_(runtime) {}
    void* GetGenericInterface(const char* pchInterfaceVersion, vr::EVRInitError* peError) override;
    vr::DriverHandle_t GetDriverHandle() override { return 0x4472697665ull; }

  private:
    FakeRuntime& runtime_;
};

class FakeServerDriverHost final : public vr::IVRServerDriverHost {
  public:
    explicit FakeServerDriverHost(FakeRuntime& runtime) : runtime_(runtime) {}

    bool TrackedDeviceAdded(const char* pchDeviceSerialNumber, vr::ETrackedDeviceClass eDeviceClass,
                            vr::ITrackedDeviceServerDriver* pDriver) override;
    void TrackedDevicePoseUpdated(uint32_t unWhichDevice, const vr::DriverPose_t& newPose,
                                  uint32_t unPoseStructSize) override;
    void VsyncEvent(double vsyncTimeOffsetSeconds) override;
    void TrackedDeviceButtonPressed(uint32_t unWhichDevice, vr::EVRButtonId eButtonId,
                                    double eventTimeOffset) override;
    void TrackedDeviceButtonUnpressed(uint32_t unWhichDevice, vr::EVRButtonId eButtonId,
                                      double eventTimeOffset) override;
    void TrackedDeviceButtonTouched(uint32_t unWhichDevice, vr::EVRButtonId eButtonId,
                                    double eventTimeOffset) override;
    void TrackedDeviceButtonUntouched(uint32_t unWhichDevice, vr::EVRButtonId eButtonId,
                                      double eventTimeOffset) override;
    void TrackedDeviceAxisUpdated(uint32_t unWhichDevice, uint32_t unWhichAxis,
                                  const vr::VRControllerAxis_t& axisState) override;
    void ProximitySensorState(uint32_t unWhichDevice, bool bProximitySensorTriggered) override;
    void VendorSpecificEvent(uint32_t unWhichDevice, vr::EVREventType eventType,
                             const vr::VREvent_Data_t& eventData, double eventTimeOffset) override;
    bool IsExiting() override { return false; }
    bool PollNextEvent(vr::VREvent_t* pEvent, uint32_t uncbVREvent) override { return false; }
    void GetRawTrackedDevicePoses(float fPredictedSecondsFromNow,
                                  vr::TrackedDevicePose_t* pTrackedDevicePoseArray,
                                  uint32_t unTrackedDevicePoseArrayCount) override;
    void TrackedDeviceDisplayTransformUpdated(uint32_t unWhichDevice,
                                              vr::HmdMatrix34_t eyeToHeadLeft,
                                              vr::HmdMatrix34_t eyeToHeadRight) override;

  private:
    void RecordButton(EventKind kind, uint32_t device, vr::EVRButtonId button, double offset);
    FakeRuntime& runtime_;
};

// Settings in sections of typed values, loaded from a default.vrsettings-style JSON document.
// A key that is absent reads as 0 / false / "" and reports
// VRSettingsError_UnsetSettingHasNoDefault.
class FakeSettings final : public vr::IVRSettings {
  public:
    explicit FakeSettings(FakeRuntime& runtime) : runtime_(runtime) {}

    // Replaces every setting with those of the document (one object per section). False with
    // a reason when the text is not such a document.
    bool LoadJson(const std::string& text, std::string& error);
    bool LoadFile(const std::string& path, std::string& error);
    // The stored value, if any (tests).
    std::optional<nlohmann::json> Value(const std::string& section, const std::string& key) const;

    const char* GetSettingsErrorNameFromEnum(vr::EVRSettingsError eError) override;
    bool Sync(bool bForce, vr::EVRSettingsError* peError) override;
    void SetBool(const char* pchSection, const char* pchSettingsKey, bool bValue,
                 vr::EVRSettingsError* peError) override;
    void SetInt32(const char* pchSection, const char* pchSettingsKey, int32_t nValue,
                  vr::EVRSettingsError* peError) override;
    void SetFloat(const char* pchSection, const char* pchSettingsKey, float flValue,
                  vr::EVRSettingsError* peError) override;
    void SetString(const char* pchSection, const char* pchSettingsKey, const char* pchValue,
                   vr::EVRSettingsError* peError) override;
    bool GetBool(const char* pchSection, const char* pchSettingsKey,
                 vr::EVRSettingsError* peError) override;
    int32_t GetInt32(const char* pchSection, const char* pchSettingsKey,
                     vr::EVRSettingsError* peError) override;
    float GetFloat(const char* pchSection, const char* pchSettingsKey,
                   vr::EVRSettingsError* peError) override;
    void GetString(const char* pchSection, const char* pchSettingsKey, char* pchValue,
                   uint32_t unValueLen, vr::EVRSettingsError* peError) override;
    void RemoveSection(const char* pchSection, vr::EVRSettingsError* peError) override;
    void RemoveKeyInSection(const char* pchSection, const char* pchSettingsKey,
                            vr::EVRSettingsError* peError) override;

  private:
    // Looks the value up, records the read and sets the error.
    std::optional<nlohmann::json> Read(const char* section, const char* key,
                                       vr::EVRSettingsError* error);
    void Write(const char* section, const char* key, nlohmann::json value,
               vr::EVRSettingsError* error);

    FakeRuntime& runtime_;
    mutable std::mutex mutex_;
    // One object per section, each holding that section's values.
    nlohmann::json sections_ = nlohmann::json::object();
};

// Property containers, one per object id, holding the last value written for each property.
class FakeProperties final : public vr::IVRProperties {
  public:
    explicit FakeProperties(FakeRuntime& runtime) : runtime_(runtime) {}

    std::optional<PropertyValue> Value(vr::PropertyContainerHandle_t container,
                                       vr::ETrackedDeviceProperty prop) const;

    vr::ETrackedPropertyError ReadPropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                                vr::PropertyRead_t* pBatch,
                                                uint32_t unBatchEntryCount) override;
    vr::ETrackedPropertyError WritePropertyBatch(vr::PropertyContainerHandle_t ulContainerHandle,
                                                 vr::PropertyWrite_t* pBatch,
                                                 uint32_t unBatchEntryCount) override;
    const char* GetPropErrorNameFromEnum(vr::ETrackedPropertyError error) override;
    vr::PropertyContainerHandle_t TrackedDeviceToPropertyContainer(
        vr::TrackedDeviceIndex_t nDevice) override;

  private:
    FakeRuntime& runtime_;
    mutable std::mutex mutex_;
    std::map<vr::PropertyContainerHandle_t, std::map<int32_t, PropertyValue>> containers_;
};

class FakeDriverLog final : public vr::IVRDriverLog {
  public:
    explicit FakeDriverLog(FakeRuntime& runtime) : runtime_(runtime) {}
    void Log(const char* pchLogMessage) override;

  private:
    FakeRuntime& runtime_;
};

}  // namespace quillo::runtime
