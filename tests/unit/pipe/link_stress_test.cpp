// Everything that runs at once in the link, for the thread sanitizer build (linux-tsan):
// companion traffic, pose readers and haptic writers on other threads, and every way the
// channel is torn down. Each round ends one way; the rounds cycle through all of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "link/controller_record.h"
#include "link/transmission_pipe.h"
#include "link/wire_format.h"
#include "unit/pipe/test_companion.h"

namespace quillo::test {
namespace {

enum class Teardown {
    kStopWhileTheReadBlocks,
    kCompanionGoneMidStream,
    kStopBetweenTheTwoOpens,
    kDestroyWhileDataFlows,
};

// One message of each kind the companion sends, framed, back to back.
std::vector<uint8_t> MixedTraffic(int seed) {
    wire::TrackingUpdate update;
    update.wireKind = static_cast<int32_t>(wire::TrackingKind::kQuaternionAndPosition);
    const float q[4] = {0.1f * (seed % 5), 0.2f, -0.3f, 0.9f};
    std::copy(q, q + 4, update.quaternion);
    update.position[1] = 1.5f + 0.01f * seed;
    ControllerRecord record;
    record.controllerId = 1 + seed % 3;
    std::vector<uint8_t> controller(wire::kControllerRecordSize);
    wire::EncodeControllerRecord(record, controller.data(), controller.size());
    std::vector<uint8_t> stream;
    for (const std::vector<uint8_t>& message :
         {Framed(wire::kTrackingMessage, TrackingPayload(update)),
          Framed(wire::kRefreshRateMessage, {static_cast<uint8_t>(60 + seed % 60), 0, 0, 0}),
          Framed(wire::kControllerMessage, controller), Framed(wire::kRecenterMessage)}) {
        stream.insert(stream.end(), message.begin(), message.end());
    }
    return stream;
}

// Pose readers and haptic writers, as the runtime's threads are, until stopped.
class RuntimeThreads {
  public:
    explicit RuntimeThreads(TransmissionPipe& pipe) {
        for (int t = 0; t < 2; ++t) {
            threads_.emplace_back([this, &pipe, t] {
                const uint8_t pulse[wire::kHapticPulseSize] = {static_cast<uint8_t>(t)};
                for (int i = 0; running_.load(); ++i) {
                    const HeadPose pose = pipe.ReadHeadPose();
                    EXPECT_TRUE(pose.orientation[3] == pose.orientation[3]);  // not torn to NaN
                    if (i % 8 == t) pipe.WriteMessage(wire::kHapticPulse, pulse, sizeof pulse);
                    if (pipe.NewConnectionPending()) pipe.ClearNewConnection();
                    std::this_thread::sleep_for(std::chrono::microseconds(500));
                }
            });
        }
    }
    void Stop() {
        running_.store(false);
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
    }
    ~RuntimeThreads() { Stop(); }

  private:
    std::atomic<bool> running_{true};
    std::vector<std::thread> threads_;
};

void RunRound(Teardown how, int round) {
    const std::string suffix = UniquePipeSuffix();
    TestCompanion companion(suffix);
    std::string error;
    ASSERT_TRUE(companion.Create(error)) << error;
    Recorder listener;
    auto pipe = std::make_unique<TransmissionPipe>(suffix);
    pipe->AddTrackingListener(&listener);
    pipe->AddFramerateListener(&listener);
    pipe->AddControllerListener(&listener);
    RuntimeThreads runtime(*pipe);
    const std::vector<uint8_t> traffic = MixedTraffic(round);

    switch (how) {
        case Teardown::kStopBetweenTheTwoOpens:
            ASSERT_TRUE(companion.AcceptIn());
            pipe->Stop();  // the connect thread is in its pause between the opens
            break;
        case Teardown::kStopWhileTheReadBlocks:
            ASSERT_TRUE(companion.AcceptDriver());
            ASSERT_TRUE(WaitFor([&] { return pipe->IsConnected(); }));
            pipe->Stop();
            break;
        case Teardown::kCompanionGoneMidStream:
            ASSERT_TRUE(companion.AcceptDriver());
            for (int i = 0; i < 20; ++i)
                ASSERT_TRUE(companion.SendRaw(traffic.data(), traffic.size()));
            ASSERT_TRUE(companion.SendRaw(traffic.data(), 13));
            companion.Disconnect();  // mid-message: the last send stopped inside one
            ASSERT_TRUE(companion.AcceptDriver());
            ASSERT_TRUE(companion.SendRaw(traffic.data(), traffic.size()));
            ASSERT_TRUE(WaitFor([&] { return listener.Events().size() > 0; }));
            break;
        case Teardown::kDestroyWhileDataFlows: {
            ASSERT_TRUE(companion.AcceptDriver());
            std::atomic<bool> sending{true};
            std::thread sender([&] {
                while (sending.load() && companion.SendRaw(traffic.data(), traffic.size())) {
                }
                sending.store(false);  // the driver dropped the connection
            });
            WaitFor([&] { return listener.Events().size() > 50 || !sending.load(); });
            runtime.Stop();
            pipe.reset();
            sending.store(false);
            sender.join();
            return;
        }
    }
    runtime.Stop();
    pipe.reset();
}

TEST(LinkStress, TrafficRuntimeThreadsAndEveryTeardownTogether) {
    for (int round = 0; round < 16; ++round) {
        SCOPED_TRACE(round);
        RunRound(static_cast<Teardown>(round % 4), round);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace quillo::test
