#include "devices/extra/controller_device.h"

#include <cmath>
#include <cstdio>

#include "devices/component_name.h"
#include "devices/driver_log.h"
#include "devices/entry_guard.h"
#include "devices/host_interfaces.h"
#include "devices/property_write.h"
#include "devices/tracking_status.h"
#include "link/haptic_channel.h"
#include "link/quillo_core.h"
#include "link/tracking_math.h"

namespace quillo {

namespace {

constexpr uint64_t kSupportedButtons = 0x700000007ull;  // System, Menu, Grip, Axis0..2
constexpr uint32_t kEventAxisCount = 3;                 // axes 3 and 4 raise no event

vr::DriverPose_t InitialPose() {
    vr::DriverPose_t pose{};
    pose.qRotation.w = 1.0;
    return pose;
}

vr::VRControllerState_t ToRuntimeState(const ControllerInputState& input) {
    vr::VRControllerState_t state{};
    state.unPacketNum = input.packetNum;
    state.ulButtonPressed = input.buttonPressed;
    state.ulButtonTouched = input.buttonTouched;
    for (uint32_t axis = 0; axis < vr::k_unControllerStateAxisCount; ++axis) {
        state.rAxis[axis].x = input.axis[axis][0];
        state.rAxis[axis].y = input.axis[axis][1];
    }
    return state;
}

// One host call per set bit, lowest bit first.
template <typename Send>
void ForEachBit(uint64_t bits, Send send) {
    for (uint32_t bit = 0; bit < 64; ++bit) {
        if (bits & (uint64_t{1} << bit)) send(static_cast<vr::EVRButtonId>(bit));
    }
}

// The record's matrix and the pose made from it: a NaN in the rotation would be hidden by the
// conversion's clamps, and a finite but huge diagonal overflows inside it.
bool PoseIsFinite(const ControllerRecord& record, const vr::DriverPose_t& pose) {
    for (const auto& row : record.pose) {
        for (float value : row) {
            if (!std::isfinite(value)) return false;
        }
    }
    const vr::HmdQuaternion_t& q = pose.qRotation;
    return std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
}

}  // namespace

std::string ControllerSerialNumber(uint32_t controllerId) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", static_cast<int32_t>(controllerId));
    return std::string("QuilloControllerV02ID") + digits;
}

vr::DriverPose_t ControllerPoseFromRecord(const ControllerRecord& record) {
    vr::DriverPose_t pose{};
    pose.poseTimeOffset = 0.0;
    pose.qWorldFromDriverRotation = {1.0, 0.0, 0.0, 0.0};
    pose.qDriverFromHeadRotation = {1.0, 0.0, 0.0, 0.0};
    pose.willDriftInYaw = true;
    ApplyTrackingStatus(record.status, pose);
    const Quaternion q = MatrixToQuaternionCopysign(&record.pose[0][0]);
    pose.qRotation.w = q.w;
    pose.qRotation.x = q.x;
    pose.qRotation.y = q.y;
    pose.qRotation.z = q.z;
    pose.vecPosition[0] = record.pose[0][3];
    pose.vecPosition[1] = record.pose[1][3];
    pose.vecPosition[2] = record.pose[2][3];
    return pose;
}

ControllerDevice::ControllerDevice(QuilloCore* link, vr::IVRServerDriverHost* host,
                                   uint32_t controllerId)
    : pose_(InitialPose()),
      state_{},
      host_(host),
      controllerId_(controllerId),
      modelNumber_("QuilloController"),
      haptics_(link != nullptr ? link->Haptics() : nullptr),
      serialNumber_(ControllerSerialNumber(controllerId)),
      publishedPose_(pose_),
      publishedState_(state_) {}

vr::EVRInitError ControllerDevice::Activate(uint32_t unObjectId) {
    QUILLO_ENTRY_SITE("ControllerDevice::Activate");
    return GuardedEntry(entrySite_, vr::VRInitError_None, [&] {
        WriteDriverLog("Controller: %s activated with id: %d\n", serialNumber_.c_str(),
                       static_cast<int>(unObjectId));
        vr::IVRProperties* properties = Properties();
        propertyContainer_ = properties != nullptr
                                 ? properties->TrackedDeviceToPropertyContainer(unObjectId)
                                 : vr::k_ulInvalidPropertyContainer;
        const vr::PropertyContainerHandle_t c = propertyContainer_;
        WriteInt32Property(properties, c, vr::Prop_DeviceClass_Int32,
                           vr::TrackedDeviceClass_Controller);
        WriteInt32Property(properties, c, vr::Prop_Axis0Type_Int32, vr::k_eControllerAxis_TrackPad);
        WriteInt32Property(properties, c, vr::Prop_Axis1Type_Int32, vr::k_eControllerAxis_Trigger);
        WriteInt32Property(properties, c, vr::Prop_Axis2Type_Int32, vr::k_eControllerAxis_Joystick);
        WriteUint64Property(properties, c, vr::Prop_SupportedButtons_Uint64, kSupportedButtons);
        WriteUint64Property(properties, c, vr::Prop_CurrentUniverseId_Uint64, 2);
        WriteStringProperty(properties, c, vr::Prop_ModelNumber_String, modelNumber_);
        WriteStringProperty(properties, c, vr::Prop_SerialNumber_String, serialNumber_);
        WriteStringProperty(properties, c, vr::Prop_RenderModelName_String,
                            "vr_controller_vive_1_5");
        // Only now: records are applied once every property is written.
        deviceIndex_.store(unObjectId, std::memory_order_release);
        return vr::VRInitError_None;
    });
}

