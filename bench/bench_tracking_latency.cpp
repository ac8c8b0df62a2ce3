// Head-tracking latency over the real pipe: from the moment the companion starts writing a
// TrackingMessage to the moment the driver's ReadHeadPose returns the pose it carried. The
// companion end runs in this process (its pipes as server, as Quillo.exe creates them); the
// driver end is the real TransmissionPipe with its connect and reader threads.
//
// One message is in flight at a time: write, then poll ReadHeadPose (yielding between polls,
// as a runtime thread would between frames it does not have) until the new position shows.
// Each message carries its sequence number in the position, so a stale pose is never taken
// for the new one.
//
// Usage: bench_tracking_latency [messages, default 10000] [tracking kind, default 4]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv) {
    const long messages = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    const int32_t kind = argc > 2 ? static_cast<int32_t>(std::strtol(argv[2], nullptr, 10)) : 4;
    if (messages <= 0 || (kind != 3 && kind != 4 && kind != 5 && kind != 6)) {
        std::fprintf(stderr, "usage: bench_tracking_latency [messages > 0] [kind 3, 4, 5 or 6]\n");
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

        const Clock::time_point written = Clock::now();
        if (!toDriver.WriteAll(message, size)) {
            std::fprintf(stderr, "write failed at message %ld\n", i);
            return 1;
        }
        for (;;) {
            ++polls;
            if (pipe.ReadHeadPose().position[0] == marker) break;
            std::this_thread::yield();
        }
        latenciesUs.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - written).count());
    }

    std::vector<double> sorted = latenciesUs;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0.0;
    for (double value : sorted) sum += value;
    std::printf("tracking latency, companion write -> ReadHeadPose, kind %d, %ld messages\n", kind,
                messages);
    std::printf("  connect: %.1f ms (includes the driver's 150 ms between its two opens)\n",
                connectMs);
    std::printf("  p50 %.1f us   p99 %.1f us   max %.1f us   mean %.1f us   min %.1f us\n",
                Percentile(sorted, 0.50), Percentile(sorted, 0.99), sorted.back(),
                sum / static_cast<double>(sorted.size()), sorted.front());
    std::printf("  polls per message: %.1f\n",
                static_cast<double>(polls) / static_cast<double>(messages));
    return 0;
}
