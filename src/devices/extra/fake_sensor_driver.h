// The tracking reference: a stationary device shown beside the headset with a camera's
// render model, field of view and tracking range. It tracks nothing; its pose is fixed at
// construction and the provider pushes it to the runtime every frame once it is active.
#pragma once

#include <atomic>
#include <string>

#include "openvr/openvr_driver.h"

namespace quillo {

class CFakeSensorDriver_Quillo final : public vr::ITrackedDeviceServerDriver {
  public:
    explicit CFakeSensorDriver_Quillo(vr::IVRServerDriverHost* host);

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

    const vr::DriverPose_t& pose() const {
        return pose_;
    }
    vr::IVRServerDriverHost* host() const {
        return host_;
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
    // k_unTrackedDeviceIndexInvalid until Activate; Deactivate keeps the id.
    uint32_t deviceIndex() const {
        return deviceIndex_.load(std::memory_order_acquire);
    }

  private:
    vr::DriverPose_t pose_;
    vr::IVRServerDriverHost* host_;
    std::string modelNumber_;
    vr::PropertyContainerHandle_t propertyContainer_ = vr::k_ulInvalidPropertyContainer;
    // Activate may run on another runtime thread than the RunFrame that reads it.
    std::atomic<uint32_t> deviceIndex_{vr::k_unTrackedDeviceIndexInvalid};
    std::string serialNumber_;
};

// The fixed pose of the tracking reference: three metres along +z, identity rotation.
vr::DriverPose_t MakeFakeSensorPose();

}  // namespace quillo