// Records go on being applied after Deactivate: the device index is kept.
void ControllerDevice::Deactivate() {}

void ControllerDevice::EnterStandby() {}

void* ControllerDevice::GetComponent(const char* pchComponentNameAndVersion) {
    if (SameComponentName(pchComponentNameAndVersion, vr::ITrackedDeviceServerDriver_Version)) {
        return static_cast<vr::ITrackedDeviceServerDriver*>(this);
    }
    if (SameComponentName(pchComponentNameAndVersion, vr::IVRControllerComponent_Version)) {
        return static_cast<vr::IVRControllerComponent*>(this);
    }
    return nullptr;
}

void ControllerDevice::DebugRequest(const char*, char*, uint32_t) {}

#if QUILLO_MSVC_AGGREGATE_RETURN
vr::DriverPose_t* ControllerDevice::GetPose(vr::DriverPose_t* pResult) {
    *pResult = publishedPose_.Load();
    return pResult;
}

vr::VRControllerState_t* ControllerDevice::GetControllerState(vr::VRControllerState_t* pResult) {
    *pResult = publishedState_.Load();
    return pResult;
}
#else
vr::DriverPose_t ControllerDevice::GetPose() {
    return publishedPose_.Load();
}

vr::VRControllerState_t ControllerDevice::GetControllerState() {
    return publishedState_.Load();
}
#endif

bool ControllerDevice::TriggerHapticPulse(uint32_t /*unAxisId*/,
                                          uint16_t usPulseDurationMicroseconds) {
    QUILLO_ENTRY_SITE("ControllerDevice::TriggerHapticPulse");
    GuardedEntry(entrySite_, [&] {
        if (haptics_) haptics_->SendHapticPulse(controllerId_, usPulseDurationMicroseconds);
    });
    return true;  // whether or not anything could be sent
}

void ControllerDevice::ApplyControllerRecord(ControllerRecord record) {
    const uint32_t index = deviceIndex_.load(std::memory_order_acquire);
    if (index == vr::k_unTrackedDeviceIndexInvalid) return;  // not activated: dropped

    // A record whose pose is not finite is dropped whole, input included: the runtime keeps the
    // last good pose and state. A run of drops is logged when it starts and when it ends.
    const vr::DriverPose_t pose = ControllerPoseFromRecord(record);
    if (!PoseIsFinite(record, pose)) {
        if (droppedRecords_++ == 0) {
            WriteDriverLog(
                "Controller: %s record dropped: its pose is not finite; further ones are "
                "dropped silently until one is accepted\n",
                serialNumber_.c_str());
        }
        return;
    }
    if (droppedRecords_ != 0) {
        WriteDriverLog("Controller: %s records accepted again after %u dropped\n",
                       serialNumber_.c_str(), droppedRecords_);
        droppedRecords_ = 0;
    }

    pose_ = pose;
    publishedPose_.Publish(pose_);
    if (host_ != nullptr) host_->TrackedDevicePoseUpdated(index, pose_, sizeof(vr::DriverPose_t));

    if (host_ != nullptr) {
        SendButtonEvents(index, record.input);
        SendAxisEvents(index, record.input);
    }
    state_ = ToRuntimeState(record.input);
    publishedState_.Publish(state_);
}

void ControllerDevice::SendButtonEvents(uint32_t index, const ControllerInputState& input) {
    const uint64_t newPressed = input.buttonPressed;
    const uint64_t newTouched = input.buttonTouched;
    const uint64_t changedPressed = state_.ulButtonPressed ^ newPressed;
    const uint64_t changedTouched = state_.ulButtonTouched ^ newTouched;
    // Touch before press, release before untouch: a finger lands, presses, lets go, lifts.
    ForEachBit(newTouched & changedTouched,
               [&](vr::EVRButtonId b) { host_->TrackedDeviceButtonTouched(index, b, 0.0); });
    ForEachBit(newPressed & changedPressed,
               [&](vr::EVRButtonId b) { host_->TrackedDeviceButtonPressed(index, b, 0.0); });
    ForEachBit(~newPressed & changedPressed,
               [&](vr::EVRButtonId b) { host_->TrackedDeviceButtonUnpressed(index, b, 0.0); });
    ForEachBit(~newTouched & changedTouched,
               [&](vr::EVRButtonId b) { host_->TrackedDeviceButtonUntouched(index, b, 0.0); });
}

void ControllerDevice::SendAxisEvents(uint32_t index, const ControllerInputState& input) {
    for (uint32_t axis = 0; axis < kEventAxisCount; ++axis) {
        const float x = input.axis[axis][0];
        const float y = input.axis[axis][1];
        // Written as "not equal" so that a NaN on either side counts as a change.
        const bool changed = !(x == state_.rAxis[axis].x) || !(y == state_.rAxis[axis].y);
        if (changed) {
            const vr::VRControllerAxis_t value{x, y};
            host_->TrackedDeviceAxisUpdated(index, axis, value);
        }
    }
}

}  // namespace quillo
