#include "link/wire_format.h"

#include <cstring>

#include "link/little_endian.h"

namespace quillo::wire {

namespace {

constexpr size_t kKindFieldSize = 4;

// ControllerRecord offsets.
constexpr size_t kRecordId = 0;
constexpr size_t kRecordStatus = 4;
constexpr size_t kRecordPose = 8;
constexpr size_t kRecordUnread = 56;  // 16 bytes the driver does not read
constexpr size_t kRecordPacket = 72;
constexpr size_t kRecordPacketPadding = 76;
constexpr size_t kRecordPressed = 80;
constexpr size_t kRecordTouched = 88;
constexpr size_t kRecordAxes = 96;

// FrameInfo offsets.
constexpr size_t kFrameInfoPid = 0;
constexpr size_t kFrameInfoHandle0 = 4;
constexpr size_t kFrameInfoHandle1 = 8;
constexpr size_t kFrameInfoLinkName = 12;
constexpr size_t kFrameInfoInvertY = 72;

void ReadFloats(const uint8_t* p, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = le::ReadF32(p + 4 * i);
}

void WriteFloats(uint8_t* p, const float* in, size_t count) {
    for (size_t i = 0; i < count; ++i) le::WriteF32(p + 4 * i, in[i]);
}

}  // namespace

const char* DescribeWireError(WireError error) {
    switch (error) {
        case WireError::kNone:
            return "no error";
        case WireError::kLengthNegative:
            return "payload length has its top bit set";
        case WireError::kLengthTooLarge:
            return "payload length exceeds 1024 bytes";
        case WireError::kPayloadTooShort:
            return "payload shorter than its message type needs";
        case WireError::kTrackingNoKind:
            return "tracking payload too short to hold its kind";
        case WireError::kTrackingTooShort:
            return "tracking payload shorter than its kind needs";
        case WireError::kLinkNameUnterminated:
            return "link name is not NUL-terminated";
        case WireError::kLinkNameTooLong:
            return "link name longer than 59 characters";
        case WireError::kBufferTooSmall:
            return "output buffer too small";
        case WireError::kNonFiniteField:
            return "a value is not a finite number";
        case WireError::kNonFiniteResult:
            return "its values would make the pose non-finite";
    }
    return "unknown error";
}

const char* MessageTypeName(uint32_t type) {
    switch (type) {
        case kFrameInfo:
            return "FrameInfo";
        case kTrackingMessage:
            return "TrackingMessage";
        case kRecenterMessage:
            return "RecenterMessage";
        case kRefreshRateMessage:
            return "RefreshRateMessage";
        case kControllerMessage:
            return "ControllerMessage";
        case kHapticPulse:
            return "HapticPulse";
        case kShutdownRuntimeMessage:
            return "ShutdownRuntimeMessage";
        default:
            return "unknown";
    }
}

void EncodeHeader(const MessageHeader& header, uint8_t out[kHeaderSize]) {
    le::WriteU32(out, header.length);
    le::WriteU32(out + 4, header.type);
}

MessageHeader DecodeHeader(const uint8_t in[kHeaderSize]) {
    MessageHeader header;
    header.length = le::ReadU32(in);
    header.type = le::ReadU32(in + 4);
    return header;
}

WireError ValidatePayloadLength(uint32_t length) {
    if (length & 0x80000000u) return WireError::kLengthNegative;
    if (length > kMaxPayloadLength) return WireError::kLengthTooLarge;
    return WireError::kNone;
}

size_t EncodeMessage(uint32_t type, const uint8_t* payload, uint32_t length, uint8_t* out,
                     size_t capacity) {
    if (length > kMaxPayloadLength || capacity < kHeaderSize + length) return 0;
    EncodeHeader(MessageHeader{length, type}, out);
    if (length > 0) std::memcpy(out + kHeaderSize, payload, length);
    return kHeaderSize + length;
}

// ---- FrameInfo ------------------------------------------------------------------------------

WireError EncodeFrameInfo(uint32_t hostProcessId, const uint32_t outputHandleLow[2],
                          const char* linkName, bool invertY, uint8_t* out, size_t capacity) {
    if (capacity < kFrameInfoSize) return WireError::kBufferTooSmall;
    const size_t nameLength = std::strlen(linkName);
    if (nameLength >= kLinkNameFieldSize) return WireError::kLinkNameTooLong;
    std::memset(out, 0, kFrameInfoSize);
    le::WriteU32(out + kFrameInfoPid, hostProcessId);
    le::WriteU32(out + kFrameInfoHandle0, outputHandleLow[0]);
    le::WriteU32(out + kFrameInfoHandle1, outputHandleLow[1]);
    std::memcpy(out + kFrameInfoLinkName, linkName, nameLength);
    out[kFrameInfoInvertY] = invertY ? 1 : 0;
    return WireError::kNone;
}

WireError DecodeFrameInfo(const uint8_t* payload, size_t length, FrameInfo& out) {
    if (length < kFrameInfoSize) return WireError::kPayloadTooShort;
    const uint8_t* name = payload + kFrameInfoLinkName;
    if (std::memchr(name, 0, kLinkNameFieldSize) == nullptr) {
        return WireError::kLinkNameUnterminated;
    }
    out.hostProcessId = le::ReadU32(payload + kFrameInfoPid);
    out.outputHandleLow[0] = le::ReadU32(payload + kFrameInfoHandle0);
    out.outputHandleLow[1] = le::ReadU32(payload + kFrameInfoHandle1);
    std::memcpy(out.linkName, name, kLinkNameFieldSize);
    out.invertY = payload[kFrameInfoInvertY];
    return WireError::kNone;
}

// ---- HapticPulse ----------------------------------------------------------------------------

WireError EncodeHapticPulse(const HapticPulse& pulse, uint8_t* out, size_t capacity) {
    if (capacity < kHapticPulseSize) return WireError::kBufferTooSmall;
    le::WriteU32(out, pulse.controllerId);
    le::WriteU32(out + 4, pulse.timestampMicros);
    le::WriteU16(out + 8, pulse.durationMicros);
    out[10] = 0;
    out[11] = 0;
    return WireError::kNone;
}

WireError DecodeHapticPulse(const uint8_t* payload, size_t length, HapticPulse& out) {
    if (length < kHapticPulseSize) return WireError::kPayloadTooShort;
    out.controllerId = le::ReadU32(payload);
    out.timestampMicros = le::ReadU32(payload + 4);
    out.durationMicros = le::ReadU16(payload + 8);
    return WireError::kNone;
}

// ---- RefreshRateMessage ---------------------------------------------------------------------

WireError EncodeRefreshRate(int32_t hz, uint8_t* out, size_t capacity) {
    if (capacity < kRefreshRateSize) return WireError::kBufferTooSmall;
    le::WriteI32(out, hz);
    return WireError::kNone;
}

WireError DecodeRefreshRate(const uint8_t* payload, size_t length, int32_t& hz) {
    if (length < kRefreshRateSize) return WireError::kPayloadTooShort;
    hz = le::ReadI32(payload);
    return WireError::kNone;
}

// ---- ControllerRecord -----------------------------------------------------------------------

WireError EncodeControllerRecord(const ControllerRecord& record, uint8_t* out, size_t capacity) {
    if (capacity < kControllerRecordSize) return WireError::kBufferTooSmall;
    le::WriteU32(out + kRecordId, record.controllerId);
    le::WriteU32(out + kRecordStatus, record.status);
    WriteFloats(out + kRecordPose, &record.pose[0][0], 12);
    std::memset(out + kRecordUnread, 0, kRecordPacket - kRecordUnread);
    le::WriteU32(out + kRecordPacket, record.input.packetNum);
    le::WriteU32(out + kRecordPacketPadding, 0);
    le::WriteU64(out + kRecordPressed, record.input.buttonPressed);
    le::WriteU64(out + kRecordTouched, record.input.buttonTouched);
    WriteFloats(out + kRecordAxes, &record.input.axis[0][0], 10);
    return WireError::kNone;
}

WireError DecodeControllerRecord(const uint8_t* payload, size_t length, ControllerRecord& out) {
    if (length < kControllerRecordSize) return WireError::kPayloadTooShort;
    out.controllerId = le::ReadU32(payload + kRecordId);
    out.status = le::ReadU32(payload + kRecordStatus);
    ReadFloats(payload + kRecordPose, &out.pose[0][0], 12);
    out.input.packetNum = le::ReadU32(payload + kRecordPacket);
    out.input.buttonPressed = le::ReadU64(payload + kRecordPressed);
    out.input.buttonTouched = le::ReadU64(payload + kRecordTouched);
    ReadFloats(payload + kRecordAxes, &out.input.axis[0][0], 10);
    return WireError::kNone;
}

// ---- TrackingMessage ------------------------------------------------------------------------

TrackingKind EffectiveTrackingKind(int32_t wireKind) {
    switch (wireKind) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 50:
        case 254:
        case 0x7FFFFFFF:
            return static_cast<TrackingKind>(wireKind);
        default:
            return TrackingKind::kRotationMatrix;
    }
}

