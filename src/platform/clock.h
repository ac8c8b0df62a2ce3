// High-resolution counter, sleeping and the system timer resolution.
#pragma once

#include <cstdint>

namespace quillo::platform {

// Counter ticks since an arbitrary start (QueryPerformanceCounter / CLOCK_MONOTONIC in ns).
int64_t CounterNow();
// Ticks per second of CounterNow (QueryPerformanceFrequency / 1e9).
int64_t CounterFrequency();
// Sleeps at least `milliseconds` (Sleep / nanosleep).
void SleepMilliseconds(uint32_t milliseconds);
// Raises the system timer resolution to the finest period the timer offers, at least 1 ms
// (timeGetDevCaps + timeBeginPeriod). Nothing to do on POSIX.
void RaiseTimerResolution();

// The clock that frame pacing reads, so tests can drive pacing without sleeping.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual int64_t Now() = 0;
    virtual int64_t Frequency() = 0;
    virtual void SleepMilliseconds(uint32_t milliseconds) = 0;
};

// The real clock above, shared by everyone.
Clock& SystemClock();

}  // namespace quillo::platform
