#include "runtime_events.h"

#include <cstdio>
#include <cstring>

namespace quillo::runtime {

PropertyValue DecodePropertyWrite(const vr::PropertyWrite_t& write) {
    PropertyValue value;
    value.tag = write.unTag;
    value.writeType = write.writeType;
    if (write.pvBuffer != nullptr && write.unBufferSize > 0) {
        const uint8_t* data = static_cast<const uint8_t*>(write.pvBuffer);
        value.bytes.assign(data, data + write.unBufferSize);
    }
    const size_t size = value.bytes.size();
    switch (write.unTag) {
        case vr::k_unFloatPropertyTag:
            value.wellFormed = size == sizeof(float);
            if (value.wellFormed) std::memcpy(&value.floatValue, value.bytes.data(), sizeof(float));
            break;
        case vr::k_unInt32PropertyTag:
            value.wellFormed = size == sizeof(int32_t);
            if (value.wellFormed)
                std::memcpy(&value.int32Value, value.bytes.data(), sizeof(int32_t));
            break;
        case vr::k_unUint64PropertyTag:
            value.wellFormed = size == sizeof(uint64_t);
            if (value.wellFormed) {
                std::memcpy(&value.uint64Value, value.bytes.data(), sizeof(uint64_t));
            }
            break;
        case vr::k_unBoolPropertyTag:
            value.wellFormed = size == sizeof(bool);
            if (value.wellFormed) value.boolValue = value.bytes[0] != 0;
            break;
        case vr::k_unStringPropertyTag:
            value.wellFormed = size >= 1 && value.bytes[size - 1] == 0 &&
                               std::memchr(value.bytes.data(), 0, size) == &value.bytes[size - 1];
            if (size > 0) {
                const char* text = reinterpret_cast<const char*>(value.bytes.data());
                const void* end = std::memchr(text, 0, size);
                value.stringValue.assign(
                    text, end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text)
                                         : size);
            }
            break;
        default:
            value.wellFormed = false;
            break;
    }
    return value;
}

std::string PropertyValue::Describe() const {
    char buffer[128];
    if (!wellFormed) {
        std::snprintf(buffer, sizeof(buffer), "tag %u, %zu bytes (malformed)",
                      static_cast<unsigned>(tag), bytes.size());
        return buffer;
    }
    switch (tag) {
        case vr::k_unFloatPropertyTag:
            std::snprintf(buffer, sizeof(buffer), "float %g", static_cast<double>(floatValue));
            return buffer;
        case vr::k_unInt32PropertyTag:
            std::snprintf(buffer, sizeof(buffer), "int32 %d", int32Value);
            return buffer;
        case vr::k_unUint64PropertyTag:
            std::snprintf(buffer, sizeof(buffer), "uint64 %llu",
                          static_cast<unsigned long long>(uint64Value));
            return buffer;
        case vr::k_unBoolPropertyTag:
            return boolValue ? "bool true" : "bool false";
        case vr::k_unStringPropertyTag:
            return "string \"" + stringValue + "\"";
        default:
            return "?";
    }
}

const char* EventKindName(EventKind kind) {
    switch (kind) {
        case EventKind::DeviceAdded:
            return "DeviceAdded";
        case EventKind::DeviceActivated:
            return "DeviceActivated";
        case EventKind::DeviceDeactivated:
            return "DeviceDeactivated";
        case EventKind::PoseUpdated:
            return "PoseUpdated";
        case EventKind::Proximity:
            return "Proximity";
        case EventKind::ButtonPressed:
            return "ButtonPressed";
        case EventKind::ButtonUnpressed:
            return "ButtonUnpressed";
        case EventKind::ButtonTouched:
            return "ButtonTouched";
        case EventKind::ButtonUntouched:
            return "ButtonUntouched";
        case EventKind::AxisUpdated:
            return "AxisUpdated";
        case EventKind::VsyncEvent:
            return "VsyncEvent";
        case EventKind::VendorEvent:
            return "VendorEvent";
        case EventKind::DisplayTransform:
            return "DisplayTransform";
        case EventKind::PropertyWrite:
            return "PropertyWrite";
        case EventKind::SettingRead:
            return "SettingRead";
        case EventKind::SettingWritten:
            return "SettingWritten";
        case EventKind::LogLine:
            return "LogLine";
    }
    return "?";
}

