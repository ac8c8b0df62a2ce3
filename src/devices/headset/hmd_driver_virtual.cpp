#include "devices/headset/hmd_driver_virtual.h"

#include "devices/component_name.h"
#include "devices/entry_guard.h"

namespace quillo {

void* HMDDriverVirtual::GetComponent(const char* pchComponentNameAndVersion) {
    if (SameComponentName(pchComponentNameAndVersion, vr::IVRDisplayComponent_Version)) {
        return DisplayComponent();
    }
    if (SameComponentName(pchComponentNameAndVersion, vr::IVRVirtualDisplay_Version)) {
        return static_cast<vr::IVRVirtualDisplay*>(this);
    }
    if (SameComponentName(pchComponentNameAndVersion, vr::ITrackedDeviceServerDriver_Version)) {
        return DeviceInterface();
    }
    return nullptr;
}

void HMDDriverVirtual::Present(vr::SharedTextureHandle_t backbufferTextureHandle) {
    QUILLO_ENTRY_SITE("HMDDriverVirtual::Present");
    GuardedEntry(entrySite_, [&] { Core().PresentVirtual(backbufferTextureHandle); });
    // Counted whether or not the link could forward the frame.
    presentCount_.fetch_add(1, std::memory_order_relaxed);
}

void HMDDriverVirtual::WaitForPresent() {
    QUILLO_ENTRY_SITE("HMDDriverVirtual::WaitForPresent");
    GuardedEntry(entrySite_, [&] { Core().WaitForFrameInterval(); });
}

bool HMDDriverVirtual::GetTimeSinceLastVsync(float* pfSecondsSinceLastVsync,
                                             uint64_t* pulFrameCounter) {
    // A constant, whatever the display frequency: the driver has no real vertical sync.
    if (pfSecondsSinceLastVsync != nullptr) {
        *pfSecondsSinceLastVsync = 0.016f;
    }
    if (pulFrameCounter != nullptr) {
        *pulFrameCounter = static_cast<uint64_t>(
            static_cast<int64_t>(presentCount_.load(std::memory_order_relaxed)));
    }
    return true;
}

}  // namespace quillo
