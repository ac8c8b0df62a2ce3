// Counter and sleep on POSIX: CLOCK_MONOTONIC in nanoseconds, nanosleep.
#include <errno.h>
#include <time.h>

#include "platform/clock.h"

namespace quillo::platform {

int64_t CounterNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

int64_t CounterFrequency() {
    return 1000000000LL;
}

void SleepMilliseconds(uint32_t milliseconds) {
    timespec request{};
    request.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    request.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    // A signal cuts nanosleep short; sleep the remainder so callers always get at least
    // the time they asked for.
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) {
        request = remaining;
    }
}

// The POSIX schedulers already sleep with fine granularity.
void RaiseTimerResolution() {}

}  // namespace quillo::platform
