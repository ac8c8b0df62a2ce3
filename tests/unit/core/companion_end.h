// The companion's end of the two pipes, in the test's own process: creates both pipes, accepts
// the driver's connection and reads the driver's messages one by one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/message_reader.h"
#include "link/pipe_names.h"
#include "platform/pipe.h"

namespace quillo::test {

struct ReceivedMessage {
    uint32_t type = 0;
    std::vector<uint8_t> payload;
};

class CompanionEnd {
  public:
    explicit CompanionEnd(const std::string& suffix) {
        std::string error;
        created_ = in_.Create(platform::PipePath(kPipeBaseNameIn, suffix),
                              platform::PipeAccess::kRead, error) &&
                   out_.Create(platform::PipePath(kPipeBaseNameOut, suffix),
                               platform::PipeAccess::kWrite, error);
    }
    bool created() const { return created_; }

    // Waits for the driver to open both pipes.
    bool Accept(uint32_t timeoutMs = 20000) {
        reader_.Reset();
        return in_.Accept(fromDriver_, timeoutMs) && out_.Accept(toDriver_, timeoutMs);
    }
    // Closes this connection; the driver notices and connects again.
    void Disconnect() {
        fromDriver_.Close();
        toDriver_.Close();
    }

    // Blocks until the next whole message from the driver. False when the stream ended.
    bool Read(ReceivedMessage& out) {
        while (!reader_.HasMessage()) {
            if (reader_.state() == wire::MessageReader::State::kFailed) return false;
            const size_t got = fromDriver_.ReadSome(reader_.WriteCursor(), reader_.BytesWanted());
            if (got == 0) return false;
            reader_.Commit(got);
        }
        out.type = reader_.type();
        out.payload.assign(reader_.payload(), reader_.payload() + reader_.length());
        reader_.Next();
        return true;
    }

    bool Send(const uint8_t* message, size_t size) { return toDriver_.WriteAll(message, size); }

  private:
    bool created_ = false;
    platform::PipeListener in_;
    platform::PipeListener out_;
    platform::PipeStream fromDriver_;
    platform::PipeStream toDriver_;
    wire::MessageReader reader_;
};

}  // namespace quillo::test
