// Paces the presenting thread to the companion's display refresh rate: one frame interval
// after the previous frame, reached by a sleep that stops one millisecond short and a final
// busy-wait on the high-resolution counter. This wait stands in for the display's vertical
// sync.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace quillo {

// Busy-waits on `clock` until `milliseconds` have passed since the call. The comparison is made
// in single precision, (float)(counter - start) >= (float)frequency * ms / 1000.0f, so the wait
// ends exactly where the float arithmetic says, not where a double would. Never sleeps or
// yields. Returns the counter ticks spent spinning.
int64_t SpinWait(platform::Clock& clock, int64_t frequency, float milliseconds);

class FramePacer {
  public:
    // Every positive rate is paced by the interval formula, however high. 0 and negative
    // rates are rejected: 0 would make the interval infinite (the spin would never end), a
    // negative rate a negative interval. A rejected rate keeps the last good interval.
    static constexpr int32_t kInitialRefreshRate = 60;
    static constexpr bool IsAcceptedRefreshRate(int32_t hz) { return hz > 0; }

    // Reads the counter frequency once. The interval stays 0 until SetRefreshRate is first
    // called (the link does so while it initialises).
    explicit FramePacer(platform::Clock& clock);

    // Stores the rate and recomputes the interval as (double)(1000.0f / (float)hz): 60 Hz
    // gives 16.66666603088379 ms, 90 Hz 11.11111068725586 ms. Returns false, changing nothing,
    // for a rate of 0 or below. Safe to call from any thread.
    bool SetRefreshRate(int32_t hz);

    // Returns once one frame interval has passed since the previous call returned; the first
    // call returns at once and only records the counter. Runs on the presenting thread.
    void WaitForFrameInterval();

    int32_t refreshRate() const { return refreshRate_.load(std::memory_order_relaxed); }
    double frameIntervalMs() const { return frameIntervalMs_.load(std::memory_order_relaxed); }
    // Keyed-mutex time-out of one frame interval, truncated to whole milliseconds (16 at 60 Hz,
    // 11 at 90 Hz).
    uint32_t FrameTimeoutMs() const;

    int64_t counterFrequency() const { return counterFrequency_; }
    int64_t lastFrameCounter() const { return lastFrameCounter_; }

    // What the last WaitForFrameInterval did, for tests and the pacing benchmark.
    struct WaitReport {
        uint32_t sleptMs = 0;    // the argument given to the sleep, 0 when it did not sleep
        int64_t spinTicks = 0;   // counter ticks spent in SpinWait, 0 when it did not spin
        double remainingMs = 0;  // remaining time computed before the sleep
    };
    const WaitReport& lastWait() const { return lastWait_; }

  private:
    platform::Clock& clock_;
    int64_t counterFrequency_;
    // Only the presenting thread touches these two.
    int64_t lastFrameCounter_ = 0;
    // The first wait returns at once whatever the counter reads (a fake clock may start at 0).
    bool haveLastFrame_ = false;
    WaitReport lastWait_;
    // Written by the pipe's reader thread, read by the presenting thread.
    std::atomic<int32_t> refreshRate_{kInitialRefreshRate};
    std::atomic<double> frameIntervalMs_{0.0};
};

}  // namespace quillo
