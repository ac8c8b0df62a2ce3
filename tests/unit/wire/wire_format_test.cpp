// Byte layouts of every message, checked against hand-placed bytes, and every rejection.
#include "link/wire_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <tuple>
#include <utility>
#include <vector>

#include "link/little_endian.h"

namespace quillo::test {
namespace {

using namespace quillo::wire;

TEST(WireHeader, LittleEndianFieldsAndLengthLimits) {
    uint8_t bytes[kHeaderSize];
    EncodeHeader(MessageHeader{0x01020304u, kControllerMessage}, bytes);
    const uint8_t expected[kHeaderSize] = {4, 3, 2, 1, 10, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(bytes, expected, kHeaderSize));
    const MessageHeader decoded = DecodeHeader(bytes);
    EXPECT_EQ(std::make_tuple(decoded.length, decoded.type), std::make_tuple(0x01020304u, 10u));

    EXPECT_EQ(WireError::kNone, ValidatePayloadLength(0));
    EXPECT_EQ(WireError::kNone, ValidatePayloadLength(1024));
    EXPECT_EQ(WireError::kLengthTooLarge, ValidatePayloadLength(1025));
    EXPECT_EQ(WireError::kLengthNegative, ValidatePayloadLength(0x80000000u));
    EXPECT_EQ(WireError::kLengthNegative, ValidatePayloadLength(0xFFFFFFFFu));
}

TEST(WireFrameInfo, LayoutAndLinkNameLimits) {
    const uint32_t handles[2] = {0xAABBCCDDu, 0x11223344u};
    const std::string name(58, 'k');
    uint8_t out[kFrameInfoSize + 4];
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(WireError::kNone, EncodeFrameInfo(4242, handles, name.c_str(), true, out, 76));
    EXPECT_EQ(std::make_tuple(4242u, 0xAABBCCDDu, 0x11223344u),
              std::make_tuple(le::ReadU32(out), le::ReadU32(out + 4), le::ReadU32(out + 8)));
    EXPECT_EQ(0, std::memcmp(out + 12, name.data(), 58));
    EXPECT_EQ(0, out[70]);  // the NUL
    EXPECT_EQ(1, out[72]);
    EXPECT_EQ(0, out[73] | out[74] | out[75]);
    EXPECT_EQ(0xEE, out[76]) << "wrote past 76 bytes";

    FrameInfo info;
    ASSERT_EQ(WireError::kNone, DecodeFrameInfo(out, 76, info));
    EXPECT_EQ(name, std::string(info.linkName));
    EXPECT_EQ(1, info.invertY);
    EXPECT_EQ(0x11223344u, info.outputHandleLow[1]);

    EXPECT_EQ(WireError::kPayloadTooShort, DecodeFrameInfo(out, 75, info));
    std::memset(out + 12, 'x', 60);
    EXPECT_EQ(WireError::kLinkNameUnterminated, DecodeFrameInfo(out, 76, info));

    const std::string fits(59, 'a'), tooLong(60, 'a');
    EXPECT_EQ(WireError::kNone, EncodeFrameInfo(1, handles, fits.c_str(), false, out, 76));
    EXPECT_EQ(WireError::kLinkNameTooLong,
              EncodeFrameInfo(1, handles, tooLong.c_str(), false, out, 76));
    EXPECT_EQ(WireError::kBufferTooSmall, EncodeFrameInfo(1, handles, "n", false, out, 75));
}

TEST(WireSmallMessages, HapticPulseAndRefreshRate) {
    uint8_t out[kHapticPulseSize];
    ASSERT_EQ(WireError::kNone, EncodeHapticPulse(HapticPulse{7, 0x01020304u, 3999}, out, 12));
    const uint8_t expected[12] = {7, 0, 0, 0, 4, 3, 2, 1, 0x9F, 0x0F, 0, 0};
    EXPECT_EQ(0, std::memcmp(out, expected, 12));
    HapticPulse pulse;
    ASSERT_EQ(WireError::kNone, DecodeHapticPulse(out, 12, pulse));
    EXPECT_EQ(3999, pulse.durationMicros);
    EXPECT_EQ(WireError::kPayloadTooShort, DecodeHapticPulse(out, 11, pulse));

    const uint8_t rate[5] = {72, 0, 0, 0, 9};  // a longer payload is read from offset 0
    int32_t hz = 0;
    ASSERT_EQ(WireError::kNone, DecodeRefreshRate(rate, 5, hz));
    EXPECT_EQ(72, hz);
    const uint8_t negative[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(WireError::kNone, DecodeRefreshRate(negative, 4, hz));
    EXPECT_EQ(-1, hz);
    hz = 5;
    EXPECT_EQ(WireError::kPayloadTooShort, DecodeRefreshRate(rate, 3, hz));
    EXPECT_EQ(5, hz) << "a rejected payload must not change the output";
}

TEST(WireControllerRecord, DecodesEveryFieldAtItsOffset) {
    uint8_t bytes[136];
    std::memset(bytes, 0xA5, sizeof bytes);  // the unread and padding bytes stay garbage
    le::WriteU32(bytes + 0, 0xFFFFFFFFu);
    le::WriteU32(bytes + 4, 2);
    for (int i = 0; i < 12; ++i) le::WriteF32(bytes + 8 + 4 * i, 0.5f * i);
    le::WriteU32(bytes + 72, 99);
    le::WriteU64(bytes + 80, 0x0000000700000005ull);
    le::WriteU64(bytes + 88, 0x8000000000000001ull);
    for (int i = 0; i < 10; ++i) le::WriteF32(bytes + 96 + 4 * i, -1.0f - i);

    ControllerRecord record;
    ASSERT_EQ(WireError::kNone, DecodeControllerRecord(bytes, 136, record));
    EXPECT_EQ(std::make_tuple(record.controllerId, record.status, record.input.packetNum,
                              record.input.buttonPressed, record.input.buttonTouched),
              std::make_tuple(0xFFFFFFFFu, 2u, 99u, 0x0000000700000005ull, 0x8000000000000001ull));
    EXPECT_EQ(
        std::make_tuple(record.pose[0][0], record.pose[0][3], record.pose[2][3],
                        record.input.axis[0][0], record.input.axis[0][1], record.input.axis[4][1]),
        std::make_tuple(0.0f, 1.5f, 5.5f, -1.0f, -2.0f, -10.0f));

    uint8_t encoded[136];
    ASSERT_EQ(WireError::kNone, EncodeControllerRecord(record, encoded, sizeof encoded));
    // Same bytes everywhere except the unread block and the padding, which encode as zero.
    EXPECT_EQ(0, std::memcmp(encoded, bytes, 56));
    EXPECT_EQ(0, std::memcmp(encoded + 72, bytes + 72, 4));
    EXPECT_EQ(0, std::memcmp(encoded + 80, bytes + 80, 56));
    EXPECT_EQ(0, encoded[56] | encoded[71] | encoded[76] | encoded[79]);

    EXPECT_EQ(WireError::kPayloadTooShort, DecodeControllerRecord(bytes, 135, record));
}

// Each kind's float fields in wire order from offset 0, as runs of consecutive members.
std::vector<float*> Fields(std::initializer_list<std::pair<float*, size_t>> runs) {
    std::vector<float*> out;
    for (const auto& run : runs) {
        for (size_t i = 0; i < run.second; ++i) out.push_back(run.first + i);
    }
    return out;
}

std::vector<float*> FieldsOf(int32_t kind, TrackingUpdate& u) {
    switch (kind) {
        case 2:
            return Fields({{u.inertial.gyro, 3}, {u.inertial.accel, 3}, {u.inertial.mag, 3}});
        case 3:
            return Fields({{u.angles, 3}, {u.position, 3}, {&u.unusedFloat, 1}});
        case 4:
            return Fields({{u.quaternion, 4}, {u.position, 3}});
        case 5:
            return Fields({{u.position, 3}});
        case 0:
        case 6:
        case 99:  // unlisted: read as a rotation matrix
            return Fields({{u.matrix, 12}});
        default:
            return {};
    }
}

TEST(WireTracking, EveryKindReadsItsFieldsAtTheirOffsetsAndEncodesTheSameBytes) {
    const struct {
        int32_t kind;
        size_t naturalSize;
    } layouts[] = {{0, 52}, {6, 52}, {99, 52}, {2, 40},  {3, 40},        {4, 32},
                   {5, 16}, {1, 4},  {50, 4},  {254, 8}, {0x7FFFFFFF, 4}};
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.kind);
        uint8_t bytes[64] = {};
        TrackingUpdate probe;
        const size_t count = FieldsOf(layout.kind, probe).size();
        for (size_t i = 0; i < count; ++i) le::WriteF32(bytes + 4 * i, 1.5f + i);
        if (layout.kind == 3) bytes[35] = 0x42;  // the last of the 8 unused bytes
        if (layout.kind == 254) bytes[0] = 255;  // status: one byte, then three zero bytes
        le::WriteI32(bytes + layout.naturalSize - 4, layout.kind);
        TrackingUpdate decoded;
        ASSERT_EQ(WireError::kNone, DecodeTrackingPayload(bytes, layout.naturalSize, decoded));
        EXPECT_EQ(layout.kind, decoded.wireKind);
        const std::vector<float*> fields = FieldsOf(layout.kind, decoded);
        for (size_t i = 0; i < count; ++i) EXPECT_EQ(1.5f + i, *fields[i]) << "field " << i;
        EXPECT_EQ(layout.kind == 3 ? 0x42 : 0, decoded.unusedBytes[7]);
        EXPECT_EQ(layout.kind == 254 ? 255 : 0, decoded.status);

        uint8_t encoded[64];
        size_t written = 0;
        ASSERT_EQ(WireError::kNone, EncodeTrackingPayload(decoded, encoded, 64, written));
        ASSERT_EQ(layout.naturalSize, written);
        EXPECT_EQ(0, std::memcmp(bytes, encoded, written));
    }
    EXPECT_EQ(TrackingKind::kRotationMatrix, EffectiveTrackingKind(99));
}

TEST(WireTracking, RejectsPayloadsShorterThanTheirKind) {
    std::vector<uint8_t> bytes(64, 0);
    TrackingUpdate out;
    EXPECT_EQ(WireError::kTrackingNoKind, DecodeTrackingPayload(bytes.data(), 3, out));
    EXPECT_EQ(WireError::kTrackingNoKind, DecodeTrackingPayload(bytes.data(), 0, out));

    const struct {
        int32_t kind;
        size_t minimum;
    } cases[] = {{0, 52}, {99, 52}, {-1, 52}, {2, 40}, {3, 28}, {4, 32},
                 {5, 16}, {6, 52},  {254, 5}, {1, 4},  {50, 4}, {0x7FFFFFFF, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        le::WriteI32(bytes.data() + c.minimum - 4, c.kind);
        EXPECT_EQ(WireError::kNone, DecodeTrackingPayload(bytes.data(), c.minimum, out));
        if (c.minimum > 4) {
            le::WriteI32(bytes.data() + c.minimum - 5, c.kind);
            TrackingUpdate untouched;
            untouched.position[0] = 42.0f;
            EXPECT_EQ(WireError::kTrackingTooShort,
                      DecodeTrackingPayload(bytes.data(), c.minimum - 1, untouched));
            EXPECT_EQ(42.0f, untouched.position[0]);
        }
    }
}

}  // namespace
}  // namespace quillo::test
