#include <cstring>

#include "fake_interfaces.h"
#include "fake_runtime.h"

namespace quillo::runtime {

std::optional<PropertyValue> FakeProperties::Value(vr::PropertyContainerHandle_t container,
                                                   vr::ETrackedDeviceProperty prop) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = containers_.find(container);
    if (found == containers_.end()) {
        return std::nullopt;
    }
    auto value = found->second.find(static_cast<int32_t>(prop));
    if (value == found->second.end()) {
        return std::nullopt;
    }
    return value->second;
}

vr::ETrackedPropertyError FakeProperties::ReadPropertyBatch(
    vr::PropertyContainerHandle_t ulContainerHandle, vr::PropertyRead_t* pBatch,
    uint32_t unBatchEntryCount) {
    if (pBatch == nullptr && unBatchEntryCount > 0) {
        return vr::TrackedProp_InvalidOperation;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto container = containers_.find(ulContainerHandle);
    for (uint32_t i = 0; i < unBatchEntryCount; ++i) {
        vr::PropertyRead_t& read = pBatch[i];
        read.unTag = vr::k_unInvalidPropertyTag;
        read.unRequiredBufferSize = 0;
        if (container == containers_.end()) {
            read.eError = vr::TrackedProp_InvalidDevice;
            continue;
        }
        auto value = container->second.find(static_cast<int32_t>(read.prop));
        if (value == container->second.end()) {
            read.eError = vr::TrackedProp_UnknownProperty;
            continue;
        }
        const std::vector<uint8_t>& bytes = value->second.bytes;
        read.unTag = value->second.tag;
        read.unRequiredBufferSize = static_cast<uint32_t>(bytes.size());
        if (read.pvBuffer == nullptr || read.unBufferSize < bytes.size()) {
            read.eError = vr::TrackedProp_BufferTooSmall;
            continue;
        }
        if (!bytes.empty()) {
            std::memcpy(read.pvBuffer, bytes.data(), bytes.size());
        }
        read.eError = vr::TrackedProp_Success;
    }
    return vr::TrackedProp_Success;
}

vr::ETrackedPropertyError FakeProperties::WritePropertyBatch(
    vr::PropertyContainerHandle_t ulContainerHandle, vr::PropertyWrite_t* pBatch,
    uint32_t unBatchEntryCount) {
    if (pBatch == nullptr && unBatchEntryCount > 0) {
        return vr::TrackedProp_InvalidOperation;
    }
    const uint32_t device = FakeRuntime::DeviceForContainer(ulContainerHandle);
    for (uint32_t i = 0; i < unBatchEntryCount; ++i) {
        vr::PropertyWrite_t& write = pBatch[i];
        PropertyValue value = DecodePropertyWrite(write);
        write.eError = vr::TrackedProp_Success;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto& properties = containers_[ulContainerHandle];
            if (write.writeType == vr::PropertyWrite_Set) {
                properties[static_cast<int32_t>(write.prop)] = value;
            } else {
                properties.erase(static_cast<int32_t>(write.prop));
            }
        }
        RuntimeEvent event;
        event.kind = EventKind::PropertyWrite;
        event.container = ulContainerHandle;
        event.deviceIndex = device;
        event.property = write.prop;
        event.value = std::move(value);
        runtime_.Record(std::move(event));
    }
    return vr::TrackedProp_Success;
}

const char* FakeProperties::GetPropErrorNameFromEnum(vr::ETrackedPropertyError error) {
    switch (error) {
        case vr::TrackedProp_Success:
            return "TrackedProp_Success";
        case vr::TrackedProp_WrongDataType:
            return "TrackedProp_WrongDataType";
        case vr::TrackedProp_WrongDeviceClass:
            return "TrackedProp_WrongDeviceClass";
        case vr::TrackedProp_BufferTooSmall:
            return "TrackedProp_BufferTooSmall";
        case vr::TrackedProp_UnknownProperty:
            return "TrackedProp_UnknownProperty";
        case vr::TrackedProp_InvalidDevice:
            return "TrackedProp_InvalidDevice";
        case vr::TrackedProp_CouldNotContactServer:
            return "TrackedProp_CouldNotContactServer";
        case vr::TrackedProp_ValueNotProvidedByDevice:
            return "TrackedProp_ValueNotProvidedByDevice";
        case vr::TrackedProp_StringExceedsMaximumLength:
            return "TrackedProp_StringExceedsMaximumLength";
        case vr::TrackedProp_NotYetAvailable:
            return "TrackedProp_NotYetAvailable";
        case vr::TrackedProp_PermissionDenied:
            return "TrackedProp_PermissionDenied";
        case vr::TrackedProp_InvalidOperation:
            return "TrackedProp_InvalidOperation";
    }
    return "TrackedProp_Unknown";
}

vr::PropertyContainerHandle_t FakeProperties::TrackedDeviceToPropertyContainer(
    vr::TrackedDeviceIndex_t nDevice) {
    if (nDevice >= vr::k_unMaxTrackedDeviceCount) {
        return vr::k_ulInvalidPropertyContainer;
    }
    return FakeRuntime::ContainerForDevice(nDevice);
}

}  // namespace quillo::runtime
