// The companion's end of the two pipes: creates both as server, accepts the driver (its write
// end first, then its read end), reads what the driver sends on a thread of its own and hands
// it to the main loop as events; writes the companion's messages whole. When the driver goes
// away it waits for the next one.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "link/wire_format.h"
#include "platform/pipe.h"

namespace quillo::companion {

struct LinkEvent {
    enum class Kind {
        kConnected,
        kDisconnected,
        kFrameInfo,
        kHapticPulse,
        kUnknownMessage,  // a type the companion does not read; skipped
        kBadMessage,      // a FrameInfo or HapticPulse that did not decode, or bad framing
    };
    Kind kind = Kind::kConnected;
    uint32_t connection = 0;  // 1 for the first driver connection, 2 for the next, ...
    wire::FrameInfo frameInfo;
    wire::HapticPulse haptic;
    uint32_t type = 0;
    uint32_t length = 0;
    wire::WireError error = wire::WireError::kNone;
};

class CompanionLink {
  public:
    CompanionLink() = default;
    ~CompanionLink();
    CompanionLink(const CompanionLink&) = delete;
    CompanionLink& operator=(const CompanionLink&) = delete;

    // Creates both pipes (names with `suffix` appended, see platform/pipe.h). On failure
    // `error` says why (for instance another companion serving them).
    bool Create(const std::string& suffix, std::string& error);
    const std::string& inPath() const { return inPath_; }
    const std::string& outPath() const { return outPath_; }

    // Starts accepting; every connection's messages arrive as events.
    void Start();
    // Ends the connection and the thread. Idempotent.
    void Stop();

    // Writes one whole message when connected. False when not connected or the write failed
    // (the connection then ends).
    bool Send(uint32_t type, const uint8_t* payload, uint32_t length);
    // Closes the current connection; the driver will reconnect.
    void DropConnection();

    bool connected() const { return connected_.load(); }
    uint32_t connection() const { return connection_.load(); }
    uint64_t messagesSent() const { return messagesSent_.load(); }

    // Takes the oldest event, false when there is none.
    bool PollEvent(LinkEvent& event);

  private:
    void AcceptLoop();
    // Reads and reports the driver's messages until the connection ends.
    void ReadConnection(uint32_t connection);
    void Push(const LinkEvent& event);

    std::string inPath_;
    std::string outPath_;
    platform::PipeListener inListener_;   // the driver writes, we read
    platform::PipeListener outListener_;  // we write, the driver reads

    std::atomic<bool> running_{false};
    std::atomic<bool> connected_{false};
    std::atomic<uint32_t> connection_{0};
    std::atomic<uint64_t> messagesSent_{0};

    // streamLock_ guards replacing the streams and interrupting them; sendLock_ guards writing
    // and closing the write stream. Order: stream, send.
    std::mutex streamLock_;
    std::mutex sendLock_;
    platform::PipeStream fromDriver_;
    platform::PipeStream toDriver_;
    std::thread thread_;

    std::mutex eventLock_;
    std::deque<LinkEvent> events_;
};

}  // namespace quillo::companion
