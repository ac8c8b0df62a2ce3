// Incremental framing of the companion's byte stream: header bytes and payload bytes may arrive
// in any split (one byte per read, several messages per read); the reader yields whole
// messages in arrival order. Pure state machine over a fixed buffer: no platform calls, no
// allocation.
//
// Two ways to feed it:
// - Blocking reads of exactly what is missing (the pipe reader): read into WriteCursor() at
//   most BytesWanted() bytes, then Commit(n). BytesWanted() never spans past the current
//   header or payload, so a read never swallows the next message. Note that a payload of
//   length 0 is complete as soon as its header is.
// - Arbitrary chunks (tests, a socket drained in bulk): Feed(data, size) consumes up to the end
//   of the current message and returns how much it took; feed the rest after taking the message.
//
// A header whose length fails ValidatePayloadLength() puts the reader into the failed state;
// the stream cannot be realigned, so the connection has to be dropped (Reset() for the next).
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/wire_format.h"

namespace quillo::wire {

class MessageReader {
  public:
    enum class State : uint8_t {
        kReadingHeader,
        kReadingPayload,
        kMessageReady,  // type(), payload(), length() are valid until Next()
        kFailed,        // protocol violation; see error()
    };

    MessageReader() = default;

    State state() const { return state_; }
    bool HasMessage() const { return state_ == State::kMessageReady; }
    WireError error() const { return error_; }

    // Where the next bytes go and how many the current piece still needs (0 when a message
    // is ready or the reader has failed).
    uint8_t* WriteCursor();
    size_t BytesWanted() const;
    // Accounts for `count` bytes written at WriteCursor(); count must not exceed BytesWanted().
    void Commit(size_t count);

    // Copies from `data` up to the end of the current message; returns the bytes consumed.
    size_t Feed(const uint8_t* data, size_t size);

    // The message ready for dispatch.
    uint32_t type() const { return header_.type; }
    uint32_t length() const { return header_.length; }
    const uint8_t* payload() const { return payload_; }
    // The header as received (valid from the moment the header is complete, also when the
    // length was rejected, for the log line).
    const MessageHeader& header() const { return header_; }

    // Drops the ready message and starts on the next header.
    void Next();
    // Back to the initial state (a new connection).
    void Reset();

  private:
    void CompletePiece();

    State state_ = State::kReadingHeader;
    WireError error_ = WireError::kNone;
    MessageHeader header_;
    size_t filled_ = 0;  // bytes of the current piece (header or payload) received so far
    uint8_t headerBytes_[kHeaderSize] = {};
    uint8_t payload_[kMaxPayloadLength] = {};
};

}  // namespace quillo::wire