size_t TrackingDataSize(TrackingKind kind) {
    switch (kind) {
        case TrackingKind::kRotationMatrix:
        case TrackingKind::kPoseMatrix:
            return 48;
        case TrackingKind::kInertialSample:
            return 36;
        case TrackingKind::kAnglesAndPosition:
            return 24;  // angles and position; the 12 bytes after them are never read
        case TrackingKind::kQuaternionAndPosition:
            return 28;
        case TrackingKind::kPositionOnly:
            return 12;
        case TrackingKind::kStatus:
            return 1;
        case TrackingKind::kRecompose:
        case TrackingKind::kRecenter:
        case TrackingKind::kRecomposeOnly:
            return 0;
    }
    return 48;
}

size_t TrackingNaturalSize(TrackingKind kind) {
    switch (kind) {
        case TrackingKind::kAnglesAndPosition:
            return 40;
        case TrackingKind::kStatus:
            return 8;
        default:
            return TrackingDataSize(kind) + kKindFieldSize;
    }
}

WireError DecodeTrackingPayload(const uint8_t* payload, size_t length, TrackingUpdate& out) {
    if (length < kKindFieldSize) return WireError::kTrackingNoKind;
    const size_t dataLength = length - kKindFieldSize;
    const int32_t wireKind = le::ReadI32(payload + dataLength);
    const TrackingKind kind = EffectiveTrackingKind(wireKind);
    if (dataLength < TrackingDataSize(kind)) return WireError::kTrackingTooShort;

    out.wireKind = wireKind;
    switch (kind) {
        case TrackingKind::kRotationMatrix:
        case TrackingKind::kPoseMatrix:
            ReadFloats(payload, out.matrix, 12);
            break;
        case TrackingKind::kInertialSample:
            ReadFloats(payload, out.inertial.gyro, 3);
            ReadFloats(payload + 12, out.inertial.accel, 3);
            ReadFloats(payload + 24, out.inertial.mag, 3);
            break;
        case TrackingKind::kAnglesAndPosition:
            ReadFloats(payload, out.angles, 3);
            ReadFloats(payload + 12, out.position, 3);
            // The trailing fields are kept when present; the driver does not use them.
            out.unusedFloat = dataLength >= 28 ? le::ReadF32(payload + 24) : 0.0f;
            if (dataLength >= 36) {
                std::memcpy(out.unusedBytes, payload + 28, sizeof out.unusedBytes);
            } else {
                std::memset(out.unusedBytes, 0, sizeof out.unusedBytes);
            }
            break;
        case TrackingKind::kQuaternionAndPosition:
            ReadFloats(payload, out.quaternion, 4);
            ReadFloats(payload + 16, out.position, 3);
            break;
        case TrackingKind::kPositionOnly:
            ReadFloats(payload, out.position, 3);
            break;
        case TrackingKind::kStatus:
            out.status = payload[0];
            break;
        case TrackingKind::kRecompose:
        case TrackingKind::kRecenter:
        case TrackingKind::kRecomposeOnly:
            break;
    }
    return WireError::kNone;
}

