// Framing of a byte stream split in every possible way.
#include "link/message_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace quillo::test {
namespace {

using namespace quillo::wire;

using Received = std::pair<uint32_t, std::vector<uint8_t>>;  // type, payload

void Append(std::vector<uint8_t>& stream, uint32_t type, const std::vector<uint8_t>& payload) {
    uint8_t buffer[kHeaderSize + kMaxPayloadLength];
    const size_t size = EncodeMessage(type, payload.data(), static_cast<uint32_t>(payload.size()),
                                      buffer, sizeof buffer);
    ASSERT_EQ(kHeaderSize + payload.size(), size);
    stream.insert(stream.end(), buffer, buffer + size);
}

// Feeds `stream` in chunks of `chunk` bytes and collects the messages.
std::vector<Received> FeedInChunks(const std::vector<uint8_t>& stream, size_t chunk) {
    MessageReader reader;
    std::vector<Received> out;
    size_t offset = 0;
    while (offset < stream.size()) {
        const size_t size = std::min(chunk, stream.size() - offset);
        size_t used = 0;
        while (used < size) {
            const size_t took = reader.Feed(stream.data() + offset + used, size - used);
            used += took;
            if (took == 0 && !reader.HasMessage()) {
                ADD_FAILURE() << "the reader takes no bytes and has no message (state "
                              << static_cast<int>(reader.state()) << ")";
                return out;
            }
            if (reader.HasMessage()) {
                out.push_back(
                    {reader.type(),
                     std::vector<uint8_t>(reader.payload(), reader.payload() + reader.length())});
                reader.Next();
            }
            EXPECT_NE(MessageReader::State::kFailed, reader.state());
            if (reader.state() == MessageReader::State::kFailed) return out;
        }
        offset += size;
    }
    EXPECT_EQ(MessageReader::State::kReadingHeader, reader.state());
    return out;
}

TEST(MessageReader, AnySplitOfTheStreamYieldsTheSameMessages) {
    std::vector<uint8_t> big(kMaxPayloadLength);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
    // An empty payload is complete with its header; type 99 is unknown, skipped by dispatch.
    const std::vector<Received> sent = {{kRecenterMessage, {}},
                                        {99, std::vector<uint8_t>(20, 0x63)},
                                        {kRefreshRateMessage, {72, 0, 0, 0}},
                                        {kTrackingMessage, big},
                                        {kShutdownRuntimeMessage, {1}}};
    std::vector<uint8_t> stream;
    for (const auto& [type, payload] : sent) Append(stream, type, payload);

    for (size_t chunk : {size_t{1}, size_t{3}, size_t{8}, size_t{13}, stream.size()}) {
        SCOPED_TRACE(chunk);
        EXPECT_TRUE(FeedInChunks(stream, chunk) == sent);
    }
}

}  // namespace
}  // namespace quillo::test
