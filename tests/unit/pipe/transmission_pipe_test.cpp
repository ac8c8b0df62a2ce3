// The driver's pipe channel against an in-process companion over real local pipes: framing,
// dispatch order, rejection of bad input, reconnection, whole-message writes and teardown
// while the reader is blocked.
#include "link/transmission_pipe.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/controller_record.h"
#include "link/wire_format.h"
#include "platform/log_sink.h"
#include "unit/pipe/test_companion.h"

namespace quillo {
namespace {

using testing::ReceivedMessage;
using testing::TestCompanion;
using testing::UniquePipeSuffix;
using testing::WaitFor;

// Everything the listeners saw, in order, as short text events ("rate 72", "track", ...).
class Recorder : public ITrackingUpdatedListener,
                 public IFramerateUpdatedListener,
                 public IControllerUpdatedListener {
  public:
    explicit Recorder(std::string name = "") : name_(std::move(name)) {}

    void OnTrackingUpdated() override { Add(name_ + "track"); }
    void OnFramerateUpdated(int32_t hz) override { Add(name_ + "rate " + std::to_string(hz)); }
    void OnControllerUpdated(const ControllerRecord& record) override {
        std::lock_guard<std::mutex> lock(mutex_);
        controllers_.push_back(record);
        events_.push_back(name_ + "controller " + std::to_string(record.controllerId));
    }

    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::vector<ControllerRecord> Controllers() {
        std::lock_guard<std::mutex> lock(mutex_);
        return controllers_;
    }
    bool WaitForCount(size_t count) {
        return WaitFor([&] { return Events().size() >= count; });
    }

  private:
    void Add(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
    }

    std::string name_;
    std::mutex mutex_;
    std::vector<std::string> events_;
    std::vector<ControllerRecord> controllers_;
};

// Collects the link's log lines while a test runs.
class LogCapture {
  public:
    LogCapture() {
        std::lock_guard<std::mutex> lock(Mutex());
        Lines().clear();
        quillo::platform::SetLogSink(&LogCapture::Sink);
    }
    ~LogCapture() { quillo::platform::SetLogSink(nullptr); }

    static std::vector<std::string> Snapshot() {
        std::lock_guard<std::mutex> lock(Mutex());
        return Lines();
    }
    static bool Contains(const std::string& text) {
        for (const std::string& line : Snapshot()) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }

  private:
    static void Sink(const char* line) {
        std::lock_guard<std::mutex> lock(Mutex());
        Lines().push_back(line);
    }
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<std::string>& Lines() {
        static std::vector<std::string> lines;
        return lines;
    }
};

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
};

std::vector<uint8_t> TrackingQuaternionPayload(const float q[4], const float position[3]) {
    wire::TrackingUpdate update;
    update.wireKind = static_cast<int32_t>(wire::TrackingKind::kQuaternionAndPosition);
    std::memcpy(update.quaternion, q, sizeof update.quaternion);
    std::memcpy(update.position, position, sizeof update.position);
    std::vector<uint8_t> payload(64);
    size_t written = 0;
    EXPECT_EQ(wire::EncodeTrackingPayload(update, payload.data(), payload.size(), written),
              wire::WireError::kNone);
    payload.resize(written);
    return payload;
}

TEST(TransmissionPipe, WithoutCompanionItStaysDisconnectedAndShutsDown) {
    TransmissionPipe pipe(UniquePipeSuffix());
    const uint8_t payload[12] = {};
    pipe.WriteMessage(wire::kHapticPulse, payload, sizeof payload);  // dropped, not connected
    EXPECT_FALSE(pipe.IsConnected());
    EXPECT_FALSE(pipe.NewConnectionPending());
    const HeadPose pose = pipe.ReadHeadPose();
    EXPECT_FALSE(pose.poseReceived);
    EXPECT_FLOAT_EQ(pose.position[1], 1.7f);
}

TEST(TransmissionPipe, ACompanionOfferingOnlyTheInPipeNeverGetsAReader) {
    const std::string suffix = UniquePipeSuffix();
    TestCompanion companion(suffix);
    std::string error;
    ASSERT_TRUE(companion.CreateInOnly(error)) << error;
    TransmissionPipe pipe(suffix);
    // Every round the driver opens "In", finds no "Out" and closes "In" again.
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(companion.AcceptIn());
        EXPECT_TRUE(companion.DriverClosedItsEnd());
        EXPECT_FALSE(pipe.IsConnected());
    }
}

