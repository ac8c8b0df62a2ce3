// A stand-in for the OpenVR runtime's server process, enough to load and drive a driver the
// way the runtime does: a driver context that hands out the host interfaces by version
// string, one class per host interface, a device table with object ids 0, 1, 2, ... and a
// recording of every call the driver makes, in order, for tests and tools to inspect.
//
// Thread-safe: the driver calls the host from the runtime's thread and from its link's reader
// thread (controllers).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "openvr/openvr_driver.h"
#include "runtime_events.h"

namespace quillo::runtime {

class FakeDriverContext;
class FakeServerDriverHost;
class FakeSettings;
class FakeProperties;
class FakeDriverLog;

enum class ActivationPolicy {
    // Devices wait until ActivatePending is called (the runtime activates asynchronously).
    OnRequest,
    // Activate is called at the end of TrackedDeviceAdded, on the adding thread, before it
    // returns.
    Inline,
};

struct FakeRuntimeOptions {
    // Interface versions GetGenericInterface refuses (null and VRInitError_Init_InterfaceNotFound).
    std::vector<std::string> omittedInterfaces;
    ActivationPolicy activation = ActivationPolicy::OnRequest;
    // False: TrackedDeviceAdded refuses every device (returns false, records the attempt).
    bool acceptDevices = true;
    // False: pose and proximity reports are counted and the latest pose kept, but they are not
    // put into the event list (long runs of the host).
    bool recordPerFrameEvents = true;
    bool recordSettingReads = true;
};

struct DeviceRecord {
    uint32_t id = vr::k_unTrackedDeviceIndexInvalid;
    std::string serial;
    vr::ETrackedDeviceClass deviceClass = vr::TrackedDeviceClass_Invalid;
    vr::ITrackedDeviceServerDriver* driver = nullptr;
    bool activated = false;
    bool activationStarted = false;
    vr::EVRInitError activationResult = vr::VRInitError_None;
    uint64_t poseCount = 0;
    uint64_t proximityCount = 0;
    bool hasPose = false;
    vr::DriverPose_t latestPose{};
};

class FakeRuntime {
  public:
    explicit FakeRuntime(FakeRuntimeOptions options = {});
    ~FakeRuntime();
    FakeRuntime(const FakeRuntime&) = delete;
    FakeRuntime& operator=(const FakeRuntime&) = delete;

    // What the driver's Init receives.
    vr::IVRDriverContext* Context();
    FakeServerDriverHost& Host() { return *host_; }
    FakeSettings& Settings() { return *settings_; }
    FakeProperties& Properties() { return *properties_; }
    FakeDriverLog& Log() { return *log_; }

    // GetGenericInterface's answer: null for omitted or unknown versions.
    void* InterfaceByVersion(const char* version);
    const FakeRuntimeOptions& options() const { return options_; }
    void SetAcceptDevices(bool accept);

    // --- devices ------------------------------------------------------------------------
    // Activates every added device not activated yet, in id order, on the calling thread.
    // Returns how many were activated.
    size_t ActivatePending();
    // Calls Deactivate on the device. False for an unknown id.
    bool DeactivateDevice(uint32_t id);
    std::vector<DeviceRecord> Devices() const;
    std::optional<DeviceRecord> Device(uint32_t id) const;
    std::optional<DeviceRecord> DeviceBySerial(const std::string& serial) const;
    size_t DeviceCount() const;
    // The latest poses of the devices of `deviceClass` that have one, in id order, at most
    // `capacity` of them; returns how many. Copies nothing else, so a frame loop can ask
    // every frame.
    size_t LatestPoses(vr::ETrackedDeviceClass deviceClass, vr::DriverPose_t* out,
                       size_t capacity) const;

    // Distinct non-zero container per object id, and back.
    static vr::PropertyContainerHandle_t ContainerForDevice(uint32_t id);
    static uint32_t DeviceForContainer(vr::PropertyContainerHandle_t container);

    // --- recording ----------------------------------------------------------------------
    std::vector<RuntimeEvent> Events() const;
    std::vector<RuntimeEvent> EventsOfKind(EventKind kind) const;
    size_t CountEvents(const std::function<bool(const RuntimeEvent&)>& match) const;
    std::vector<std::string> LogLines() const;
    void ClearEvents();
    // Waits until an event matching `match` has been recorded (also one recorded before the
    // call). False on time-out.
    bool WaitForEvent(const std::function<bool(const RuntimeEvent&)>& match,
                      std::chrono::milliseconds timeout) const;
    // Called for every event as it is recorded, with the recording lock held: it must not
    // call back into the runtime.
    void SetObserver(std::function<void(const RuntimeEvent&)> observer);

    // --- used by the interface classes -------------------------------------------------
    void Record(RuntimeEvent event);
    bool AddDevice(const char* serial, vr::ETrackedDeviceClass deviceClass,
                   vr::ITrackedDeviceServerDriver* driver);
    void RecordPose(uint32_t id, const vr::DriverPose_t& pose, uint32_t poseSize);
    void RecordProximity(uint32_t id, bool triggered);

  private:
    void RecordLocked(RuntimeEvent& event);
    void ActivateDevice(uint32_t id);

    FakeRuntimeOptions options_;
    std::unique_ptr<FakeDriverContext> context_;
    std::unique_ptr<FakeServerDriverHost> host_;
    std::unique_ptr<FakeSettings> settings_;
    std::unique_ptr<FakeProperties> properties_;
    std::unique_ptr<FakeDriverLog> log_;

    mutable std::mutex mutex_;
    mutable std::condition_variable eventRecorded_;
    std::vector<RuntimeEvent> events_;
    uint64_t nextSequence_ = 0;
    std::vector<DeviceRecord> devices_;  // index = object id
    std::function<void(const RuntimeEvent&)> observer_;
};

}  // namespace quillo::runtime
