// The head-mounted display as the runtime sees it: a tracked device of class HMD with a
// display component. It owns the link to the companion (QuilloCore), publishes its properties
// when activated and hands the runtime a head pose every frame. HMDDriverVirtual and
// HMDDriverDirect add the runtime's two ways of presenting frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "devices/headset/headset_geometry.h"
#include "link/listeners.h"
#include "link/quillo_core.h"
#include "openvr/openvr_driver.h"

namespace quillo {

class HMDDriver : public vr::ITrackedDeviceServerDriver,
                  public vr::IVRDisplayComponent,
                  public ITrackingUpdatedListener,
                  public IFramerateUpdatedListener {
  public:
    // Destroyed only by the provider, through this class. The extra vtable slots the virtual
    // destructor adds come after GetPose, beyond what the runtime calls.
    virtual ~HMDDriver();
    HMDDriver(const HMDDriver&) = delete;
    HMDDriver& operator=(const HMDDriver&) = delete;

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

    // IVRDisplayComponent
    void GetWindowBounds(int32_t* pnX, int32_t* pnY, uint32_t* pnWidth,
                         uint32_t* pnHeight) override;
    bool IsDisplayOnDesktop() override;
    bool IsDisplayRealDisplay() override;
    void GetRecommendedRenderTargetSize(uint32_t* pnWidth, uint32_t* pnHeight) override;
    void GetEyeOutputViewport(vr::EVREye eEye, uint32_t* pnX, uint32_t* pnY, uint32_t* pnWidth,
                              uint32_t* pnHeight) override;
    void GetProjectionRaw(vr::EVREye eEye, float* pfLeft, float* pfRight, float* pfTop,
                          float* pfBottom) override;
#if QUILLO_MSVC_AGGREGATE_RETURN
    vr::DistortionCoordinates_t* ComputeDistortion(vr::DistortionCoordinates_t* pResult,
                                                   vr::EVREye eEye, float fU, float fV) override;
#else
    vr::DistortionCoordinates_t ComputeDistortion(vr::EVREye eEye, float fU, float fV) override;
#endif

    // From the link's reader thread.
    void OnTrackingUpdated() override;
    void OnFramerateUpdated(int32_t framesPerSecond) override;

    // Every RunFrame: proximity report, then (while active) the pose, rebuilt first when a
    // new head pose has arrived.
    void UpdatePose();

    QuilloCore& Core() {
        return core_;
    }
    const std::string& serialNumber() const {
        return serialNumber_;
    }
    const std::string& modelNumber() const {
        return modelNumber_;
    }
    uint32_t deviceIndex() const {
        return deviceIndex_.load(std::memory_order_acquire);
    }
    float displayFrequency() const {
        return displayFrequency_.load(std::memory_order_relaxed);
    }
    float renderScale() const {
        return renderScale_;
    }
    const RotationOffsets& rotationOffsets() const {
        return rotationOffsets_;
    }
    vr::PropertyContainerHandle_t propertyContainer() const {
        return propertyContainer_.load(std::memory_order_acquire);
    }

  protected:
    // Starts the link, creates the GPU device, registers as tracking and frame-rate listener,
    // applies the settings, builds the first pose and logs the start-up lines.
    HMDDriver();

    // The headset's own answers of GetComponent; the variants put their component's name
    // between the display component and the device.
    void* DisplayComponent() {
        return static_cast<vr::IVRDisplayComponent*>(this);
    }
    void* DeviceInterface() {
        return static_cast<vr::ITrackedDeviceServerDriver*>(this);
    }

  private:
    void ApplySettings(vr::IVRSettings& settings);
    void BuildPose();
    void WriteProperties();

    vr::IVRServerDriverHost* host_ = nullptr;
    std::string serialNumber_ = "0.8";
    std::string modelNumber_ = "Quillo";
    int32_t windowX_ = -1;
    int32_t windowY_ = -1;
    int32_t renderTargetWidth_ = 1280;
    int32_t renderTargetHeight_ = 1440;
    float renderScale_ = 1.0f;
    float secondsFromVsyncToPhotons_ = 0.0f;
    // Written by the reader thread (frame-rate reports), read by Activate.
    std::atomic<float> displayFrequency_{60.0f};
    float ipd_ = 0.065f;
    // Written by Activate, read by the reader thread when a frame rate arrives.
    std::atomic<vr::PropertyContainerHandle_t> propertyContainer_{vr::k_ulInvalidPropertyContainer};
    vr::DriverPose_t pose_{};
    RotationOffsets rotationOffsets_;
    // Raised by the reader thread, cleared by the runtime's thread after a rebuild.
    std::atomic<bool> poseDirty_{true};
    int32_t windowWidth_ = 2560;
    int32_t windowHeight_ = 1440;
    QuilloCore core_;
    std::atomic<uint32_t> deviceIndex_{vr::k_unTrackedDeviceIndexInvalid};
};

}  // namespace quillo