std::string RuntimeEvent::Describe() const {
    char buffer[512];
    switch (kind) {
        case EventKind::DeviceAdded:
            std::snprintf(buffer, sizeof(buffer), "device added: serial \"%s\", class %d, id %d%s",
                          serial.c_str(), static_cast<int>(deviceClass),
                          static_cast<int>(deviceIndex), accepted ? "" : " (refused)");
            return buffer;
        case EventKind::DeviceActivated:
            std::snprintf(buffer, sizeof(buffer), "device %u activated (\"%s\"), result %d",
                          deviceIndex, serial.c_str(), static_cast<int>(initError));
            return buffer;
        case EventKind::DeviceDeactivated:
            std::snprintf(buffer, sizeof(buffer), "device %u deactivated (\"%s\")", deviceIndex,
                          serial.c_str());
            return buffer;
        case EventKind::PoseUpdated:
            std::snprintf(buffer, sizeof(buffer),
                          "pose %u: position (%.4f, %.4f, %.4f) rotation w %.4f x %.4f y %.4f z "
                          "%.4f result %d valid %d connected %d",
                          deviceIndex, pose.vecPosition[0], pose.vecPosition[1],
                          pose.vecPosition[2], pose.qRotation.w, pose.qRotation.x, pose.qRotation.y,
                          pose.qRotation.z, static_cast<int>(pose.result), pose.poseIsValid ? 1 : 0,
                          pose.deviceIsConnected ? 1 : 0);
            return buffer;
        case EventKind::Proximity:
            std::snprintf(buffer, sizeof(buffer), "proximity %d: %s", static_cast<int>(deviceIndex),
                          flag ? "worn" : "not worn");
            return buffer;
        case EventKind::ButtonPressed:
        case EventKind::ButtonUnpressed:
        case EventKind::ButtonTouched:
        case EventKind::ButtonUntouched:
            std::snprintf(buffer, sizeof(buffer), "%s: device %u button %d offset %g",
                          EventKindName(kind), deviceIndex, static_cast<int>(button), timeOffset);
            return buffer;
        case EventKind::AxisUpdated:
            std::snprintf(buffer, sizeof(buffer), "axis: device %u axis %u (%.4f, %.4f)",
                          deviceIndex, axisIndex, static_cast<double>(axis.x),
                          static_cast<double>(axis.y));
            return buffer;
        case EventKind::VsyncEvent:
            std::snprintf(buffer, sizeof(buffer), "vsync offset %g", timeOffset);
            return buffer;
        case EventKind::VendorEvent:
            std::snprintf(buffer, sizeof(buffer), "vendor event: device %u type %d", deviceIndex,
                          vendorEventType);
            return buffer;
        case EventKind::DisplayTransform:
            std::snprintf(buffer, sizeof(buffer), "display transform: device %u", deviceIndex);
            return buffer;
        case EventKind::PropertyWrite:
            std::snprintf(buffer, sizeof(buffer), "property: device %d (container %llu) prop %d = ",
                          static_cast<int>(deviceIndex), static_cast<unsigned long long>(container),
                          static_cast<int>(property));
            return buffer + value.Describe();
        case EventKind::SettingRead:
            std::snprintf(buffer, sizeof(buffer), "setting read: %s/%s (error %d)", section.c_str(),
                          key.c_str(), static_cast<int>(settingsError));
            return buffer;
        case EventKind::SettingWritten:
            std::snprintf(buffer, sizeof(buffer), "setting written: %s/%s", section.c_str(),
                          key.c_str());
            return buffer;
        case EventKind::LogLine: {
            std::string line = "log: " + text;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            return line;
        }
    }
    return "?";
}

}  // namespace quillo::runtime
