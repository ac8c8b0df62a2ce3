// What the link writes on the companion's pipe: FrameInfo once per connection, haptic pulses.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/transmission_pipe.h"
#include "link/wire_format.h"
#include "unit/core/core_fixture.h"

namespace quillo::test {
namespace {

class LinkMessages : public CoreFixture {
  protected:
    // Waits (generously: the connect thread polls every 100 ms plus 150 ms between the opens)
    // until the driver is connected and has flagged the new connection.
    bool WaitForNewConnection() {
        return WaitFor(
            [&] { return core->Pipe().IsConnected() && core->Pipe().NewConnectionPending(); });
    }
    // A companion connected to the link.
    void Connect(TestCompanion& companion) {
        std::string error;
        ASSERT_TRUE(companion.Create(error)) << error;
        ASSERT_TRUE(companion.AcceptDriver());
        ASSERT_TRUE(WaitForNewConnection());
    }
    // Reads messages up to the next haptic pulse (sent as an end marker) and counts the
    // FrameInfos before it; the last one is kept in `info`.
    int FrameInfosBeforeMarker(TestCompanion& companion, wire::FrameInfo& info,
                               wire::HapticPulse& marker) {
        int count = 0;
        for (ReceivedMessage m; companion.Receive(m);) {
            const uint8_t* p = m.payload.data();
            if (m.type == wire::kHapticPulse) {
                EXPECT_EQ(m.payload.size(), wire::kHapticPulseSize);
                EXPECT_EQ(wire::DecodeHapticPulse(p, m.payload.size(), marker),
                          wire::WireError::kNone);
                return count;
            }
            EXPECT_EQ(m.type, uint32_t{wire::kFrameInfo});
            EXPECT_EQ(m.payload.size(), wire::kFrameInfoSize);
            EXPECT_EQ(wire::DecodeFrameInfo(p, m.payload.size(), info), wire::WireError::kNone);
            ++count;
        }
        ADD_FAILURE() << "the pipe ended before the marker";
        return count;
    }
};

TEST_F(LinkMessages, OneFrameInfoPerConnectionWithTheLinksFacts) {
    TestCompanion companion(suffix);
    ASSERT_NO_FATAL_FAILURE(Connect(companion));

    for (int i = 0; i < 3; ++i) core->PresentVirtual(0);
    EXPECT_FALSE(core->Pipe().NewConnectionPending());
    // 5e10 ticks at 10 MHz: 5000 s, 5e9 microseconds, which is 705032704 in 32 bits.
    clock.AdvanceMs(5'000'000.0 - static_cast<double>(clock.Peek()) / clock.TicksPerMs());
    ASSERT_EQ(clock.Peek(), 50'000'000'000);
    core->SendHapticPulse(0xA1B2C3D4u, 65535);
    wire::FrameInfo info;
    wire::HapticPulse marker;
    EXPECT_EQ(FrameInfosBeforeMarker(companion, info, marker), 1);
    EXPECT_EQ(info.hostProcessId, platform::CurrentProcessId());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(info.outputHandleLow[i], uint32_t(core->Compositor().OutputSharedHandle(i)));
    }
    EXPECT_NE(info.outputHandleLow[0], info.outputHandleLow[1]);
    EXPECT_STREQ(info.linkName, core->linkName());
    EXPECT_EQ(info.invertY, 0);
    EXPECT_EQ(marker.controllerId, 0xA1B2C3D4u);
    EXPECT_EQ(marker.timestampMicros, 705032704u);
    EXPECT_EQ(marker.durationMicros, 65535);

    // The companion goes away and comes back: exactly one new FrameInfo, from the first
    // present after the reconnection.
    companion.Disconnect();
    ASSERT_TRUE(companion.AcceptDriver());
    ASSERT_TRUE(WaitForNewConnection());
    std::vector<SubmittedLayer> layers;
    core->PresentDirect(0, layers);  // direct mode sends it too
    core->PresentDirect(0, layers);
    core->SendHapticPulse(6, 1);
    EXPECT_EQ(FrameInfosBeforeMarker(companion, info, marker), 1);
    EXPECT_EQ(marker.controllerId, 6u);
    EXPECT_STREQ(info.linkName, core->linkName());
}

TEST_F(LinkMessages, HapticPulsesToACompanionThatStopsReadingAreDroppedNotWaitedFor) {
    LogCapture log;
    TestCompanion companion(suffix);
    ASSERT_NO_FATAL_FAILURE(Connect(companion));
    core->Pipe().ClearNewConnection();
    // The companion keeps its pipes open and reads nothing, so the pipe fills up. The
    // runtime's thread must come back from every pulse; the guard only keeps a hang from
    // stalling the suite.
    std::atomic<bool> done{false};
    std::thread runtimeThread([&] {
        for (int i = 0; i < 20000; ++i) core->SendHapticPulse(3, 100);
        done.store(true);
    });
    const bool returned = WaitFor([&] { return done.load(); });
    if (!returned) companion.Disconnect();  // unblocks the thread of a broken build
    runtimeThread.join();
    ASSERT_TRUE(returned) << "a haptic pulse kept the runtime's thread on a full pipe";
    EXPECT_GE(core->droppedHapticPulses(), 1u);
    // A run of drops is logged once when it starts; a pulse that slips into the pipe between
    // two runs starts another (Wine's pipes on a busy machine let several through), but never
    // one line per pulse: the hundreds of pulses dropped here would give hundreds of lines.
    EXPECT_GE(log.Count("dropping haptic pulses"), 1u);
    EXPECT_LE(log.Count("dropping haptic pulses"), 20u);
    // A companion that took nothing for long enough broke the connection; the driver
    // connects anew.
    EXPECT_GE(log.Count("one of type 11 could not be written"), 1u);
    EXPECT_LE(log.Count("one of type 11 could not be written"), 20u);
    companion.Disconnect();
    ASSERT_TRUE(companion.AcceptDriver());
    ASSERT_TRUE(WaitForNewConnection());
}

}  // namespace
}  // namespace quillo::test