TEST(TransmissionPipe, ConnectsAndWritesWholeMessages) {
    Connected c;
    c.Start();
    uint8_t payload[wire::kHapticPulseSize];
    wire::HapticPulse pulse;
    pulse.controllerId = 7;
    pulse.timestampMicros = 0x01020304;
    pulse.durationMicros = 3999;
    ASSERT_EQ(wire::EncodeHapticPulse(pulse, payload, sizeof payload), wire::WireError::kNone);
    c.pipe->WriteMessage(wire::kHapticPulse, payload, sizeof payload);

    ReceivedMessage message;
    ASSERT_TRUE(c.companion.Receive(message));
    EXPECT_EQ(message.type, static_cast<uint32_t>(wire::kHapticPulse));
    wire::HapticPulse decoded;
    ASSERT_EQ(wire::DecodeHapticPulse(message.payload.data(), message.payload.size(), decoded),
              wire::WireError::kNone);
    EXPECT_EQ(decoded.controllerId, 7u);
    EXPECT_EQ(decoded.durationMicros, 3999);

    // The flag stays until the link clears it (after its FrameInfo).
    EXPECT_TRUE(c.pipe->NewConnectionPending());
    c.pipe->ClearNewConnection();
    EXPECT_FALSE(c.pipe->NewConnectionPending());
}

TEST(TransmissionPipe, AssemblesHeadersAndPayloadsDeliveredAByteAtATime) {
    Connected c;
    c.Start();
    uint8_t message[wire::kHeaderSize + wire::kRefreshRateSize];
    uint8_t rate[wire::kRefreshRateSize];
    wire::EncodeRefreshRate(72, rate, sizeof rate);
    ASSERT_EQ(
        wire::EncodeMessage(wire::kRefreshRateMessage, rate, sizeof rate, message, sizeof message),
        sizeof message);
    for (uint8_t byte : message) {
        ASSERT_TRUE(c.companion.SendRaw(&byte, 1));
        // Give the reader a chance to see each byte on its own.
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    ASSERT_TRUE(c.recorder.WaitForCount(1));
    EXPECT_EQ(c.recorder.Events(), std::vector<std::string>{"rate 72"});
}

TEST(TransmissionPipe, DispatchesInArrivalOrderAndSkipsUnknownTypes) {
    Connected c;
    Recorder second("second ");
    c.Start();
    c.pipe->AddFramerateListener(&second);

    // A rotation of 30 degrees about Y, then a recenter, then the same rotation again: the
    // recenter takes effect at the next tracking message and cancels the yaw.
    const float half = 0.2617993877991494f;  // 15 degrees
    const float yaw30[4] = {0.0f, std::sin(half), 0.0f, std::cos(half)};
    const float position[3] = {0.5f, 1.25f, -2.0f};
    const std::vector<uint8_t> tracking = TrackingQuaternionPayload(yaw30, position);
    const uint8_t unknown[20] = {0xFF, 0xFF, 0xFF, 0xFF, 9, 0, 0, 0, 4, 0, 0, 0};

    ASSERT_TRUE(c.companion.Send(wire::kTrackingMessage, tracking.data(), tracking.size()));
    ASSERT_TRUE(c.companion.Send(99, unknown, sizeof unknown));
    ASSERT_TRUE(c.companion.Send(wire::kRecenterMessage, nullptr, 0));
    ASSERT_TRUE(c.companion.SendRefreshRate(72));
    ASSERT_TRUE(c.companion.Send(wire::kTrackingMessage, tracking.data(), tracking.size()));
    ControllerRecord record;
    record.controllerId = 42;
    record.status = 1;
    record.pose[0][3] = 0.25f;
    record.input.packetNum = 77;
    record.input.buttonPressed = 1ull << 33;
    record.input.buttonTouched = 1ull << 2;
    record.input.axis[1][0] = 0.75f;
    uint8_t controller[wire::kControllerRecordSize];
    ASSERT_EQ(wire::EncodeControllerRecord(record, controller, sizeof controller),
              wire::WireError::kNone);
    ASSERT_TRUE(c.companion.Send(wire::kControllerMessage, controller, sizeof controller));

    ASSERT_TRUE(c.recorder.WaitForCount(4));
    EXPECT_EQ(c.recorder.Events(),
              (std::vector<std::string>{"track", "rate 72", "track", "controller 42"}));
    EXPECT_EQ(second.Events(), std::vector<std::string>{"second rate 72"});

    const HeadPose pose = c.pipe->ReadHeadPose();
    EXPECT_TRUE(pose.poseReceived);
    EXPECT_NEAR(pose.orientation[1], 0.0f, 1e-6f);
    EXPECT_NEAR(pose.orientation[3], 1.0f, 1e-6f);
    EXPECT_FLOAT_EQ(pose.position[0], 0.5f);
    EXPECT_FLOAT_EQ(pose.position[1], 1.25f);
    EXPECT_FLOAT_EQ(pose.position[2], -2.0f);

    const std::vector<ControllerRecord> controllers = c.recorder.Controllers();
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(controllers[0].status, 1u);
    EXPECT_FLOAT_EQ(controllers[0].pose[0][3], 0.25f);
    EXPECT_EQ(controllers[0].input.packetNum, 77u);
    EXPECT_EQ(controllers[0].input.buttonPressed, 1ull << 33);
    EXPECT_EQ(controllers[0].input.buttonTouched, 1ull << 2);
    EXPECT_FLOAT_EQ(controllers[0].input.axis[1][0], 0.75f);
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
    const std::vector<std::string> lines = LogCapture::Snapshot();
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
        uint8_t header[wire::kHeaderSize];
        wire::MessageHeader bad;
        bad.length = badLength;
        bad.type = wire::kRefreshRateMessage;
        wire::EncodeHeader(bad, header);
        ASSERT_TRUE(c.companion.SendRaw(header, sizeof header));
        // The driver closes both of its ends, then comes back with a fresh pair.
        EXPECT_TRUE(c.companion.DriverClosedItsEnd());
        c.companion.Disconnect();
        ASSERT_TRUE(c.companion.AcceptDriver());
        ASSERT_TRUE(WaitFor([&] { return c.pipe->NewConnectionPending(); }));
        c.pipe->ClearNewConnection();
    }
    ASSERT_TRUE(c.companion.SendRefreshRate(60));
    ASSERT_TRUE(c.recorder.WaitForCount(1));
    EXPECT_EQ(c.recorder.Events(), std::vector<std::string>{"rate 60"});
    EXPECT_TRUE(LogCapture::Contains("length 1025 cannot be read"));
    EXPECT_TRUE(LogCapture::Contains("framed correctly again after 2 dropped connections"));
}

