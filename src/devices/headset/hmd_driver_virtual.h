// The headset in the runtime's virtual-display mode: the runtime composes both eyes into one
// back buffer per frame, which the link copies into the output texture the companion reads.
#pragma once

#include <atomic>
#include <cstdint>

#include "devices/headset/hmd_driver.h"

namespace quillo {

class HMDDriverVirtual final : public HMDDriver, public vr::IVRVirtualDisplay {
  public:
    HMDDriverVirtual() = default;

    void* GetComponent(const char* pchComponentNameAndVersion) override;

    // IVRVirtualDisplay
    void Present(vr::SharedTextureHandle_t backbufferTextureHandle) override;
    void WaitForPresent() override;
    bool GetTimeSinceLastVsync(float* pfSecondsSinceLastVsync, uint64_t* pulFrameCounter) override;

    int32_t presentCount() const { return presentCount_.load(std::memory_order_relaxed); }

  private:
    // Counts every Present, forwarded or dropped; read by GetTimeSinceLastVsync, which the
    // runtime may call from another thread. Wraps like the runtime's 32-bit counter would.
    std::atomic<int32_t> presentCount_{0};
};

}  // namespace quillo
