// An in-process stand-in for the companion's pipe side (both pipes as server, whole messages
// each way), and the small helpers the link tests share.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/pipe_names.h"
#include "link/wire_format.h"
#include "platform/log_sink.h"
#include "platform/pipe.h"
#include "platform/process.h"

namespace quillo::test {

// Generous: a hang guard only, for a loaded two-core machine and Wine.
constexpr uint32_t kAcceptTimeoutMs = 30000;

// Pipe names no companion, other test or other test run uses.
inline std::string UniquePipeSuffix() {
    static std::atomic<int> counter{0};
    return "_unit_" + std::to_string(platform::CurrentProcessId()) + "_" +
           std::to_string(counter.fetch_add(1));
}

// Polls `condition` until it holds or `timeoutMs` pass; returns its last value.
inline bool WaitFor(const std::function<bool()>& condition, uint32_t timeoutMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Collects the link's log lines while alive.
class LogCapture {
  public:
    LogCapture() {
        std::lock_guard<std::mutex> lock(Mutex());
        Lines().clear();
        platform::SetLogSink(&LogCapture::Sink);
    }
    ~LogCapture() { platform::SetLogSink(nullptr); }
    static std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(Mutex());
        return Lines();
    }
    static size_t Count(const std::string& fragment) {
        size_t n = 0;
        for (const std::string& line : lines()) n += line.find(fragment) != std::string::npos;
        return n;
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

struct ReceivedMessage {
    uint32_t type = 0;
    std::vector<uint8_t> payload;
};

class TestCompanion {
  public:
    explicit TestCompanion(const std::string& suffix)
        : inPath_(platform::PipePath(kPipeBaseNameIn, suffix)),
          outPath_(platform::PipePath(kPipeBaseNameOut, suffix)) {}

    // Creates "In" (read by the companion) and, unless told not to, "Out" (written by it).
    bool Create(std::string& error, bool withOut = true) {
        return in_.Create(inPath_, platform::PipeAccess::kRead, error) &&
               (!withOut || out_.Create(outPath_, platform::PipeAccess::kWrite, error));
    }
    bool Create() {
        std::string error;
        return Create(error);
    }

    // Accepts the driver's "In", then its "Out"; an "Out" the driver opened and closed again
    // (its partner was gone) is skipped.
    bool AcceptDriver() {
        if (!AcceptIn()) return false;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kAcceptTimeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            // On Windows an instance opened and closed again makes Accept fail once.
            if (out_.Accept(toDriver_, 100) && !toDriver_.PeerGone()) return true;
        }
        return false;
    }
    bool AcceptIn() { return in_.Accept(fromDriver_, kAcceptTimeoutMs); }

    // Ends the current connection, as a companion that goes away does.
    void Disconnect() {
        fromDriver_.Close();
        toDriver_.Close();
    }

    bool SendRaw(const uint8_t* bytes, size_t length) { return toDriver_.WriteAll(bytes, length); }
    bool Send(uint32_t type, const uint8_t* payload, uint32_t length) {
        std::vector<uint8_t> message(wire::kHeaderSize + length);
        return wire::EncodeMessage(type, payload, length, message.data(), message.size()) ==
                   message.size() &&
               SendRaw(message.data(), message.size());
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

    // True once the driver has closed its write end (after it dropped the connection).
    // True when the driver closed its end of "In" (a read ends without data); false when it
    // wrote instead, or kept the pipe open for 30 s (a hang guard, not a timing check).
    bool DriverClosedItsEnd() {
        uint8_t byte;
        bool timedOut = false;
        return fromDriver_.ReadSomeWithin(&byte, 1, 30000, timedOut) == 0 && !timedOut;
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

// Older name, still used by the headset tests.
namespace quillo {
namespace testing = test;
}
