#include "fake_runtime.h"

#include <algorithm>
#include <cstring>

#include "fake_interfaces.h"

namespace quillo::runtime {

namespace {

// Non-zero and far from small integers, so a container mixed up with an object id shows.
constexpr vr::PropertyContainerHandle_t kContainerBase = 0x1000;

}  // namespace

FakeRuntime::FakeRuntime(FakeRuntimeOptions options)
    : options_(std::move(options)),
      context_(std::make_unique<FakeDriverContext>(*this)),
      host_(std::make_unique<FakeServerDriverHost>(*this)),
      settings_(std::make_unique<FakeSettings>(*this)),
      properties_(std::make_unique<FakeProperties>(*this)),
      log_(std::make_unique<FakeDriverLog>(*this)) {}

FakeRuntime::~FakeRuntime() = default;

vr::IVRDriverContext* FakeRuntime::Context() {
    return context_.get();
}

void* FakeRuntime::InterfaceByVersion(const char* version) {
    if (version == nullptr) {
        return nullptr;
    }
    for (const std::string& omitted : options_.omittedInterfaces) {
        if (omitted == version) {
            return nullptr;
        }
    }
    if (std::strcmp(version, vr::IVRServerDriverHost_Version) == 0) {
        return static_cast<vr::IVRServerDriverHost*>(host_.get());
    }
    if (std::strcmp(version, vr::IVRSettings_Version) == 0) {
        return static_cast<vr::IVRSettings*>(settings_.get());
    }
    if (std::strcmp(version, vr::IVRProperties_Version) == 0) {
        return static_cast<vr::IVRProperties*>(properties_.get());
    }
    if (std::strcmp(version, vr::IVRDriverLog_Version) == 0) {
        return static_cast<vr::IVRDriverLog*>(log_.get());
    }
    return nullptr;
}

void FakeRuntime::SetAcceptDevices(bool accept) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_.acceptDevices = accept;
}

vr::PropertyContainerHandle_t FakeRuntime::ContainerForDevice(uint32_t id) {
    return kContainerBase + id;
}

uint32_t FakeRuntime::DeviceForContainer(vr::PropertyContainerHandle_t container) {
    if (container < kContainerBase || container >= kContainerBase + vr::k_unMaxTrackedDeviceCount) {
        return vr::k_unTrackedDeviceIndexInvalid;
    }
    return static_cast<uint32_t>(container - kContainerBase);
}

void FakeRuntime::RecordLocked(RuntimeEvent& event) {
    event.sequence = nextSequence_++;
    if (observer_) {
        observer_(event);
    }
    events_.push_back(std::move(event));
    eventRecorded_.notify_all();
}

void FakeRuntime::Record(RuntimeEvent event) {
    std::lock_guard<std::mutex> lock(mutex_);
    RecordLocked(event);
}

bool FakeRuntime::AddDevice(const char* serial, vr::ETrackedDeviceClass deviceClass,
                            vr::ITrackedDeviceServerDriver* driver) {
    uint32_t id = vr::k_unTrackedDeviceIndexInvalid;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        RuntimeEvent event;
        event.kind = EventKind::DeviceAdded;
        event.serial = serial != nullptr ? serial : "";
        event.deviceClass = deviceClass;
        // Refused like the runtime refuses: no driver, no serial, a serial already known, or
        // no object id left.
        bool accept = options_.acceptDevices && driver != nullptr && serial != nullptr &&
                      serial[0] != '\0' && devices_.size() < vr::k_unMaxTrackedDeviceCount;
        for (const DeviceRecord& device : devices_) {
            if (accept && device.serial == serial) {
                accept = false;
            }
        }
        if (accept) {
            DeviceRecord device;
            device.id = static_cast<uint32_t>(devices_.size());
            device.serial = serial;
            device.deviceClass = deviceClass;
            device.driver = driver;
            devices_.push_back(device);
            id = device.id;
        }
        event.deviceIndex = id;
        event.accepted = accept;
        RecordLocked(event);
        if (!accept) {
            return false;
        }
    }
    if (options_.activation == ActivationPolicy::Inline) {
        ActivateDevice(id);
    }
    return true;
}

