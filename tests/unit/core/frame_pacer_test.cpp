#include "link/frame_pacer.h"

#include <gtest/gtest.h>

#include <climits>

#include "unit/core/fake_clock.h"

namespace quillo {
namespace {

using test::FakeClock;

// 100 Hz gives an interval of exactly 10 ms in single precision, which keeps the remaining
// times below exact.
constexpr int32_t kRate100 = 100;

TEST(FramePacer, IntervalIsComputedInSinglePrecisionThenWidened) {
    FakeClock clock;
    FramePacer pacer(clock);
    EXPECT_EQ(pacer.frameIntervalMs(), 0.0) << "no interval before a rate is set";
    EXPECT_EQ(pacer.refreshRate(), 60);

    ASSERT_TRUE(pacer.SetRefreshRate(60));
    EXPECT_EQ(pacer.frameIntervalMs(), 16.66666603088379);
    EXPECT_EQ(pacer.FrameTimeoutMs(), 16u);
    ASSERT_TRUE(pacer.SetRefreshRate(72));
    EXPECT_EQ(pacer.frameIntervalMs(), 13.88888931274414);
    EXPECT_EQ(pacer.FrameTimeoutMs(), 13u);
    ASSERT_TRUE(pacer.SetRefreshRate(90));
    EXPECT_EQ(pacer.refreshRate(), 90);
    EXPECT_EQ(pacer.frameIntervalMs(), 11.11111068725586);
    EXPECT_EQ(pacer.FrameTimeoutMs(), 11u);
}

TEST(FramePacer, NonPositiveRatesKeepTheLastGoodInterval) {
    FakeClock clock;
    FramePacer pacer(clock);
    ASSERT_TRUE(pacer.SetRefreshRate(90));
    for (int32_t bad : {0, -1, -90, INT_MIN}) {
        EXPECT_FALSE(pacer.SetRefreshRate(bad)) << bad;
        EXPECT_EQ(pacer.refreshRate(), 90) << bad;
        EXPECT_EQ(pacer.frameIntervalMs(), 11.11111068725586) << bad;
    }
}

TEST(FramePacer, EveryPositiveRateFollowsTheIntervalFormula) {
    // Rates whose float quotient 1000 / hz is exact: a power of two divides 1000 without
    // rounding (INT_MAX becomes 2^31 as a float), so the intervals are known exactly.
    const struct {
        int32_t hz;
        double intervalMs;
        uint32_t timeoutMs;
    } cases[] = {{1, 1000.0, 1000u},
                 {1000, 1.0, 1u},
                 {1024, 0.9765625, 0u},
                 {2000, 0.5, 0u},
                 {4096, 0.244140625, 0u},
                 {65536, 0.0152587890625, 0u},
                 {INT_MAX, 1000.0 / 2147483648.0, 0u}};
    FakeClock clock;
    FramePacer pacer(clock);
    for (const auto& c : cases) {
        EXPECT_TRUE(pacer.SetRefreshRate(c.hz)) << c.hz;
        EXPECT_EQ(pacer.refreshRate(), c.hz);
        EXPECT_EQ(pacer.frameIntervalMs(), c.intervalMs) << c.hz;
        EXPECT_EQ(pacer.FrameTimeoutMs(), c.timeoutMs) << c.hz;
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

TEST(FramePacer, LateFrameIsNotDelayed) {
    FakeClock clock;
    FramePacer pacer(clock);
    ASSERT_TRUE(pacer.SetRefreshRate(60));
    pacer.WaitForFrameInterval();
    clock.AdvanceMs(25.0);
    const int64_t before = clock.Peek();
    pacer.WaitForFrameInterval();
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_EQ(pacer.lastWait().remainingMs, 0.0);
    EXPECT_EQ(pacer.lastWait().spinTicks, 0);
    // Only the counter reads themselves moved the clock.
    EXPECT_LE(clock.Peek() - before, 2 * clock.ticksPerRead);
}

TEST(FramePacer, SleepsOneMillisecondShortThenSpinsTheRest) {
    FakeClock clock;
    FramePacer pacer(clock);
    ASSERT_TRUE(pacer.SetRefreshRate(kRate100));
    pacer.WaitForFrameInterval();
    const int64_t frameStart = pacer.lastFrameCounter();

    // 2.5 ms remaining: sleep (2.5 - 1) truncated = 1 ms, spin about 1.5 ms.
    clock.AdvanceMs(7.5);
    pacer.WaitForFrameInterval();
    ASSERT_EQ(clock.sleeps.size(), 1u);
    EXPECT_EQ(clock.sleeps[0], 1u);
    EXPECT_EQ(pacer.lastWait().sleptMs, 1u);
    EXPECT_NEAR(pacer.lastWait().remainingMs, 2.5, 1e-3);
    EXPECT_GE(pacer.lastWait().spinTicks, clock.TicksPerMs() * 3 / 2 - 4);
    EXPECT_LE(pacer.lastWait().spinTicks, clock.TicksPerMs() * 3 / 2 + 4);
    // The frame ends one interval after the previous one, give or take the counter reads.
    const int64_t interval = pacer.lastFrameCounter() - frameStart;
    EXPECT_GE(interval, 10 * clock.TicksPerMs());
    EXPECT_LE(interval, 10 * clock.TicksPerMs() + 8);
}

TEST(FramePacer, UnderOneMillisecondOnlySpins) {
    FakeClock clock;
    FramePacer pacer(clock);
    ASSERT_TRUE(pacer.SetRefreshRate(kRate100));
    pacer.WaitForFrameInterval();
    clock.AdvanceMs(9.1);
    pacer.WaitForFrameInterval();
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_NEAR(pacer.lastWait().remainingMs, 0.9, 1e-3);
    EXPECT_NEAR(static_cast<double>(pacer.lastWait().spinTicks), 0.9 * clock.TicksPerMs(), 4.0);
}

TEST(FramePacer, OversleepingIsTakenOffTheSpin) {
    FakeClock clock;
    FramePacer pacer(clock);
    ASSERT_TRUE(pacer.SetRefreshRate(kRate100));
    pacer.WaitForFrameInterval();
    // The sleep asks for 8 ms but the system returns 1.5 ms late: 0.5 ms are left to spin.
    clock.oversleepTicks = clock.TicksPerMs() * 3 / 2;
    pacer.WaitForFrameInterval();
    ASSERT_EQ(clock.sleeps.size(), 1u);
    EXPECT_EQ(clock.sleeps[0], 8u);
    EXPECT_NEAR(static_cast<double>(pacer.lastWait().spinTicks), 0.5 * clock.TicksPerMs(), 4.0);

    // Returning more than the whole remainder late: no spin at all.
    clock.oversleepTicks = clock.TicksPerMs() * 3;
    pacer.WaitForFrameInterval();
    EXPECT_EQ(pacer.lastWait().spinTicks, 0);
}

TEST(FramePacer, RateChangeTakesEffectAtTheNextWait) {
    FakeClock clock;
    FramePacer pacer(clock);
    ASSERT_TRUE(pacer.SetRefreshRate(60));
    pacer.WaitForFrameInterval();
    ASSERT_TRUE(pacer.SetRefreshRate(kRate100));
    pacer.WaitForFrameInterval();
    EXPECT_NEAR(pacer.lastWait().remainingMs, 10.0, 1e-3);
    ASSERT_EQ(clock.sleeps.size(), 1u);
    EXPECT_EQ(clock.sleeps[0], 8u);  // (10 - 1) less the reads, truncated
}

TEST(SpinWait, ComparesInSinglePrecision) {
    // At 1e9 ticks per second, 0.1f ms is 100000.0015 ticks in double but exactly 100000 in
    // float (1e9f * 0.1f rounds to 1e8). A double comparison would spin one tick longer.
    FakeClock clock(1'000'000'000, 0);
    EXPECT_EQ(SpinWait(clock, clock.Frequency(), 0.1f), 100000);
}

TEST(SpinWait, ZeroOrNegativeReturnsAfterOneRead) {
    FakeClock clock;
    EXPECT_EQ(SpinWait(clock, clock.Frequency(), 0.0f), 0);
    EXPECT_EQ(SpinWait(clock, clock.Frequency(), -3.0f), 0);
    EXPECT_EQ(clock.reads, 2);
}

}  // namespace
}  // namespace quillo
