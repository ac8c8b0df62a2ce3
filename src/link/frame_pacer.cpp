#include "link/frame_pacer.h"

#include <algorithm>

namespace quillo {

int64_t SpinWait(platform::Clock& clock, int64_t frequency, float milliseconds) {
    const int64_t start = clock.Now();
    const float target = static_cast<float>(frequency) * milliseconds / 1000.0f;
    int64_t counter = start;
    while (static_cast<float>(counter - start) < target) {
        counter = clock.Now();
    }
    return counter - start;
}

FramePacer::FramePacer(platform::Clock& clock)
    : clock_(clock), counterFrequency_(clock.Frequency()) {
    // A counter without a frequency would divide by zero below; no real counter reports one.
    if (counterFrequency_ <= 0) counterFrequency_ = 1;
}

bool FramePacer::SetRefreshRate(int32_t hz) {
    if (!IsAcceptedRefreshRate(hz)) return false;
    refreshRate_.store(hz, std::memory_order_relaxed);
    frameIntervalMs_.store(static_cast<double>(1000.0f / static_cast<float>(hz)),
                           std::memory_order_relaxed);
    return true;
}

uint32_t FramePacer::FrameTimeoutMs() const {
    return static_cast<uint32_t>(frameIntervalMs());
}

void FramePacer::WaitForFrameInterval() {
    lastWait_ = WaitReport{};
    const double frequency = static_cast<double>(counterFrequency_);
    const int64_t now = clock_.Now();
    double remaining = 0.0;
    if (haveLastFrame_) {
        const double elapsedMs = static_cast<double>(now - lastFrameCounter_) / frequency * 1000.0;
        remaining = std::max(frameIntervalMs() - elapsedMs, 0.0);
    }
    lastWait_.remainingMs = remaining;
    if (remaining - 1.0 > 0.0) {
        const uint32_t sleepMs = static_cast<uint32_t>(remaining - 1.0);
        lastWait_.sleptMs = sleepMs;
        clock_.SleepMilliseconds(sleepMs);
    }
    if (remaining > 0.0) {
        const int64_t after = clock_.Now();
        remaining -= static_cast<double>(after - now) / frequency * 1000.0;
        if (remaining > 0.0) {
            lastWait_.spinTicks =
                SpinWait(clock_, counterFrequency_, static_cast<float>(remaining));
        }
    }
    lastFrameCounter_ = clock_.Now();
    haveLastFrame_ = true;
}

}  // namespace quillo
