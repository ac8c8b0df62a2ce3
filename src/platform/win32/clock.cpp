// Counter, sleep and timer resolution on Windows: QueryPerformanceCounter, Sleep and the
// multimedia timer.
#include <windows.h>
// mmsystem.h needs the types windows.h declares.
#include <mmsystem.h>

#include "platform/clock.h"

namespace quillo::platform {

int64_t CounterNow() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t CounterFrequency() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

void SleepMilliseconds(uint32_t milliseconds) {
    Sleep(milliseconds);
}

void RaiseTimerResolution() {
    TIMECAPS caps{};
    if (timeGetDevCaps(&caps, sizeof(caps)) != TIMERR_NOERROR) {
        return;
    }
    UINT period = caps.wPeriodMin < 1 ? 1 : caps.wPeriodMin;
    if (period > caps.wPeriodMax) {
        period = caps.wPeriodMax;
    }
    // Never ended: the raised resolution serves the driver for the life of the process.
    timeBeginPeriod(period);
}

}  // namespace quillo::platform
