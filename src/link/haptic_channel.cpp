#include "link/haptic_channel.h"

#include <mutex>

#include "link/quillo_core.h"

namespace quillo {

void HapticChannel::SendHapticPulse(uint32_t controllerId, uint16_t durationMicros) {
    std::shared_lock<std::shared_mutex> lock(lock_);
    if (link_ != nullptr) link_->SendHapticPulse(controllerId, durationMicros);
}

void HapticChannel::Detach() {
    std::unique_lock<std::shared_mutex> lock(lock_);
    link_ = nullptr;
}

}  // namespace quillo
