// An in-process stand-in for the companion's pipe side, for the link tests: creates both
// pipes as server, accepts the driver's two ends and reads and writes whole messages.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/pipe_names.h"
#include "link/wire_format.h"
#include "platform/pipe.h"
#include "platform/process.h"

namespace quillo::testing {

// Generous: the tests must pass on a loaded two-core machine and under Wine.
constexpr uint32_t kAcceptTimeoutMs = 30000;

// A suffix no other test (or test run) uses, so tests never meet a real companion or each other.
inline std::string UniquePipeSuffix() {
    static std::atomic<int> counter{0};
    return "_unit_" + std::to_string(platform::CurrentProcessId()) + "_" +
           std::to_string(counter.fetch_add(1));
}

// Polls `condition` until it holds or `timeoutMs` pass; returns its last value.
inline bool WaitFor(const std::function<bool()>& condition, uint32_t timeoutMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

struct ReceivedMessage {
    uint32_t type = 0;
    std::vector<uint8_t> payload;
};

class TestCompanion {
  public:
    explicit TestCompanion(const std::string& suffix)
        : inPath_(platform::PipePath(kPipeBaseNameIn, suffix)),
          outPath_(platform::PipePath(kPipeBaseNameOut, suffix)) {}

    // Creates both pipes; the "In" one is read by the companion, "Out" written.
    bool Create(std::string& error) {
        return in_.Create(inPath_, platform::PipeAccess::kRead, error) &&
               out_.Create(outPath_, platform::PipeAccess::kWrite, error);
    }
    bool Create() {
        std::string error;
        return Create(error);
    }
    bool CreateInOnly(std::string& error) {
        return in_.Create(inPath_, platform::PipeAccess::kRead, error);
    }

    // Accepts the driver's two ends (it opens "In" first, then "Out").
    // An "Out" the driver opened and closed again before (its partner was gone) is skipped.
    bool AcceptDriver() {
        if (!in_.Accept(fromDriver_, kAcceptTimeoutMs)) return false;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kAcceptTimeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            // On Windows an instance opened and closed again makes Accept fail once.
            if (out_.Accept(toDriver_, 100) && !toDriver_.PeerGone()) return true;
        }
        return false;
    }

    // Accepts only the driver's write end ("In").
    bool AcceptIn() { return in_.Accept(fromDriver_, kAcceptTimeoutMs); }

    // Ends the current connection, as a companion that goes away does.
    void Disconnect() {
        fromDriver_.Close();
        toDriver_.Close();
    }

    bool SendRaw(const uint8_t* bytes, size_t length) { return toDriver_.WriteAll(bytes, length); }

    bool Send(uint32_t type, const uint8_t* payload, uint32_t length) {
        std::vector<uint8_t> message(wire::kHeaderSize + length);
        wire::MessageHeader header;
        header.length = length;
        header.type = type;
        wire::EncodeHeader(header, message.data());
        for (uint32_t i = 0; i < length; ++i) {
            message[wire::kHeaderSize + i] = payload[i];
        }
        return SendRaw(message.data(), message.size());
    }

    bool SendRefreshRate(int32_t hz) {
        uint8_t payload[wire::kRefreshRateSize];
        wire::EncodeRefreshRate(hz, payload, sizeof payload);
        return Send(wire::kRefreshRateMessage, payload, sizeof payload);
    }

    // Reads one whole message the driver wrote; false when the driver's end closed.
    bool Receive(ReceivedMessage& message) {
        uint8_t header[wire::kHeaderSize];
        if (!ReadExact(fromDriver_, header, sizeof header)) {
            return false;
        }
        const wire::MessageHeader decoded = wire::DecodeHeader(header);
        message.type = decoded.type;
        message.payload.assign(decoded.length, 0);
        return ReadExact(fromDriver_, message.payload.data(), decoded.length);
    }

    // True once the driver has closed its write end (after it dropped the connection).
    bool DriverClosedItsEnd() {
        uint8_t byte;
        return fromDriver_.ReadSome(&byte, 1) == 0;
    }

    platform::PipeStream& fromDriver() { return fromDriver_; }
    platform::PipeStream& toDriver() { return toDriver_; }

  private:
    static bool ReadExact(platform::PipeStream& stream, uint8_t* buffer, size_t length) {
        size_t have = 0;
        while (have < length) {
            const size_t got = stream.ReadSome(buffer + have, length - have);
            if (got == 0) {
                return false;
            }
            have += got;
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

}  // namespace quillo::testing
