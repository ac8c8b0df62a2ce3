#include "driver/server_driver.h"

#include <memory>

#include "devices/driver_log.h"
#include "devices/entry_guard.h"
#include "devices/extra/controller_device.h"
#include "devices/extra/fake_sensor_driver.h"
#include "devices/headset/hmd_driver.h"
#include "devices/headset/hmd_driver_direct.h"
#include "devices/headset/hmd_driver_virtual.h"
#include "devices/host_interfaces.h"
#include "driver/companion_check.h"
#include "link/controller_record.h"
#include "link/transmission_pipe.h"
#include "platform/library_pin.h"
#include "platform/log_sink.h"

namespace quillo {

namespace {

constexpr const char* kSettingsSection = "driver_quillo";
// The literal serial the runtime knows the headset by (not the headset's own serial field).
constexpr const char* kHeadsetSerial = "serialNumber";
// How long Cleanup waits for the link's threads to finish what they are doing. A thread that
// is inside a slow runtime call by then is not waited for: the headset is handed to it.
constexpr uint32_t kCleanupWaitMs = 300;

const char* const kInterfaceVersions[] = {
    "IVRSettings_002",
    "ITrackedDeviceServerDriver_005",
    "IVRDisplayComponent_002",
    "IVRDriverDirectModeComponent_002",
    "IVRControllerComponent_001",
    "IVRCameraComponent_002",
    "IServerTrackedDeviceProvider_004",
    "IVRWatchdogProvider_001",
    "IVRVirtualDisplay_001",
    nullptr,
};

// 0 and 1 select the virtual display; every other value, negative ones included, direct mode.
bool IsVirtualDisplayMode(int32_t mode) {
    return mode == 0 || mode == 1;
}

// Lines of the link and the GPU path reach the runtime's log like the driver's own.
void ForwardToDriverLog(const char* line) {
    WriteDriverLog("%s", line);
}

}  // namespace

const char* const* DriverInterfaceVersions() {
    return kInterfaceVersions;
}

CServerDriver_Quillo::~CServerDriver_Quillo() {
    // The library's provider is a static object: this runs while the library unloads, on
    // Windows under the loader lock. A thread that is ending needs that lock, so waiting here
    // for a link thread (a join, or a sleep hoping it ends) can deadlock the runtime's
    // process. So nothing here waits: a headset the runtime did not clean up is stopped and
    // handed, with every device the link's reader thread may still touch, to the link's
    // threads; the last of them frees it all as its final act, or this thread does at once
    // when they have all finished.
    std::vector<ControllerDevice*> controllers = retiredControllers_;
    for (auto& entry : controllers_) {
        controllers.push_back(entry.second);
    }
    std::vector<CFakeSensorDriver_Quillo*> sensors = retiredSensors_;
    sensors.push_back(fakeSensor_);
    HMDDriver* hmd = hmd_.exchange(nullptr, std::memory_order_acq_rel);
    auto release = [hmd, controllers, sensors] {
        delete hmd;
        for (ControllerDevice* controller : controllers) delete controller;
        for (CFakeSensorDriver_Quillo* sensor : sensors) delete sensor;
    };
    if (hmd == nullptr) {
        release();
        return;
    }
    // The threads are told to stop; they return into this library's code, so ask (late, but
    // where the loader still allows it) for the library to stay mapped.
    platform::KeepThisLibraryLoaded();
    hmd->Core().Pipe().ReleaseWhenThreadsEnd(release);
}

ControllerDevice* CServerDriver_Quillo::controller(uint32_t id) const {
    auto found = controllers_.find(id);
    return found == controllers_.end() ? nullptr : found->second;
}

void CServerDriver_Quillo::RetireDevicesOfPreviousRun() {
    // A second Init on the same provider (a runtime that cleaned up and starts again without
    // unloading). The old headset's link is gone, and controllers made for it point at that
    // link, so new records must make new devices; the old ones are kept, not freed.
    ShutDownHeadset();
    for (auto& entry : controllers_) {
        retiredControllers_.push_back(entry.second);
    }
    controllers_.clear();
    controllerAdmission_.Reset();
    if (fakeSensor_ != nullptr) {
        retiredSensors_.push_back(fakeSensor_);
        fakeSensor_ = nullptr;
    }
}

vr::EVRInitError CServerDriver_Quillo::Init(vr::IVRDriverContext* pDriverContext) {
    QUILLO_ENTRY_SITE("CServerDriver_Quillo::Init");
    return GuardedEntry(entrySite_, vr::VRInitError_Driver_Failed, [&] {
        const vr::EVRInitError contextError = InitServerDriverContext(pDriverContext);
        if (contextError != vr::VRInitError_None) {
            return contextError;
        }
        SetLogTargetIfUnset(DriverLogInterface());
        platform::SetLogSink(&ForwardToDriverLog);
        RetireDevicesOfPreviousRun();

        vr::IVRSettings* settings = Settings();
        vr::EVRSettingsError settingsError = vr::VRSettingsError_None;
        const bool fakeSensorSetting =
            settings->GetBool(kSettingsSection, "fakeSensorEnabled", &settingsError);
        fakeSensorEnabled_ = settingsError != vr::VRSettingsError_None ? true : fakeSensorSetting;

        const bool companionRunning =
            companionCheck_ != nullptr ? companionCheck_() : IsCompanionRunning();
        if (!companionRunning) {
            WriteDriverLog("Pelmont not active\n");
            return vr::VRInitError_Init_HmdNotFound;
        }
        WriteDriverLog("Quillo process is running\n");

        const int32_t mode = settings->GetInt32(kSettingsSection, "hmdMode");
        WriteDriverLog("Preparing HMD, mode %d\n", mode);
        std::unique_ptr<HMDDriver> headset;
        if (IsVirtualDisplayMode(mode)) {
            headset = std::make_unique<HMDDriverVirtual>();
        } else {
            headset = std::make_unique<HMDDriverDirect>();
        }
        HMDDriver* hmd = headset.release();
        hmd_.store(hmd, std::memory_order_release);

        // From here on controller records reach OnControllerUpdated on the reader thread.
        hmd->Core().Pipe().AddControllerListener(this);

        vr::IVRServerDriverHost* host = ServerDriverHost();
        host->TrackedDeviceAdded(kHeadsetSerial, vr::TrackedDeviceClass_HMD, hmd);

        if (fakeSensorEnabled_) {
            fakeSensor_ = new CFakeSensorDriver_Quillo(host);
            const bool added =
                host->TrackedDeviceAdded(fakeSensor_->serialNumber().c_str(),
                                         vr::TrackedDeviceClass_TrackingReference, fakeSensor_);
            WriteDriverLog("Fake sensor registered with result %d\n", added ? 1 : 0);
        }
        return vr::VRInitError_None;
    });
}

void CServerDriver_Quillo::ShutDownHeadset() {
    HMDDriver* hmd = hmd_.load(std::memory_order_acquire);
    if (hmd == nullptr) {
        return;
    }
    hmd_.store(nullptr, std::memory_order_release);
    TransmissionPipe& pipe = hmd->Core().Pipe();
    pipe.Stop();
    // Usually both threads end at once. One that is inside a runtime call (a slow
    // TrackedDeviceAdded for a new controller, say) may take any time, and that call may wait
    // for the runtime's thread that runs Cleanup; so Cleanup waits only so long and leaves
    // the headset (the listener that thread may still call) for that thread to free.
    if (pipe.WaitForThreadsToEnd(kCleanupWaitMs)) {
        delete hmd;  // joins the threads, which have finished
        return;
    }
    // The thread left behind returns into this library's code whenever the runtime lets it,
    // possibly after the runtime has unloaded the library: keep the library mapped.
    platform::KeepThisLibraryLoaded();
    pipe.ReleaseWhenThreadsEnd([hmd] { delete hmd; });
}

void CServerDriver_Quillo::Cleanup() {
    QUILLO_ENTRY_SITE("CServerDriver_Quillo::Cleanup");
    // Cleared first: nothing from here on reaches the log, Cleanup's own work included.
    ClearLogTarget();
    platform::SetLogSink(nullptr);
    GuardedEntry(entrySite_, [&] { ShutDownHeadset(); });
}

const char* const* CServerDriver_Quillo::GetInterfaceVersions() {
    return kInterfaceVersions;
}

void CServerDriver_Quillo::RunFrame() {
    QUILLO_ENTRY_SITE("CServerDriver_Quillo::RunFrame");
    GuardedEntry(entrySite_, [&] {
        if (HMDDriver* hmd = hmd_.load(std::memory_order_acquire)) {
            hmd->UpdatePose();
        }
        CFakeSensorDriver_Quillo* sensor = fakeSensor_;
        if (sensor != nullptr && fakeSensorEnabled_ &&
            sensor->deviceIndex() != vr::k_unTrackedDeviceIndexInvalid &&
            sensor->host() != nullptr) {
            sensor->host()->TrackedDevicePoseUpdated(sensor->deviceIndex(), sensor->pose(),
                                                     sizeof(vr::DriverPose_t));
        }
    });
}

bool CServerDriver_Quillo::ShouldBlockStandbyMode() {
    WriteDriverLog("ShouldBlockStandby Server Tracked device \n");
    return true;
}

void CServerDriver_Quillo::EnterStandby() {
    WriteDriverLog("Enter standby Server tracked device \n");
}

void CServerDriver_Quillo::LeaveStandby() {
    WriteDriverLog("Leave standby Server tracked device \n");
}

void CServerDriver_Quillo::OnControllerUpdated(const ControllerRecord& record) {
    QUILLO_ENTRY_SITE("CServerDriver_Quillo::OnControllerUpdated");
    GuardedEntry(entrySite_, [&] {
        auto found = controllers_.find(record.controllerId);
        if (found != controllers_.end()) {
            found->second->ApplyControllerRecord(record);
            return;
        }
        HMDDriver* hmd = hmd_.load(std::memory_order_acquire);
        if (hmd == nullptr) {
            return;
        }
        if (!controllerAdmission_.Admit(record.controllerId, controllers_.size())) {
            return;
        }
        vr::IVRServerDriverHost* host = ServerDriverHost();
        auto device = std::make_unique<ControllerDevice>(&hmd->Core(), host, record.controllerId);
        ControllerDevice* controller = device.get();
        controllers_.emplace(record.controllerId, device.release());
        // The record that made the device is not applied: the next one for this id is the
        // first the device sees.
        const bool added = host != nullptr &&
                           host->TrackedDeviceAdded(controller->serialNumber().c_str(),
                                                    vr::TrackedDeviceClass_Controller, controller);
        WriteDriverLog("New driver registered (serial %s) with status %d \n",
                       controller->serialNumber().c_str(), added ? 1 : 0);
    });
}

}  // namespace quillo
