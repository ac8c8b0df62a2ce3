// What the fake runtime records: every call the driver makes into it, in the order made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "openvr/openvr_driver.h"

namespace quillo::runtime {

// A property value as written by the driver, decoded by its type tag.
struct PropertyValue {
    vr::PropertyTypeTag_t tag = vr::k_unInvalidPropertyTag;
    vr::EPropertyWriteType writeType = vr::PropertyWrite_Set;
    std::vector<uint8_t> bytes;  // the buffer as given, unBufferSize bytes
    // False when the size does not fit the tag (a float of 3 bytes, a string without its
    // terminating zero): then only `bytes` says what was written.
    bool wellFormed = false;
    float floatValue = 0.0f;
    int32_t int32Value = 0;
    uint64_t uint64Value = 0;
    bool boolValue = false;
    std::string stringValue;  // without the terminating zero

    // "float 0.065", "string \"Quillo\"", ... for printing.
    std::string Describe() const;
};

// Decodes a PropertyWrite_t's buffer by its tag.
PropertyValue DecodePropertyWrite(const vr::PropertyWrite_t& write);

enum class EventKind {
    DeviceAdded,        // serial, deviceClass, deviceIndex (assigned id), accepted
    DeviceActivated,    // deviceIndex, serial, initError (the driver's Activate result)
    DeviceDeactivated,  // deviceIndex, serial
    PoseUpdated,        // deviceIndex, pose, poseSize
    Proximity,          // deviceIndex, flag (triggered)
    ButtonPressed,      // deviceIndex, button, timeOffset
    ButtonUnpressed,
    ButtonTouched,
    ButtonUntouched,
    AxisUpdated,       // deviceIndex, axisIndex, axis
    VsyncEvent,        // timeOffset
    VendorEvent,       // deviceIndex, vendorEventType, timeOffset
    DisplayTransform,  // deviceIndex
    PropertyWrite,     // container, deviceIndex (or invalid), property, value
    SettingRead,       // section, key, settingsError
    SettingWritten,    // section, key
    LogLine,           // text
};

const char* EventKindName(EventKind kind);

struct RuntimeEvent {
    EventKind kind = EventKind::LogLine;
    uint64_t sequence = 0;  // 0, 1, 2, ... in recording order
    uint32_t deviceIndex = vr::k_unTrackedDeviceIndexInvalid;
    std::string serial;
    vr::ETrackedDeviceClass deviceClass = vr::TrackedDeviceClass_Invalid;
    bool accepted = false;
    vr::EVRInitError initError = vr::VRInitError_None;
    vr::DriverPose_t pose{};
    uint32_t poseSize = 0;
    bool flag = false;
    vr::EVRButtonId button = vr::k_EButton_System;
    double timeOffset = 0.0;
    uint32_t axisIndex = 0;
    vr::VRControllerAxis_t axis{};
    int32_t vendorEventType = 0;
    vr::PropertyContainerHandle_t container = vr::k_ulInvalidPropertyContainer;
    vr::ETrackedDeviceProperty property = vr::Prop_Invalid;
    PropertyValue value;
    std::string section;
    std::string key;
    vr::EVRSettingsError settingsError = vr::VRSettingsError_None;
    std::string text;

    // One line for printing, without the line end.
    std::string Describe() const;
};

}  // namespace quillo::runtime
