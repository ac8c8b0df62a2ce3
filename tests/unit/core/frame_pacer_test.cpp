#include "link/frame_pacer.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "unit/core/fake_clock.h"

namespace quillo::test {
namespace {

// 100 Hz gives an interval of exactly 10 ms in single precision, which keeps the remaining
// times below exact.
constexpr int32_t kRate100 = 100;

TEST(FramePacer, IntervalFollowsTheFormulaInSinglePrecisionAndBadRatesKeepTheLast) {
    // The float quotient 1000 / hz, widened: 60, 72 and 90 Hz round in single precision; a
    // power of two divides 1000 exactly (INT_MAX becomes 2^31 as a float). A rate of zero or
    // less keeps the last good interval (hz 0 marks those).
    const struct {
        int32_t hz;
        double intervalMs;
        uint32_t timeoutMs;
    } cases[] = {{60, 16.66666603088379, 16u}, {72, 13.88888931274414, 13u},
                 {90, 11.11111068725586, 11u}, {0, 11.11111068725586, 11u},
                 {-1, 11.11111068725586, 11u}, {INT_MIN, 11.11111068725586, 11u},
                 {1, 1000.0, 1000u},           {1024, 0.9765625, 0u},
                 {65536, 0.0152587890625, 0u}, {INT_MAX, 1000.0 / 2147483648.0, 0u}};
    FakeClock clock;
    FramePacer pacer(clock);
    EXPECT_EQ(pacer.frameIntervalMs(), 0.0) << "no interval before a rate is set";
    EXPECT_EQ(pacer.refreshRate(), 60);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hz);
        EXPECT_EQ(pacer.SetRefreshRate(c.hz), c.hz > 0);
        EXPECT_EQ(pacer.refreshRate(), c.hz > 0 ? c.hz : 90);
        EXPECT_EQ(pacer.frameIntervalMs(), c.intervalMs);
        EXPECT_EQ(pacer.FrameTimeoutMs(), c.timeoutMs);
    }
}

TEST(FramePacer, FirstWaitReturnsAtOnceAndRecordsTheCounter) {
    // A counter that starts near zero must not make the first wait last a whole interval.
    FakeClock clock(10'000'000, /*start=*/3);
    FramePacer pacer(clock);
    ASSERT_TRUE(pacer.SetRefreshRate(60));
    pacer.WaitForFrameInterval();
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_EQ(pacer.lastWait().spinTicks, 0);
    EXPECT_EQ(pacer.lastWait().remainingMs, 0.0);
    EXPECT_EQ(pacer.lastFrameCounter(), clock.Peek() - clock.ticksPerRead);
}

TEST(FramePacer, SleepsToOneMillisecondShortThenSpinsTheRest) {
    // At 100 Hz the interval is exactly 10 ms. Each case: the rate of the first frame, how long
    // the frame took, how late the system's sleep returns; then what the second wait did.
    const struct {
        int32_t firstHz;
        double frameMs, oversleepMs;
        std::vector<uint32_t> sleeps;
        double remainingMs, spinMs;
    } cases[] = {
        {100, 7.5, 0.0, {1}, 2.5, 1.5},   // sleep (2.5 - 1) truncated, spin the rest
        {100, 9.1, 0.0, {}, 0.9, 0.9},    // under a millisecond: only spin
        {100, 25.0, 0.0, {}, 0.0, 0.0},   // late: not delayed
        {100, 0.0, 1.5, {8}, 10.0, 0.5},  // oversleeping is taken off the spin
        {100, 0.0, 3.0, {8}, 10.0, 0.0},  // more than the remainder late: no spin
        {60, 0.0, 0.0, {8}, 10.0, 2.0},   // a rate change takes effect at the next wait
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.frameMs << " ms, " << c.oversleepMs << " late");
        FakeClock clock;
        FramePacer pacer(clock);
        ASSERT_TRUE(pacer.SetRefreshRate(c.firstHz));
        pacer.WaitForFrameInterval();
        ASSERT_TRUE(pacer.SetRefreshRate(kRate100));
        const int64_t frameStart = pacer.lastFrameCounter();
        clock.AdvanceMs(c.frameMs);
        clock.oversleepTicks = static_cast<int64_t>(c.oversleepMs * clock.TicksPerMs());
        pacer.WaitForFrameInterval();
        EXPECT_EQ(clock.sleeps, c.sleeps);
        EXPECT_EQ(pacer.lastWait().sleptMs, c.sleeps.empty() ? 0u : c.sleeps[0]);
        EXPECT_NEAR(pacer.lastWait().remainingMs, c.remainingMs, 1e-3);
        EXPECT_NEAR(static_cast<double>(pacer.lastWait().spinTicks), c.spinMs * clock.TicksPerMs(),
                    4.0);
        if (c.spinMs > 0) {
            // The frame ends one interval after the previous one, give or take the reads.
            const int64_t interval = pacer.lastFrameCounter() - frameStart;
            EXPECT_GE(interval, 10 * clock.TicksPerMs());
            EXPECT_LE(interval, 10 * clock.TicksPerMs() + 8);
        }
    }
}

}  // namespace
}  // namespace quillo::test
