// Cost of the companion's head tracking on the reader thread: framing a byte stream into
// messages, decoding each TrackingMessage, applying it to the head-tracking state, publishing
// the snapshot and calling one tracking listener. Prints messages per second on one core for
// each tracking kind and for a mixed stream, and the cost of the headset's Snapshot().
//
// Usage: bench_tracking_decode [seconds per case, default 0.3]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/head_tracking.h"
#include "link/listeners.h"
#include "link/message_reader.h"
#include "link/wire_format.h"

namespace {

using quillo::wire::TrackingUpdate;
using Clock = std::chrono::steady_clock;

class CountingListener final : public quillo::ITrackingUpdatedListener {
  public:
    void OnTrackingUpdated() override { ++count; }
    volatile uint64_t count = 0;
};

// Slowly varying values so that every branch of the math sees realistic input.
TrackingUpdate MakeUpdate(int32_t kind, int i) {
    TrackingUpdate u;
    u.wireKind = kind;
    const float a = 0.001f * static_cast<float>(i % 3000);
    const float c = 1.0f - 0.5f * a * a, s = a;  // small-angle rotation about Y
    const float m[12] = {c, 0, s, 0.1f * a, 0, 1, 0, 1.6f, -s, 0, c, -0.2f};
    std::memcpy(u.matrix, m, sizeof m);
    u.quaternion[1] = 0.5f * a;
    u.quaternion[3] = 1.0f;
    u.angles[0] = 0.3f * a;
    u.angles[1] = a;
    u.position[1] = 1.6f + 0.01f * a;
    u.inertial.gyro[1] = 0.2f;
    u.inertial.accel[2] = 9.81f;
    u.inertial.accel[0] = 0.1f * a;
    u.inertial.mag[0] = (kind == 2 && i % 2 == 0) ? 30.0f : 0.0f;  // nine- and six-axis
    u.inertial.mag[1] = 5.0f;
    u.status = 0;
    return u;
}

// A stream of `count` framed TrackingMessages cycling through `kinds`.
std::vector<uint8_t> MakeStream(const std::vector<int32_t>& kinds, int count) {
    std::vector<uint8_t> stream;
    uint8_t payload[64];
    uint8_t framed[quillo::wire::kHeaderSize + 64];
    for (int i = 0; i < count; ++i) {
        size_t size = 0;
        const TrackingUpdate u = MakeUpdate(kinds[i % kinds.size()], i);
        quillo::wire::EncodeTrackingPayload(u, payload, sizeof payload, size);
        const size_t n =
            quillo::wire::EncodeMessage(quillo::wire::kTrackingMessage, payload,
                                        static_cast<uint32_t>(size), framed, sizeof framed);
        stream.insert(stream.end(), framed, framed + n);
    }
    return stream;
}

struct Result {
    double messagesPerSecond;
    double nanosecondsPerMessage;
};

// Feeds the stream in 4 KiB reads, as a pipe reader would get it, until `seconds` have passed.
Result Run(const std::vector<uint8_t>& stream, double seconds) {
    quillo::TrackingState state;
    quillo::wire::MessageReader reader;
    CountingListener listener;
    uint64_t messages = 0;
    const auto start = Clock::now();
    const auto limit = start + std::chrono::duration<double>(seconds);
    auto now = start;
    do {
        for (size_t offset = 0; offset < stream.size();) {
            const size_t chunk = std::min<size_t>(4096, stream.size() - offset);
            size_t used = 0;
            while (used < chunk) {
                used += reader.Feed(stream.data() + offset + used, chunk - used);
                if (reader.HasMessage()) {
                    if (reader.type() == quillo::wire::kTrackingMessage &&
                        state.DecodeTracking(reader.payload(), reader.length()) ==
                            quillo::wire::WireError::kNone) {
                        listener.OnTrackingUpdated();
                    }
                    ++messages;
                    reader.Next();
                }
            }
            offset += chunk;
        }
        now = Clock::now();
    } while (now < limit);
    const double elapsed = std::chrono::duration<double>(now - start).count();
    if (listener.count != messages)
        std::printf("warning: %llu messages rejected\n",
                    static_cast<unsigned long long>(messages - listener.count));
    return Result{messages / elapsed, elapsed * 1e9 / messages};
}

double SnapshotNanoseconds(double seconds) {
    quillo::TrackingState state;
    const std::vector<uint8_t> one = MakeStream({4}, 1);
    state.DecodeTracking(one.data() + quillo::wire::kHeaderSize,
                         one.size() - quillo::wire::kHeaderSize);
    volatile float sink = 0.0f;
    uint64_t calls = 0;
    const auto start = Clock::now();
    const auto limit = start + std::chrono::duration<double>(seconds);
    auto now = start;
    do {
        for (int i = 0; i < 4096; ++i) sink = sink + state.Snapshot().orientation[1];
        calls += 4096;
        now = Clock::now();
    } while (now < limit);
    return std::chrono::duration<double>(now - start).count() * 1e9 / calls;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.3;
    struct Case {
        const char* name;
        std::vector<int32_t> kinds;
    } const cases[] = {
        {"kind 0 rotation matrix", {0}},
        {"kind 1 recompose", {1}},
        {"kind 2 inertial (6/9-axis)", {2}},
        {"kind 3 angles + position", {3}},
        {"kind 4 quaternion + position", {4}},
        {"kind 5 position only", {5}},
        {"kind 6 pose matrix", {6}},
        {"kind 254 status", {254}},
        {"mixed 0,2,3,4,5,6", {0, 2, 3, 4, 5, 6}},
    };
    std::printf("tracking decode + dispatch, one core, %.2f s per case\n", seconds);
    std::printf("%-30s %16s %12s\n", "stream", "messages/s", "ns/message");
    for (const Case& c : cases) {
        const std::vector<uint8_t> stream = MakeStream(c.kinds, 4096);
        const Result r = Run(stream, seconds);
        std::printf("%-30s %16.0f %12.1f\n", c.name, r.messagesPerSecond, r.nanosecondsPerMessage);
    }
    std::printf("%-30s %16s %12.1f\n", "Snapshot() (headset side)", "",
                SnapshotNanoseconds(seconds));
    return 0;
}