WireError EncodeTrackingPayload(const TrackingUpdate& update, uint8_t* out, size_t capacity,
                                size_t& written) {
    written = 0;
    const TrackingKind kind = EffectiveTrackingKind(update.wireKind);
    const size_t size = TrackingNaturalSize(kind);
    if (capacity < size) return WireError::kBufferTooSmall;
    std::memset(out, 0, size);
    switch (kind) {
        case TrackingKind::kRotationMatrix:
        case TrackingKind::kPoseMatrix:
            WriteFloats(out, update.matrix, 12);
            break;
        case TrackingKind::kInertialSample:
            WriteFloats(out, update.inertial.gyro, 3);
            WriteFloats(out + 12, update.inertial.accel, 3);
            WriteFloats(out + 24, update.inertial.mag, 3);
            break;
        case TrackingKind::kAnglesAndPosition:
            WriteFloats(out, update.angles, 3);
            WriteFloats(out + 12, update.position, 3);
            le::WriteF32(out + 24, update.unusedFloat);
            std::memcpy(out + 28, update.unusedBytes, sizeof update.unusedBytes);
            break;
        case TrackingKind::kQuaternionAndPosition:
            WriteFloats(out, update.quaternion, 4);
            WriteFloats(out + 16, update.position, 3);
            break;
        case TrackingKind::kPositionOnly:
            WriteFloats(out, update.position, 3);
            break;
        case TrackingKind::kStatus:
            out[0] = update.status;
            break;
        case TrackingKind::kRecompose:
        case TrackingKind::kRecenter:
        case TrackingKind::kRecomposeOnly:
            break;
    }
    le::WriteI32(out + size - kKindFieldSize, update.wireKind);
    written = size;
    return WireError::kNone;
}

}  // namespace quillo::wire
