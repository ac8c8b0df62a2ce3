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
    // Never destroyed: link objects that outlive static destruction order may still read it.
    static SystemClockImpl* clock = new SystemClockImpl();
    return *clock;
}

}  // namespace quillo::platform
