#include "fake_interfaces.h"
#include "fake_runtime.h"

namespace quillo::runtime {

bool FakeServerDriverHost::TrackedDeviceAdded(const char* pchDeviceSerialNumber,
                                              vr::ETrackedDeviceClass eDeviceClass,
                                              vr::ITrackedDeviceServerDriver* pDriver) {
    return runtime_.AddDevice(pchDeviceSerialNumber, eDeviceClass, pDriver);
}

void FakeServerDriverHost::TrackedDevicePoseUpdated(uint32_t unWhichDevice,
                                                    const vr::DriverPose_t& newPose,
                                                    uint32_t unPoseStructSize) {
    runtime_.RecordPose(unWhichDevice, newPose, unPoseStructSize);
}

void FakeServerDriverHost::VsyncEvent(double vsyncTimeOffsetSeconds) {
    RuntimeEvent event;
    event.kind = EventKind::VsyncEvent;
    event.timeOffset = vsyncTimeOffsetSeconds;
    runtime_.Record(std::move(event));
}

void FakeServerDriverHost::RecordButton(EventKind kind, uint32_t device, vr::EVRButtonId button,
                                        double offset) {
    RuntimeEvent event;
    event.kind = kind;
    event.deviceIndex = device;
    event.button = button;
    event.timeOffset = offset;
    runtime_.Record(std::move(event));
}

void FakeServerDriverHost::TrackedDeviceButtonPressed(uint32_t unWhichDevice,
                                                      vr::EVRButtonId eButtonId,
                                                      double eventTimeOffset) {
    RecordButton(EventKind::ButtonPressed, unWhichDevice, eButtonId, eventTimeOffset);
}

void FakeServerDriverHost::TrackedDeviceButtonUnpressed(uint32_t unWhichDevice,
                                                        vr::EVRButtonId eButtonId,
                                                        double eventTimeOffset) {
    RecordButton(EventKind::ButtonUnpressed, unWhichDevice, eButtonId, eventTimeOffset);
}

void FakeServerDriverHost::TrackedDeviceButtonTouched(uint32_t unWhichDevice,
                                                      vr::EVRButtonId eButtonId,
                                                      double eventTimeOffset) {
    RecordButton(EventKind::ButtonTouched, unWhichDevice, eButtonId, eventTimeOffset);
}

void FakeServerDriverHost::TrackedDeviceButtonUntouched(uint32_t unWhichDevice,
                                                        vr::EVRButtonId eButtonId,
                                                        double eventTimeOffset) {
    RecordButton(EventKind::ButtonUntouched, unWhichDevice, eButtonId, eventTimeOffset);
}

void FakeServerDriverHost::TrackedDeviceAxisUpdated(uint32_t unWhichDevice, uint32_t unWhichAxis,
                                                    const vr::VRControllerAxis_t& axisState) {
    RuntimeEvent event;
    event.kind = EventKind::AxisUpdated;
    event.deviceIndex = unWhichDevice;
    event.axisIndex = unWhichAxis;
    event.axis = axisState;
    runtime_.Record(std::move(event));
}

void FakeServerDriverHost::ProximitySensorState(uint32_t unWhichDevice,
                                                bool bProximitySensorTriggered) {
    runtime_.RecordProximity(unWhichDevice, bProximitySensorTriggered);
}

void FakeServerDriverHost::VendorSpecificEvent(uint32_t unWhichDevice, vr::EVREventType eventType,
                                               const vr::VREvent_Data_t&, double eventTimeOffset) {
    RuntimeEvent event;
    event.kind = EventKind::VendorEvent;
    event.deviceIndex = unWhichDevice;
    event.vendorEventType = static_cast<int32_t>(eventType);
    event.timeOffset = eventTimeOffset;
    runtime_.Record(std::move(event));
}

void FakeServerDriverHost::GetRawTrackedDevicePoses(float, vr::TrackedDevicePose_t* poses,
                                                    uint32_t count) {
    // The driver never asks; answer "nothing tracked" rather than leave the array undefined.
    for (uint32_t i = 0; poses != nullptr && i < count; ++i) {
        poses[i] = vr::TrackedDevicePose_t{};
        poses[i].eTrackingResult = vr::TrackingResult_Uninitialized;
    }
}

void FakeServerDriverHost::TrackedDeviceDisplayTransformUpdated(uint32_t unWhichDevice,
                                                                vr::HmdMatrix34_t,
                                                                vr::HmdMatrix34_t) {
    RuntimeEvent event;
    event.kind = EventKind::DisplayTransform;
    event.deviceIndex = unWhichDevice;
    runtime_.Record(std::move(event));
}

}  // namespace quillo::runtime