TEST(TransmissionPipe, ReconnectsAfterTheCompanionGoesAwayWithOneNewConnectionFlag) {
    Connected c;
    c.Start();
    ASSERT_TRUE(c.companion.SendRefreshRate(75));
    ASSERT_TRUE(c.recorder.WaitForCount(1));
    c.pipe->ClearNewConnection();

    c.companion.Disconnect();
    ASSERT_TRUE(c.companion.AcceptDriver());
    ASSERT_TRUE(WaitFor([&] { return c.pipe->IsConnected() && c.pipe->NewConnectionPending(); }));
    c.pipe->ClearNewConnection();

    // The new connection works both ways, and the tracking state survived the break.
    ASSERT_TRUE(c.companion.SendRefreshRate(90));
    ASSERT_TRUE(c.recorder.WaitForCount(2));
    const uint8_t payload[wire::kHapticPulseSize] = {5};
    c.pipe->WriteMessage(wire::kHapticPulse, payload, sizeof payload);
    ReceivedMessage message;
    ASSERT_TRUE(c.companion.Receive(message));
    EXPECT_EQ(message.payload[0], 5);
    EXPECT_FALSE(c.pipe->NewConnectionPending());
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
    ASSERT_TRUE(c.companion.AcceptDriver());
    ASSERT_TRUE(WaitFor([&] { return c.pipe->IsConnected() && c.pipe->NewConnectionPending(); }));
}

TEST(TransmissionPipe, MessagesFromTwoWriterThreadsNeverInterleave) {
    Connected c;
    c.Start();
    // Few enough that the pipe never fills (a full pipe breaks the connection by design).
    constexpr int kPerThread = 60;
    // Thread t writes type 20 + t with a payload whose every byte is its sequence number, and
    // lengths that vary so that a torn message would misalign everything after it.
    auto write = [&](uint32_t thread) {
        uint8_t payload[300];
        for (int i = 0; i < kPerThread; ++i) {
            const uint32_t length = 1 + (i * 37 + thread * 11) % 300;
            std::memset(payload, i & 0xFF, length);
            TransmissionPipe::WriteResult result;
            // Busy: the other thread held the pipe longer than a writer waits; try again.
            while ((result = c.pipe->WriteMessage(20 + thread, payload, length)) ==
                   TransmissionPipe::WriteResult::kBusy) {
            }
            EXPECT_EQ(result, TransmissionPipe::WriteResult::kWritten);
        }
    };
    std::thread first(write, 0);
    std::thread second(write, 1);
    int next[2] = {0, 0};
    for (int received = 0; received < 2 * kPerThread; ++received) {
        ReceivedMessage message;
        ASSERT_TRUE(c.companion.Receive(message));
        ASSERT_TRUE(message.type == 20 || message.type == 21) << message.type;
        const uint32_t thread = message.type - 20;
        const int i = next[thread]++;
        ASSERT_EQ(message.payload.size(), 1 + (i * 37 + thread * 11) % 300);
        for (uint8_t byte : message.payload) ASSERT_EQ(byte, i & 0xFF);
    }
    first.join();
    second.join();
}

TEST(TransmissionPipe, StopWakesAReaderBlockedInAReadAndTheDestructorJoinsIt) {
    Connected c;
    c.Start();
    // The reader now waits for a header that never comes. Stop, then destroy: the reader and
    // the connect thread must be gone before the channel's memory is (the sanitizer build
    // reports any late access).
    c.pipe->Stop();
    c.pipe.reset();
    // The driver's ends are closed with the channel.
    EXPECT_TRUE(c.companion.DriverClosedItsEnd());
}

TEST(TransmissionPipe, DestroyingWithoutStopAlsoEndsBothThreads) {
    for (int i = 0; i < 3; ++i) {
        Connected c;
        c.Start();
        ASSERT_TRUE(c.companion.SendRefreshRate(60 + i));
        ASSERT_TRUE(c.recorder.WaitForCount(1));
        c.pipe.reset();
    }
}

}  // namespace
}  // namespace quillo