void FakeRuntime::ActivateDevice(uint32_t id) {
    vr::ITrackedDeviceServerDriver* driver = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (id >= devices_.size() || devices_[id].activationStarted) {
            return;
        }
        devices_[id].activationStarted = true;
        driver = devices_[id].driver;
    }
    // Not under the lock: Activate calls back into the host, properties and log.
    const vr::EVRInitError result = driver->Activate(id);
    std::lock_guard<std::mutex> lock(mutex_);
    DeviceRecord& device = devices_[id];
    device.activated = true;
    device.activationResult = result;
    RuntimeEvent event;
    event.kind = EventKind::DeviceActivated;
    event.deviceIndex = id;
    event.serial = device.serial;
    event.deviceClass = device.deviceClass;
    event.initError = result;
    RecordLocked(event);
}

size_t FakeRuntime::ActivatePending() {
    std::vector<uint32_t> pending;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const DeviceRecord& device : devices_) {
            if (!device.activationStarted) {
                pending.push_back(device.id);
            }
        }
    }
    for (uint32_t id : pending) {
        ActivateDevice(id);
    }
    return pending.size();
}

bool FakeRuntime::DeactivateDevice(uint32_t id) {
    vr::ITrackedDeviceServerDriver* driver = nullptr;
    std::string serial;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (id >= devices_.size()) {
            return false;
        }
        driver = devices_[id].driver;
        serial = devices_[id].serial;
    }
    driver->Deactivate();
    std::lock_guard<std::mutex> lock(mutex_);
    devices_[id].activated = false;
    // A later ActivatePending activates it again, as the runtime would.
    devices_[id].activationStarted = false;
    RuntimeEvent event;
    event.kind = EventKind::DeviceDeactivated;
    event.deviceIndex = id;
    event.serial = serial;
    RecordLocked(event);
    return true;
}

size_t FakeRuntime::LatestPoses(vr::ETrackedDeviceClass deviceClass, vr::DriverPose_t* out,
                                size_t capacity) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (const DeviceRecord& device : devices_) {
        if (count == capacity) break;
        if (device.deviceClass == deviceClass && device.hasPose) out[count++] = device.latestPose;
    }
    return count;
}

void FakeRuntime::RecordPose(uint32_t id, const vr::DriverPose_t& pose, uint32_t poseSize) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (id < devices_.size()) {
        devices_[id].latestPose = pose;
        devices_[id].hasPose = true;
        ++devices_[id].poseCount;
    }
    if (options_.recordPerFrameEvents) {
        RuntimeEvent event;
        event.kind = EventKind::PoseUpdated;
        event.deviceIndex = id;
        event.pose = pose;
        event.poseSize = poseSize;
        RecordLocked(event);
    }
}

void FakeRuntime::RecordProximity(uint32_t id, bool triggered) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (id < devices_.size()) {
        ++devices_[id].proximityCount;
    }
    if (options_.recordPerFrameEvents) {
        RuntimeEvent event;
        event.kind = EventKind::Proximity;
        event.deviceIndex = id;
        event.flag = triggered;
        RecordLocked(event);
    }
}

std::vector<DeviceRecord> FakeRuntime::Devices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_;
}

std::optional<DeviceRecord> FakeRuntime::Device(uint32_t id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (id >= devices_.size()) {
        return std::nullopt;
    }
    return devices_[id];
}

std::optional<DeviceRecord> FakeRuntime::DeviceBySerial(const std::string& serial) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const DeviceRecord& device : devices_) {
        if (device.serial == serial) {
            return device;
        }
    }
    return std::nullopt;
}

size_t FakeRuntime::DeviceCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return devices_.size();
}

std::vector<RuntimeEvent> FakeRuntime::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<RuntimeEvent> FakeRuntime::EventsOfKind(EventKind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<RuntimeEvent> result;
    for (const RuntimeEvent& event : events_) {
        if (event.kind == kind) {
            result.push_back(event);
        }
    }
    return result;
}

size_t FakeRuntime::CountEvents(const std::function<bool(const RuntimeEvent&)>& match) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count_if(events_.begin(), events_.end(), match));
}

std::vector<std::string> FakeRuntime::LogLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    for (const RuntimeEvent& event : events_) {
        if (event.kind == EventKind::LogLine) {
            lines.push_back(event.text);
        }
    }
    return lines;
}

void FakeRuntime::ClearEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

bool FakeRuntime::WaitForEvent(const std::function<bool(const RuntimeEvent&)>& match,
                               std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    size_t scanned = 0;
    return eventRecorded_.wait_for(lock, timeout, [&] {
        for (; scanned < events_.size(); ++scanned) {
            if (match(events_[scanned])) {
                return true;
            }
        }
        return false;
    });
}

void FakeRuntime::SetObserver(std::function<void(const RuntimeEvent&)> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
}

}  // namespace quillo::runtime
