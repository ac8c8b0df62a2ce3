// Writes one property of a device through the runtime's IVRProperties: a one-entry
// WritePropertyBatch with write type Set, the value's buffer, its size and its type tag. The
// runtime's result is not examined. Nothing is written when there is no properties interface.
#pragma once

#include <cstring>
#include <string>

#include "openvr/openvr_driver.h"

namespace quillo {

inline void WritePropertyValue(vr::IVRProperties* properties,
                               vr::PropertyContainerHandle_t container,
                               vr::ETrackedDeviceProperty prop, void* buffer, uint32_t size,
                               vr::PropertyTypeTag_t tag) {
    if (properties == nullptr) {
        return;
    }
    vr::PropertyWrite_t write{};
    write.prop = prop;
    write.writeType = vr::PropertyWrite_Set;
    write.eSetError = vr::TrackedProp_Success;
    write.pvBuffer = buffer;
    write.unBufferSize = size;
    write.unTag = tag;
    write.eError = vr::TrackedProp_Success;
    properties->WritePropertyBatch(container, &write, 1);
}

inline void WriteFloatProperty(vr::IVRProperties* properties,
                               vr::PropertyContainerHandle_t container,
                               vr::ETrackedDeviceProperty prop, float value) {
    WritePropertyValue(properties, container, prop, &value, sizeof(value),
                       vr::k_unFloatPropertyTag);
}

inline void WriteInt32Property(vr::IVRProperties* properties,
                               vr::PropertyContainerHandle_t container,
                               vr::ETrackedDeviceProperty prop, int32_t value) {
    WritePropertyValue(properties, container, prop, &value, sizeof(value),
                       vr::k_unInt32PropertyTag);
}

inline void WriteUint64Property(vr::IVRProperties* properties,
                                vr::PropertyContainerHandle_t container,
                                vr::ETrackedDeviceProperty prop, uint64_t value) {
    WritePropertyValue(properties, container, prop, &value, sizeof(value),
                       vr::k_unUint64PropertyTag);
}

inline void WriteBoolProperty(vr::IVRProperties* properties,
                              vr::PropertyContainerHandle_t container,
                              vr::ETrackedDeviceProperty prop, bool value) {
    WritePropertyValue(properties, container, prop, &value, sizeof(value), vr::k_unBoolPropertyTag);
}

// The string is written with its terminating zero (size = length + 1).
inline void WriteStringProperty(vr::IVRProperties* properties,
                                vr::PropertyContainerHandle_t container,
                                vr::ETrackedDeviceProperty prop, const std::string& value) {
    WritePropertyValue(properties, container, prop, const_cast<char*>(value.c_str()),
                       static_cast<uint32_t>(value.size() + 1), vr::k_unStringPropertyTag);
}

}  // namespace quillo
