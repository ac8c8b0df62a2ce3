#include "link/message_reader.h"

#include <cstring>

namespace quillo::wire {

uint8_t* MessageReader::WriteCursor() {
    switch (state_) {
        case State::kReadingHeader:
            return headerBytes_ + filled_;
        case State::kReadingPayload:
            return payload_ + filled_;
        default:
            return nullptr;
    }
}

size_t MessageReader::BytesWanted() const {
    switch (state_) {
        case State::kReadingHeader:
            return kHeaderSize - filled_;
        case State::kReadingPayload:
            return header_.length - filled_;
        default:
            return 0;
    }
}

void MessageReader::Commit(size_t count) {
    const size_t wanted = BytesWanted();
    filled_ += count < wanted ? count : wanted;
    if (filled_ == kHeaderSize && state_ == State::kReadingHeader) {
        CompletePiece();
    } else if (state_ == State::kReadingPayload && filled_ == header_.length) {
        CompletePiece();
    }
}

void MessageReader::CompletePiece() {
    if (state_ == State::kReadingHeader) {
        header_ = DecodeHeader(headerBytes_);
        filled_ = 0;
        error_ = ValidatePayloadLength(header_.length);
        if (error_ != WireError::kNone) {
            state_ = State::kFailed;
            return;
        }
        state_ = header_.length == 0 ? State::kMessageReady : State::kReadingPayload;
        return;
    }
    state_ = State::kMessageReady;
}

size_t MessageReader::Feed(const uint8_t* data, size_t size) {
    size_t consumed = 0;
    while (consumed < size) {
        const size_t wanted = BytesWanted();
        if (wanted == 0) break;  // message ready or failed
        const size_t take = size - consumed < wanted ? size - consumed : wanted;
        std::memcpy(WriteCursor(), data + consumed, take);
        consumed += take;
        Commit(take);
    }
    return consumed;
}

void MessageReader::Next() {
    if (state_ != State::kMessageReady) return;
    state_ = State::kReadingHeader;
    filled_ = 0;
}

void MessageReader::Reset() {
    state_ = State::kReadingHeader;
    error_ = WireError::kNone;
    header_ = MessageHeader{};
    filled_ = 0;
}

}  // namespace quillo::wire
