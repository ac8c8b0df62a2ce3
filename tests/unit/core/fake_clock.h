// A counter that moves only when it is read or slept on, so pacing can be checked tick for
// tick without real time passing.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/clock.h"

namespace quillo::test {

class FakeClock final : public platform::Clock {
  public:
    explicit FakeClock(int64_t frequency = 10'000'000, int64_t start = 5'000'000'000)
        : frequency_(frequency), now_(start) {}

    // Every read returns the current value and then moves the counter by `ticksPerRead`, the
    // way a real counter moves while a loop spins on it.
    int64_t Now() override {
        const int64_t value = now_;
        now_ += ticksPerRead;
        return value;
    }
    int64_t Frequency() override { return frequency_; }
    void SleepMilliseconds(uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        now_ += static_cast<int64_t>(milliseconds) * frequency_ / 1000 + oversleepTicks;
    }

    void AdvanceMs(double milliseconds) {
        now_ += static_cast<int64_t>(milliseconds * static_cast<double>(frequency_) / 1000.0);
    }
    int64_t Peek() const { return now_; }
    int64_t TicksPerMs() const { return frequency_ / 1000; }

    int64_t ticksPerRead = 1;
    int64_t oversleepTicks = 0;
    std::vector<uint32_t> sleeps;

  private:
    int64_t frequency_;
    int64_t now_;
};

}  // namespace quillo::test
