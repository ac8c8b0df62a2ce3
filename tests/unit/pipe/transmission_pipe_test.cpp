// The driver's pipe channel against an in-process companion over real local pipes: framing,
// dispatch order, rejection of bad input, reconnection and teardown. (Writers on several threads:
// link_stress_test.cpp under ThreadSanitizer.)
#include "link/transmission_pipe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/controller_record.h"
#include "link/wire_format.h"
#include "unit/pipe/test_companion.h"

namespace quillo::test {
namespace {

// A channel connected to an in-process companion.
struct Connected {
    std::string suffix = UniquePipeSuffix();
    TestCompanion companion{suffix};
    Recorder recorder;
    std::unique_ptr<TransmissionPipe> pipe;

    void Start() {
        std::string error;
        ASSERT_TRUE(companion.Create(error)) << error;
        pipe.reset(new TransmissionPipe(suffix));
        pipe->AddTrackingListener(&recorder);
        pipe->AddFramerateListener(&recorder);
        pipe->AddControllerListener(&recorder);
        ASSERT_TRUE(companion.AcceptDriver());
        ASSERT_TRUE(WaitFor([&] { return pipe->IsConnected() && pipe->NewConnectionPending(); }));
    }
    void ExpectReconnected() {
        ASSERT_TRUE(companion.AcceptDriver());
        ASSERT_TRUE(WaitFor([&] { return pipe->IsConnected() && pipe->NewConnectionPending(); }));
        pipe->ClearNewConnection();
    }
};

TEST(TransmissionPipe, DispatchesInArrivalOrderAndSkipsUnknownTypes) {
    Connected c;
    Recorder second("second ");
    c.Start();
    c.pipe->AddFramerateListener(&second);

    // 30 degrees of yaw, a recenter, the same yaw again: the recenter takes effect at the next
    // tracking message and cancels the yaw.
    wire::TrackingUpdate update;
    update.wireKind = static_cast<int32_t>(wire::TrackingKind::kQuaternionAndPosition);
    const float half = 0.2617993877991494f;  // 15 degrees
    const float yaw30[4] = {0.0f, std::sin(half), 0.0f, std::cos(half)};
    const float position[3] = {0.5f, 1.25f, -2.0f};
    std::memcpy(update.quaternion, yaw30, sizeof yaw30);
    std::memcpy(update.position, position, sizeof position);
    const std::vector<uint8_t> tracking = Framed(wire::kTrackingMessage, TrackingPayload(update));
    ControllerRecord record;
    record.controllerId = 42;
    record.input.buttonPressed = 1ull << 33;
    std::vector<uint8_t> controller(wire::kControllerRecordSize);
    wire::EncodeControllerRecord(record, controller.data(), controller.size());
    std::vector<uint8_t> stream = tracking;
    for (const std::vector<uint8_t>& message :
         {Framed(99, {0xFF, 0xFF, 0xFF, 0xFF, 9, 0, 0, 0, 4, 0, 0, 0}),
          Framed(wire::kRecenterMessage), Framed(wire::kRefreshRateMessage, {72, 0, 0, 0}),
          tracking, Framed(wire::kControllerMessage, controller)}) {
        stream.insert(stream.end(), message.begin(), message.end());
    }
    ASSERT_TRUE(c.companion.SendRaw(stream));

    // A driver that cannot read them drops the connection: no need to wait for the events.
    ASSERT_TRUE(WaitFor(
        [&] { return c.recorder.Events().size() >= 4 || c.companion.DriverClosedItsEnd(10); }));
    EXPECT_EQ(c.recorder.Events(),
              (std::vector<std::string>{"track", "rate 72", "track",
                                        "controller 42 pressed " + std::to_string(1ull << 33)}));
    EXPECT_EQ(second.Events(), std::vector<std::string>{"second rate 72"});
    const HeadPose pose = c.pipe->ReadHeadPose();
    EXPECT_TRUE(pose.poseReceived);
    EXPECT_NEAR(pose.orientation[1], 0.0f, 1e-6f);
    EXPECT_NEAR(pose.orientation[3], 1.0f, 1e-6f);
    for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(pose.position[i], position[i]);
}

TEST(TransmissionPipe, ShortPayloadsAreLoggedOnceAndSkippedWithoutLosingAlignment) {
    LogCapture log;
    Connected c;
    c.Start();
    const uint8_t shortRate[2] = {90, 0};
    const uint8_t shortController[100] = {};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(c.companion.Send(wire::kRefreshRateMessage, shortRate, sizeof shortRate));
    }
    ASSERT_TRUE(
        c.companion.Send(wire::kControllerMessage, shortController, sizeof shortController));
    ASSERT_TRUE(c.companion.SendRefreshRate(90));
    ASSERT_TRUE(c.recorder.WaitForCount(1));
    EXPECT_EQ(c.recorder.Events(), std::vector<std::string>{"rate 90"});
    EXPECT_TRUE(c.pipe->IsConnected());

