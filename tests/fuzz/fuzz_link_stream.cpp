// Well-framed companion streams (see stream_format.h), fed to the real message reader in
// splits the input chooses. After every message: the reader never fails (the stream stays
// aligned), each message comes out with the type and length it was framed with, in order,
// and every published pose is finite. The stream ends with a sentinel message, which must
// arrive last.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "fuzz/link_under_fuzz.h"
#include "fuzz/stream_format.h"
#include "link/little_endian.h"

namespace {

using namespace quillo;
using fuzz::Require;

using Framed = std::pair<uint32_t, uint32_t>;  // type and length

// Builds the byte stream and the list of what was framed.
void BuildStream(const uint8_t* data, size_t size, std::vector<uint8_t>& stream,
                 std::vector<Framed>& framed, std::vector<size_t>& splits) {
    size_t offset = 0;
    uint8_t payload[wire::kMaxPayloadLength];
    uint8_t message[wire::kHeaderSize + wire::kMaxPayloadLength];
    auto frame = [&](uint32_t type, const uint8_t* bytes, uint32_t length) {
        const size_t written = wire::EncodeMessage(type, bytes, length, message, sizeof message);
        Require(written == wire::kHeaderSize + length, "message encodes");
        stream.insert(stream.end(), message, message + written);
        framed.push_back({type, length});
    };
    while (offset + 4 <= size) {
        const uint8_t op = data[offset] % fuzz::kOpCount;
        const uint8_t selector = data[offset + 1];
        uint32_t length =
            (data[offset + 2] | (data[offset + 3] << 8)) % (wire::kMaxPayloadLength + 1);
        offset += 4;
        std::memset(payload, 0, sizeof payload);
        const size_t available = size - offset < length ? size - offset : length;
        std::memcpy(payload, data + offset, available);
        offset += available;
        if (op == fuzz::kOpSplit) {
            splits.push_back(selector == 0 ? stream.size() + 1 : selector);
            continue;
        }
        if (op == fuzz::kOpTracking) {
            if (length < 4) length = 4;
            const int32_t kind = fuzz::kTrackingKinds[selector % fuzz::kTrackingKindCount];
            le::WriteI32(payload + length - 4, kind);
        }
        // The message type of each op, in StreamOp order.
        const uint32_t types[] = {wire::kTrackingMessage, wire::kRecenterMessage,
                                  wire::kRefreshRateMessage, wire::kControllerMessage,
                                  fuzz::kSkippedType};
        frame(types[op], payload, length);
    }
    frame(fuzz::kSentinelType, fuzz::kSentinelPayload, sizeof fuzz::kSentinelPayload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::LinkUnderFuzz* link = new fuzz::LinkUnderFuzz();  // lives for the whole run
    std::vector<uint8_t> stream;
    std::vector<Framed> framed;
    std::vector<size_t> splits;
    BuildStream(data, size, stream, framed, splits);

    wire::MessageReader& reader = link->reader();
    reader.Reset();
    size_t offset = 0;
    size_t next = 0;  // index into framed of the message expected next
    size_t split = 0;
    while (offset < stream.size()) {
        const size_t chunk = splits.empty() ? stream.size() : splits[split++ % splits.size()];
        const size_t end = offset + chunk < stream.size() ? offset + chunk : stream.size();
        while (offset < end) {
            offset += reader.Feed(stream.data() + offset, end - offset);
            Require(reader.state() != wire::MessageReader::State::kFailed, "stream stays aligned");
            if (!reader.HasMessage()) continue;
            Require(next < framed.size(), "no message beyond those framed");
            Require(framed[next] == Framed{reader.type(), reader.length()},
                    "messages come out as framed, in order");
            link->Dispatch(reader.type(), reader.payload(), reader.length());
            reader.Next();
            ++next;
        }
    }
    Require(next == framed.size(), "the sentinel arrives");
    Require(framed.back().first == fuzz::kSentinelType, "the sentinel is last");
    link->EndInput();
    return 0;
}
