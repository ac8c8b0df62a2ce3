// What a controller keeps of the link to send its haptic pulses. Controllers outlive the link
// (they stay with the runtime after Cleanup, and those of an earlier Init are kept when a new
// one starts), so they hold this shared object instead of the link itself: the link detaches
// it before it goes, and every pulse after that is dropped without touching freed memory.
#pragma once

#include <cstdint>
#include <shared_mutex>

namespace quillo {

class QuilloCore;

class HapticChannel {
  public:
    explicit HapticChannel(QuilloCore* link) : link_(link) {}
    HapticChannel(const HapticChannel&) = delete;
    HapticChannel& operator=(const HapticChannel&) = delete;

    // Any runtime thread. Sends through the link while it is attached; pulses never wait for
    // each other here, only Detach waits for the ones under way (each bounded by the link's
    // write bound).
    void SendHapticPulse(uint32_t controllerId, uint16_t durationMicros);
    // Called by the link before it is destroyed; afterwards SendHapticPulse does nothing.
    void Detach();

  private:
    std::shared_mutex lock_;
    QuilloCore* link_;
};

}  // namespace quillo
