// The device provider the runtime drives: initialises the driver, owns every device it shows
// to the runtime, runs them once per frame and shuts the headset down at Cleanup. The library
// holds exactly one; tests may make their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "driver/controller_admission.h"
#include "link/listeners.h"
#include "openvr/openvr_driver.h"

namespace quillo {

class HMDDriver;
class CFakeSensorDriver_Quillo;
class ControllerDevice;

// The interface versions the driver was built against, null-terminated.
const char* const* DriverInterfaceVersions();

class CServerDriver_Quillo final : public vr::IServerTrackedDeviceProvider,
                                   public IControllerUpdatedListener {
  public:
    CServerDriver_Quillo() = default;
    // At library unload. The runtime calls Cleanup first; if it did not, the headset is
    // stopped here without waiting for its threads (see the definition). Controllers and
    // tracking references are freed too: the runtime no longer calls them after Cleanup.
    ~CServerDriver_Quillo();
    CServerDriver_Quillo(const CServerDriver_Quillo&) = delete;
    CServerDriver_Quillo& operator=(const CServerDriver_Quillo&) = delete;

    vr::EVRInitError Init(vr::IVRDriverContext* pDriverContext) override;
    void Cleanup() override;
    const char* const* GetInterfaceVersions() override;
    void RunFrame() override;
    bool ShouldBlockStandbyMode() override;
    void EnterStandby() override;
    void LeaveStandby() override;

    // From the link's reader thread, for every controller record.
    void OnControllerUpdated(const ControllerRecord& record) override;

    // How Init looks for the companion; tests of the provider's own logic replace the
    // process snapshot with a plain answer.
    using CompanionCheck = bool (*)();
    void SetCompanionCheck(CompanionCheck check) { companionCheck_ = check; }

    bool fakeSensorEnabled() const { return fakeSensorEnabled_; }
    HMDDriver* hmd() const { return hmd_.load(std::memory_order_acquire); }
    CFakeSensorDriver_Quillo* fakeSensor() const { return fakeSensor_; }
    // Touched only on the reader thread while the link runs.
    size_t controllerCount() const { return controllers_.size(); }
    ControllerDevice* controller(uint32_t id) const;

  private:
    void ShutDownHeadset();
    void RetireDevicesOfPreviousRun();

    CompanionCheck companionCheck_ = nullptr;  // null: IsCompanionRunning
    bool fakeSensorEnabled_ = false;
    std::unordered_map<uint32_t, ControllerDevice*> controllers_;
    ControllerAdmission controllerAdmission_;  // reader thread, like controllers_
    // Read by the reader thread (controller creation), written by Init and Cleanup.
    std::atomic<HMDDriver*> hmd_{nullptr};
    CFakeSensorDriver_Quillo* fakeSensor_ = nullptr;

    // Devices of an earlier Init on the same provider. The runtime may still hold pointers to
    // them, so they are kept until the provider goes.
    std::vector<ControllerDevice*> retiredControllers_;
    std::vector<CFakeSensorDriver_Quillo*> retiredSensors_;
};

}  // namespace quillo
