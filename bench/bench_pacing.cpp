// Frame pacing accuracy: how close the link's pacer (sleep one millisecond short, then spin on
// the counter) lands on the frame interval at common display rates, and how much CPU time the
// spin costs per frame, beside a plain sleep_for pacer measured in the same run.
//
// Usage: bench_pacing [frames per rate, default 240] [simulated render work in ms, default 2]
// The render work is a sleep, so it costs no CPU; it makes the pacer start each wait with less
// than a whole interval left, as a runtime does.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "link/frame_pacer.h"
#include "platform/clock.h"

namespace {

using quillo::FramePacer;
namespace platform = quillo::platform;

struct Figures {
    double meanErrorMs = 0;     // mean of (interval - target), signed
    double meanAbsErrorMs = 0;  // mean of |interval - target|
    double p50AbsErrorMs = 0;
    double p99AbsErrorMs = 0;
    double maxAbsErrorMs = 0;
    double meanSpinMs = 0;  // busy-wait per frame (all of it CPU time)
    double maxSpinMs = 0;
};

Figures Summarise(std::vector<double>& errors, const std::vector<double>& spins) {
    Figures f;
    if (errors.empty()) return f;
    double sum = 0, absSum = 0;
    for (double e : errors) {
        sum += e;
        absSum += std::fabs(e);
    }
    f.meanErrorMs = sum / errors.size();
    f.meanAbsErrorMs = absSum / errors.size();
    std::vector<double> absolute(errors.size());
    std::transform(errors.begin(), errors.end(), absolute.begin(),
                   [](double e) { return std::fabs(e); });
    std::sort(absolute.begin(), absolute.end());
    const size_t p99 = std::min(absolute.size() - 1, (absolute.size() * 99) / 100);
    f.p99AbsErrorMs = absolute[p99];
    f.p50AbsErrorMs = absolute[absolute.size() / 2];
    f.maxAbsErrorMs = absolute.back();
    if (!spins.empty()) {
        double spinSum = 0;
        for (double s : spins) {
            spinSum += s;
            f.maxSpinMs = std::max(f.maxSpinMs, s);
        }
        f.meanSpinMs = spinSum / spins.size();
    }
    return f;
}

double TicksToMs(int64_t ticks, int64_t frequency) {
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(frequency);
}

void SimulateWork(double workMs) {
    if (workMs > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(workMs));
}

Figures RunLinkPacer(int32_t hz, int frames, double workMs) {
    platform::Clock& clock = platform::SystemClock();
    FramePacer pacer(clock);
    pacer.SetRefreshRate(hz);
    const double target = pacer.frameIntervalMs();
    const int64_t frequency = clock.Frequency();
    std::vector<double> errors, spins;
    errors.reserve(frames);
    spins.reserve(frames);
    pacer.WaitForFrameInterval();
    int64_t previous = pacer.lastFrameCounter();
    for (int i = 0; i < frames; ++i) {
        SimulateWork(workMs);
        pacer.WaitForFrameInterval();
        const int64_t now = pacer.lastFrameCounter();
        errors.push_back(TicksToMs(now - previous, frequency) - target);
        spins.push_back(TicksToMs(pacer.lastWait().spinTicks, frequency));
        previous = now;
    }
    return Summarise(errors, spins);
}

// What one would write without the link's pacer: sleep for whatever is left of the interval.
Figures RunSleepForPacer(int32_t hz, int frames, double workMs) {
    const double target = static_cast<double>(1000.0f / static_cast<float>(hz));
    const int64_t frequency = platform::CounterFrequency();
    std::vector<double> errors;
    errors.reserve(frames);
    int64_t previous = platform::CounterNow();
    for (int i = 0; i < frames; ++i) {
        SimulateWork(workMs);
        const double elapsed = TicksToMs(platform::CounterNow() - previous, frequency);
        if (target - elapsed > 0) {
            std::this_thread::sleep_for(
                std::chrono::duration<double, std::milli>(target - elapsed));
        }
        const int64_t now = platform::CounterNow();
        errors.push_back(TicksToMs(now - previous, frequency) - target);
        previous = now;
    }
    return Summarise(errors, {});
}

void Print(const char* name, int32_t hz, const Figures& f) {
    std::printf(
        "%-10s %4d Hz  error mean %+8.4f ms  |error| mean %7.4f  p50 %7.4f  p99 %7.4f  max "
        "%7.4f ms"
        "  spin/frame mean %6.3f  max %6.3f ms\n",
        name, hz, f.meanErrorMs, f.meanAbsErrorMs, f.p50AbsErrorMs, f.p99AbsErrorMs,
        f.maxAbsErrorMs, f.meanSpinMs, f.maxSpinMs);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 240;
    const double workMs = argc > 2 ? std::atof(argv[2]) : 2.0;
    platform::RaiseTimerResolution();
    std::printf(
        "frame pacing: %d frames per rate, %.2f ms simulated work per frame, counter "
        "%lld Hz\n",
        frames, workMs, static_cast<long long>(platform::CounterFrequency()));
    for (int32_t hz : {60, 72, 90, 120}) {
        Print("link", hz, RunLinkPacer(hz, frames, workMs));
        Print("sleep_for", hz, RunSleepForPacer(hz, frames, workMs));
    }
    return 0;
}
