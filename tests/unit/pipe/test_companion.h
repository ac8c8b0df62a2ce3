// An in-process stand-in for the companion's pipe side (both pipes as server), able to send
// bytes the real companion never would (torn headers, bad lengths), and the small helpers the
// link tests share.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "link/controller_record.h"
#include "link/listeners.h"
#include "link/pipe_names.h"
#include "link/wire_format.h"
#include "platform/log_sink.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "support/wait_until.h"

namespace quillo::test {

// Generous: a hang guard only, for a loaded two-core machine and Wine.
constexpr uint32_t kAcceptTimeoutMs = 30000;

// Pipe names no companion, other test or other test run uses.
inline std::string UniquePipeSuffix() {
    static std::atomic<int> counter{0};
    return "_unit_" + std::to_string(platform::CurrentProcessId()) + "_" +
           std::to_string(counter.fetch_add(1));
}

inline bool WaitFor(const std::function<bool()>& condition, uint32_t timeoutMs = 30000) {
    return WaitUntil(condition, std::chrono::milliseconds(timeoutMs));
}

// Header and payload as they go over the pipe.
inline std::vector<uint8_t> Framed(uint32_t type, const std::vector<uint8_t>& payload = {}) {
    std::vector<uint8_t> bytes(wire::kHeaderSize + payload.size());
    wire::EncodeMessage(type, payload.data(), static_cast<uint32_t>(payload.size()), bytes.data(),
                        bytes.size());
    return bytes;
}
inline std::vector<uint8_t> TrackingPayload(const wire::TrackingUpdate& update) {
    std::vector<uint8_t> bytes(64);
    size_t written = 0;
    wire::EncodeTrackingPayload(update, bytes.data(), bytes.size(), written);
    bytes.resize(written);
    return bytes;
}

// Collects the link's log lines while alive.
class LogCapture {
  public:
    LogCapture() {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
        platform::SetLogSink([](const char* line) {
            std::lock_guard<std::mutex> guard(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { platform::SetLogSink(nullptr); }
    static std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    static size_t Count(const std::string& fragment) {
        size_t n = 0;
        for (const std::string& line : lines()) n += line.find(fragment) != std::string::npos;
        return n;
    }

  private:
    static inline std::mutex mutex_;
    static inline std::vector<std::string> lines_;
};

// Everything the listeners saw, in order, as short text events ("rate 72", "track", ...).
class Recorder : public ITrackingUpdatedListener,
                 public IFramerateUpdatedListener,
                 public IControllerUpdatedListener {
  public:
    explicit Recorder(std::string name = "") : name_(std::move(name)) {}
    void OnTrackingUpdated() override { Add("track"); }
    void OnFramerateUpdated(int32_t hz) override { Add("rate " + std::to_string(hz)); }
    void OnControllerUpdated(const ControllerRecord& record) override {
        Add("controller " + std::to_string(record.controllerId) + " pressed " +
            std::to_string(record.input.buttonPressed));
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    bool WaitForCount(size_t count) {
        return WaitFor([&] { return Events().size() >= count; });
    }

  private:
    void Add(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(name_ + event);
    }
    std::string name_;
    std::mutex mutex_;
    std::vector<std::string> events_;
};

struct ReceivedMessage {
    uint32_t type = 0;
    std::vector<uint8_t> payload;
};

class TestCompanion {
  public:
    explicit TestCompanion(const std::string& suffix)
        : inPath_(platform::PipePath(kPipeBaseNameIn, suffix)),
          outPath_(platform::PipePath(kPipeBaseNameOut, suffix)) {}

    // Creates "In" (read by the companion) and "Out" (written by it).
    bool Create(std::string& error, bool withOut = true) {
        return in_.Create(inPath_, platform::PipeAccess::kRead, error) &&
               (!withOut || out_.Create(outPath_, platform::PipeAccess::kWrite, error));
    }
    bool Create() {
        std::string error;
        return Create(error);
    }

    // Accepts the driver's "In", then its "Out"; an "Out" the driver opened and closed again
    // (its partner was gone) is skipped. On Windows such an instance makes Accept fail once.
    bool AcceptDriver() {
        if (!AcceptIn()) return false;
        return WaitFor([&] { return out_.Accept(toDriver_, 100) && !toDriver_.PeerGone(); },
                       kAcceptTimeoutMs);
    }
    bool AcceptIn() { return in_.Accept(fromDriver_, kAcceptTimeoutMs); }

    // Ends the current connection, as a companion that goes away does.
    void Disconnect() {
        fromDriver_.Close();
        toDriver_.Close();
    }

    bool SendRaw(const uint8_t* bytes, size_t length) { return toDriver_.WriteAll(bytes, length); }
    bool SendRaw(const std::vector<uint8_t>& bytes) { return SendRaw(bytes.data(), bytes.size()); }
    bool Send(uint32_t type, const uint8_t* payload, uint32_t length) {
        return SendRaw(Framed(type, std::vector<uint8_t>(payload, payload + length)));
    }
    bool SendRefreshRate(int32_t hz) {
        uint8_t payload[wire::kRefreshRateSize];
        wire::EncodeRefreshRate(hz, payload, sizeof payload);
        return Send(wire::kRefreshRateMessage, payload, sizeof payload);
    }

    // Reads one whole message the driver wrote; false when the driver's end closed.
    bool Receive(ReceivedMessage& message) {
        uint8_t header[wire::kHeaderSize];
        if (!ReadExact(header, sizeof header)) return false;
        const wire::MessageHeader decoded = wire::DecodeHeader(header);
        message.type = decoded.type;
        message.payload.assign(decoded.length, 0);
        return ReadExact(message.payload.data(), decoded.length);
    }

    // True when the driver closed its end of "In" (a read ends without data); false when it
    // wrote instead, or kept the pipe open for `waitMs`.
    bool DriverClosedItsEnd(uint32_t waitMs = 30000) {
        uint8_t byte;
        bool timedOut = false;
        return fromDriver_.ReadSomeWithin(&byte, 1, waitMs, timedOut) == 0 && !timedOut;
    }

    platform::PipeStream& fromDriver() { return fromDriver_; }

  private:
    bool ReadExact(uint8_t* buffer, size_t length) {
        for (size_t have = 0, got = 0; have < length; have += got) {
            got = fromDriver_.ReadSome(buffer + have, length - have);
            if (got == 0) return false;
        }
        return true;
    }

    std::string inPath_;
    std::string outPath_;
    platform::PipeListener in_;
    platform::PipeListener out_;
    platform::PipeStream fromDriver_;
    platform::PipeStream toDriver_;
};

}  // namespace quillo::test
