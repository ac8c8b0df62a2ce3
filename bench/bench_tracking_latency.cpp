// Head-tracking latency over the real pipe: from the moment the companion starts writing a
// TrackingMessage to the moment the driver's ReadHeadPose returns the pose it carried. The
// companion end runs in this process (its pipes as server, as Quillo.exe creates them); the
// driver end is the real TransmissionPipe with its connect and reader threads.
//
// One message is in flight at a time, and each carries its sequence number in the position, so
// a stale pose is never taken for the new one. Two ways to see the pose arrive:
// - listener (default): a tracking listener, called on the reader thread right after the pose
//   was published, reads it back through ReadHeadPose and stamps the time; the writing thread
//   sleeps on a condition variable meanwhile, so nothing spins against the reader.
// - poll: the writing thread polls ReadHeadPose, yielding between polls, as a busy runtime
//   thread would; on a loaded machine the polling competes with the reader for the CPU.
//
// Usage: bench_tracking_latency [messages, default 10000] [tracking kind 3..6, default 4]
//                               [listener|poll]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/pipe_names.h"
#include "link/transmission_pipe.h"
#include "link/wire_format.h"
#include "platform/pipe.h"
#include "platform/process.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace platform = quillo::platform;
namespace wire = quillo::wire;

double Percentile(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) return 0.0;
    const size_t index =
        static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

// Stamps the moment the reader thread has published the pose it waits for.
class ArrivalStamp : public quillo::ITrackingUpdatedListener {
  public:
    void Expect(float marker) {
        std::lock_guard<std::mutex> lock(mutex_);
        marker_ = marker;
        arrived_ = false;
    }
    void OnTrackingUpdated() override {
        const quillo::HeadPose pose = pipe_->ReadHeadPose();
        std::lock_guard<std::mutex> lock(mutex_);
        if (!arrived_ && pose.position[0] == marker_) {
            at_ = Clock::now();
            arrived_ = true;
            wake_.notify_one();
        }
    }
    Clock::time_point Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return arrived_; });
        return at_;
    }
    quillo::TransmissionPipe* pipe_ = nullptr;

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    float marker_ = 0.0f;
    bool arrived_ = false;
    Clock::time_point at_;
};

}  // namespace

int main(int argc, char** argv) {
    const long messages = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    const int32_t kind = argc > 2 ? static_cast<int32_t>(std::strtol(argv[2], nullptr, 10)) : 4;
    const bool poll = argc > 3 && std::strcmp(argv[3], "poll") == 0;
    if (messages <= 0 || (kind != 3 && kind != 4 && kind != 5 && kind != 6) ||
        (argc > 3 && !poll && std::strcmp(argv[3], "listener") != 0)) {
        std::fprintf(stderr,
                     "usage: bench_tracking_latency [messages > 0] [kind 3, 4, 5 or 6] "
                     "[listener|poll]\n");
        return 2;
    }

    // Pipe names of our own, so a companion running on this machine is not disturbed.
    const std::string suffix = "_bench_" + std::to_string(platform::CurrentProcessId());
    platform::PipeListener inListener;
    platform::PipeListener outListener;
    std::string error;
    if (!inListener.Create(platform::PipePath(quillo::kPipeBaseNameIn, suffix),
                           platform::PipeAccess::kRead, error) ||
        !outListener.Create(platform::PipePath(quillo::kPipeBaseNameOut, suffix),
                            platform::PipeAccess::kWrite, error)) {
        std::fprintf(stderr, "cannot create the pipes: %s\n", error.c_str());
        return 1;
    }

    quillo::TransmissionPipe pipe(suffix);
    ArrivalStamp stamp;
    stamp.pipe_ = &pipe;
    pipe.AddTrackingListener(&stamp);
    platform::PipeStream fromDriver;
    platform::PipeStream toDriver;
    const Clock::time_point connectStart = Clock::now();
    if (!inListener.Accept(fromDriver, 30000) || !outListener.Accept(toDriver, 30000)) {
        std::fprintf(stderr, "the driver end did not connect\n");
        return 1;
    }
    while (!pipe.IsConnected()) std::this_thread::yield();
    const double connectMs =
        std::chrono::duration<double, std::milli>(Clock::now() - connectStart).count();

    std::vector<double> latenciesUs;
    latenciesUs.reserve(static_cast<size_t>(messages));
    uint64_t polls = 0;
    for (long i = 0; i < messages; ++i) {
        // Positions count up from 10 m so that no message repeats the previous value.
        const float marker = 10.0f + static_cast<float>(i % 100000) * 0.001f;
        wire::TrackingUpdate update;
        update.wireKind = kind;
        update.quaternion[3] = 1.0f;
        update.matrix[0] = update.matrix[5] = update.matrix[10] = 1.0f;
        update.matrix[3] = marker;
        update.position[0] = marker;
        uint8_t payload[64];
        size_t length = 0;
        wire::EncodeTrackingPayload(update, payload, sizeof payload, length);
        uint8_t message[wire::kHeaderSize + 64];
        const size_t size =
            wire::EncodeMessage(wire::kTrackingMessage, payload, static_cast<uint32_t>(length),
                                message, sizeof message);

        stamp.Expect(marker);
        const Clock::time_point written = Clock::now();
        if (!toDriver.WriteAll(message, size)) {
            std::fprintf(stderr, "write failed at message %ld\n", i);
            return 1;
        }
        Clock::time_point seen;
        if (poll) {
            for (;;) {
                ++polls;
                if (pipe.ReadHeadPose().position[0] == marker) break;
                std::this_thread::yield();
            }
            seen = Clock::now();
        } else {
            seen = stamp.Wait();
        }
        latenciesUs.push_back(std::chrono::duration<double, std::micro>(seen - written).count());
    }

    std::vector<double> sorted = latenciesUs;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0.0;
    for (double value : sorted) sum += value;
    std::printf("tracking latency, companion write -> ReadHeadPose, kind %d, %ld messages, %s\n",
                kind, messages, poll ? "polling" : "listener");
    std::printf("  connect: %.1f ms (includes the driver's 150 ms between its two opens)\n",
                connectMs);
    std::printf("  p50 %.1f us   p99 %.1f us   max %.1f us   mean %.1f us   min %.1f us\n",
                Percentile(sorted, 0.50), Percentile(sorted, 0.99), sorted.back(),
                sum / static_cast<double>(sorted.size()), sorted.front());
    if (poll) {
        std::printf("  polls per message: %.1f\n",
                    static_cast<double>(polls) / static_cast<double>(messages));
    }
    return 0;
}
