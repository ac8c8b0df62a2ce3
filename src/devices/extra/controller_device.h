// A hand controller announced by the companion. Each controller record becomes a pose for the
// runtime and the button, touch and axis events for what changed since the previous record;
// the runtime's haptic requests go back to the companion through the link.
//
// Threads: ApplyControllerRecord runs on the link's reader thread and makes its host calls
// there; GetPose, GetControllerState, TriggerHapticPulse and Activate run on the runtime's
// threads. The last pose and state are published through PublishedValue, so the runtime never
// reads a half-written pose or state and never waits for the reader thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "link/controller_record.h"
#include "link/published_value.h"
#include "openvr/openvr_driver.h"

namespace quillo {

class QuilloCore;
class HapticChannel;

class ControllerDevice final : public vr::ITrackedDeviceServerDriver,
                               public vr::IVRControllerComponent {
  public:
    // `host` is borrowed and must outlive the device. Of `link` (may be null) the device keeps
    // only its haptic channel, so the link may go first: pulses are then dropped.
    ControllerDevice(QuilloCore* link, vr::IVRServerDriverHost* host, uint32_t controllerId);

    // ITrackedDeviceServerDriver
    vr::EVRInitError Activate(uint32_t unObjectId) override;
    void Deactivate() override;
    void EnterStandby() override;
    void* GetComponent(const char* pchComponentNameAndVersion) override;
    void DebugRequest(const char* pchRequest, char* pchResponseBuffer,
                      uint32_t unResponseBufferSize) override;
#if QUILLO_MSVC_AGGREGATE_RETURN
    vr::DriverPose_t* GetPose(vr::DriverPose_t* pResult) override;
#else
    vr::DriverPose_t GetPose() override;
#endif

    // IVRControllerComponent
#if QUILLO_MSVC_AGGREGATE_RETURN
    vr::VRControllerState_t* GetControllerState(vr::VRControllerState_t* pResult) override;
#else
    vr::VRControllerState_t GetControllerState() override;
#endif
    bool TriggerHapticPulse(uint32_t unAxisId, uint16_t usPulseDurationMicroseconds) override;

    // Reader thread: one record for this controller. Ignored until the device is activated;
    // dropped (and logged once per run) when its pose is not finite.
    void ApplyControllerRecord(ControllerRecord record);

    // Copies of what the runtime reads, callable from any thread.
    vr::DriverPose_t CurrentPose() const {
        return publishedPose_.Load();
    }
    vr::VRControllerState_t CurrentState() const {
        return publishedState_.Load();
    }

    uint32_t controllerId() const {
        return controllerId_;
    }
    const std::string& serialNumber() const {
        return serialNumber_;
    }
    const std::string& modelNumber() const {
        return modelNumber_;
    }
    vr::PropertyContainerHandle_t propertyContainer() const {
        return propertyContainer_;
    }
    // k_unTrackedDeviceIndexInvalid until Activate; Deactivate keeps it.
    uint32_t deviceIndex() const {
        return deviceIndex_.load(std::memory_order_acquire);
    }

  private:
    void SendButtonEvents(uint32_t index, const ControllerInputState& input);
    void SendAxisEvents(uint32_t index, const ControllerInputState& input);

    // Reader thread only: the base for the next record's change detection.
    vr::DriverPose_t pose_;
    // Reader thread only: records dropped since the last applied one.
    uint32_t droppedRecords_ = 0;
    vr::VRControllerState_t state_;
    vr::IVRServerDriverHost* host_;
    uint32_t controllerId_;
    std::string modelNumber_;
    std::shared_ptr<HapticChannel> haptics_;
    vr::PropertyContainerHandle_t propertyContainer_ = vr::k_ulInvalidPropertyContainer;
    // Written once by Activate on a runtime thread, read by the reader thread.
    std::atomic<uint32_t> deviceIndex_{vr::k_unTrackedDeviceIndexInvalid};
    std::string serialNumber_;

    PublishedValue<vr::DriverPose_t> publishedPose_;
    PublishedValue<vr::VRControllerState_t> publishedState_;
};

// "QuilloControllerV02ID" followed by the id as a signed 32-bit decimal (4294967295 -> "-1").
std::string ControllerSerialNumber(uint32_t controllerId);

// The pose for one record: rotation by MatrixToQuaternionCopysign, position from column 3,
// result/valid/connected from the status (0 and unknown: running OK; 1: out of range; 2:
// uninitialised and disconnected).
vr::DriverPose_t ControllerPoseFromRecord(const ControllerRecord& record);

}  // namespace quillo
