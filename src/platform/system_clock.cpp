// The real clock: the platform counter and sleep behind the Clock interface that frame
// pacing reads.
#include "platform/clock.h"

namespace quillo::platform {

namespace {

class SystemClockImpl final : public Clock {
  public:
    int64_t Now() override { return CounterNow(); }
    int64_t Frequency() override { return CounterFrequency(); }
    void SleepMilliseconds(uint32_t milliseconds) override {
        platform::SleepMilliseconds(milliseconds);
    }
};

}  // namespace

Clock& SystemClock() {
    // Holds no state, so reading it during static destruction is harmless.
    static SystemClockImpl clock;
    return clock;
}

}  // namespace quillo::platform