    // One line when the run of bad refresh rates starts, one when it ends; one for the
    // controller record.
    const std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), 3u) << ::testing::PrintToString(lines);
    EXPECT_NE(lines[0].find("RefreshRateMessage"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("ControllerMessage"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("accepted again after 3 dropped"), std::string::npos) << lines[2];
    for (const std::string& line : lines) EXPECT_EQ(line.back(), '\n');
}

TEST(TransmissionPipe, AnUnframeableLengthDropsTheConnectionAndItReconnects) {
    LogCapture log;
    Connected c;
    c.Start();
    c.pipe->ClearNewConnection();
    for (uint32_t badLength : {1025u, 0x80000004u}) {
        // A valid message right behind the bad header: the driver must not read on in a
        // stream it has lost step with, but close both of its ends and connect anew.
        std::vector<uint8_t> bytes(wire::kHeaderSize);
        wire::EncodeHeader(wire::MessageHeader{badLength, wire::kRefreshRateMessage}, bytes.data());
        const std::vector<uint8_t> rate = Framed(wire::kRefreshRateMessage, {61, 0, 0, 0});
        bytes.insert(bytes.end(), rate.begin(), rate.end());
        ASSERT_TRUE(c.companion.SendRaw(bytes));
        bool closed = false;
        ASSERT_TRUE(WaitFor([&] {
            closed = c.companion.DriverClosedItsEnd(20);
            return closed || !c.recorder.Events().empty();
        }));
        EXPECT_TRUE(closed);
        ASSERT_TRUE(c.recorder.Events().empty()) << "bytes after a bad header were dispatched";
        c.companion.Disconnect();
        c.ExpectReconnected();
    }
    ASSERT_TRUE(c.companion.SendRefreshRate(60));
    ASSERT_TRUE(c.recorder.WaitForCount(1));
    EXPECT_EQ(c.recorder.Events(), std::vector<std::string>{"rate 60"});
    EXPECT_EQ(log.Count("length 1025 cannot be read"), 1u);
    EXPECT_EQ(log.Count("framed correctly again after 2 dropped connections"), 1u);
}

TEST(TransmissionPipe, WithoutACompleteCompanionItNeverConnects) {
    const std::string suffix = UniquePipeSuffix();
    TransmissionPipe pipe(suffix);
    const uint8_t payload[wire::kHapticPulseSize] = {};
    EXPECT_EQ(pipe.WriteMessage(wire::kHapticPulse, payload, sizeof payload),
              TransmissionPipe::WriteResult::kNotConnected);
    // Only "In" offered: every round the driver opens it, finds no "Out" and closes it again.
    TestCompanion companion(suffix);
    std::string error;
    ASSERT_TRUE(companion.Create(error, /*withOut=*/false)) << error;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(companion.AcceptIn());
        EXPECT_TRUE(companion.DriverClosedItsEnd());
        EXPECT_FALSE(pipe.IsConnected());
    }
    EXPECT_FALSE(pipe.NewConnectionPending());
}

TEST(TransmissionPipe, ACompanionReplacedBetweenTheTwoOpensIsReachedThroughBothPipes) {
    // The driver opens "In" of one companion; that companion goes away and a new one serves
    // both pipes before the driver opens "Out". The dead "In" must not be paired with the new
    // "Out": the new companion waits for its own "In" and would never be served.
    for (int round = 0; round < 3; ++round) {
        const std::string suffix = UniquePipeSuffix();
        std::string error;
        auto first = std::make_unique<TestCompanion>(suffix);
        ASSERT_TRUE(first->Create(error)) << error;
        Recorder recorder;
        TransmissionPipe pipe(suffix);
        pipe.AddFramerateListener(&recorder);
        ASSERT_TRUE(first->AcceptIn());
        first.reset();
        TestCompanion second(suffix);
        ASSERT_TRUE(second.Create(error)) << error;
        ASSERT_TRUE(second.AcceptDriver()) << "round " << round;
        ASSERT_TRUE(second.SendRefreshRate(72 + round));
        ASSERT_TRUE(recorder.WaitForCount(1));
    }
}

TEST(TransmissionPipe, ACompanionThatClosesOnlyItsInPipeIsReconnected) {
    // The reader waits on "Out", where a silent companion sends nothing; the break shows only
    // on "In", which the driver may have no reason to write to.
    Connected c;
    c.Start();
    c.pipe->ClearNewConnection();
    c.companion.fromDriver().Close();
    c.ExpectReconnected();
    // Stop wakes the reader blocked on a header that never comes; the channel's ends close
    // with it (the sanitizer build reports any late access by its threads).
    c.pipe->Stop();
    c.pipe.reset();
    EXPECT_TRUE(c.companion.DriverClosedItsEnd());
}

}  // namespace
}  // namespace quillo::test
