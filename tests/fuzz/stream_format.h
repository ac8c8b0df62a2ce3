// The input format of the well-framed stream target: a list of entries, each turned into one
// correctly framed message, so that the fuzzer spends its time on payloads rather than on
// headers the reader would refuse. The seed generator writes the same format.
//
// Entry: op (1 byte), kind selector (1 byte), payload length (2 bytes, little-endian, taken
// modulo kMaxPayloadLength + 1), then that many payload bytes (missing ones are zero).
//   op % 6: 0 tracking (the selector picks the kind, written into the last four payload
//   bytes), 1 recenter, 2 refresh rate, 3 controller record, 4 a type the driver skips,
//   5 the split: the selector sets how many bytes the reader is fed at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/wire_format.h"

namespace quillo::fuzz {

enum StreamOp : uint8_t {
    kOpTracking = 0,
    kOpRecenter = 1,
    kOpRefreshRate = 2,
    kOpController = 3,
    kOpSkipped = 4,
    kOpSplit = 5,
    kOpCount = 6
};

// Every tracking kind, and one unlisted value (read as a rotation matrix).
constexpr int32_t kTrackingKinds[] = {0, 1, 2, 3, 4, 5, 6, 50, 254, 0x7FFFFFFF, 7};
constexpr size_t kTrackingKindCount = sizeof kTrackingKinds / sizeof kTrackingKinds[0];

// A type no side of the link uses: skipped by the driver.
constexpr uint32_t kSkippedType = 0x51;
// The last message of every stream: when it arrives, every message before it was read whole.
constexpr uint32_t kSentinelType = 0x5E;
constexpr uint8_t kSentinelPayload[] = {'e', 'n', 'd', ' ', 'o', 'f', ' ', 'i', 'n', 'p', 'u', 't'};

inline void AppendEntry(std::vector<uint8_t>& out, uint8_t op, uint8_t selector,
                        const uint8_t* payload, uint16_t length) {
    out.push_back(op);
    out.push_back(selector);
    out.push_back(static_cast<uint8_t>(length & 0xFF));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.insert(out.end(), payload, payload + length);
}

}  // namespace quillo::fuzz
