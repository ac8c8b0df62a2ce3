// Message formats of the two companion pipes: the 8-byte header and every payload, encoded and
// decoded field by field, little-endian, with bounds checks. Pure functions over byte ranges:
// no platform calls, and nothing on the decode path allocates.
//
// Decisions for input the companion should never send:
// - A header length above kMaxPayloadLength, or with its top bit set (the length is a signed
//   count on the wire, so such a value is negative), cannot be framed: the reader drops the
//   connection with a log line and reconnects. ValidatePayloadLength() makes that call.
// - A payload shorter than its type (or its tracking kind) needs is dropped with a log line and
//   changes nothing; the decode functions return the reason as a WireError.
// - Types the driver does not handle are read completely and skipped, so the stream stays
//   aligned on the next header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/controller_record.h"

namespace quillo::wire {

// Message types, both directions.
enum MessageType : uint32_t {
    kFrameInfo = 2,               // driver -> companion, 76 bytes
    kTrackingMessage = 4,         // companion -> driver, layout by TrackingKind
    kRecenterMessage = 8,         // companion -> driver, payload ignored
    kRefreshRateMessage = 9,      // companion -> driver, int32 Hz
    kControllerMessage = 10,      // companion -> driver, 136 bytes
    kHapticPulse = 11,            // driver -> companion, 12 bytes
    kShutdownRuntimeMessage = 14  // companion -> driver, payload ignored
};

constexpr size_t kHeaderSize = 8;
// The reader's payload buffer; a longer payload is a protocol violation.
constexpr uint32_t kMaxPayloadLength = 1024;

constexpr size_t kFrameInfoSize = 76;
constexpr size_t kLinkNameFieldSize = 60;
constexpr size_t kHapticPulseSize = 12;
constexpr size_t kRefreshRateSize = 4;
constexpr size_t kControllerRecordSize = 136;

// Why a header or payload was rejected. kNone means success.
enum class WireError : uint8_t {
    kNone = 0,
    kLengthNegative,        // header length has its top bit set
    kLengthTooLarge,        // header length above kMaxPayloadLength
    kPayloadTooShort,       // payload shorter than its type needs
    kTrackingNoKind,        // tracking payload under 4 bytes: no room for its kind
    kTrackingTooShort,      // tracking payload shorter than its kind's data
    kLinkNameUnterminated,  // FrameInfo link name without a NUL in its 60 bytes
    kLinkNameTooLong,       // encoding: link name does not fit 59 characters and a NUL
    kBufferTooSmall,        // encoding: output buffer too small
    kNonFiniteField,        // a float of the sample is NaN or infinite
    kNonFiniteResult,       // applying the sample would make the pose or its state non-finite
};

// A short English phrase for log lines ("payload shorter than its type needs", ...).
const char* DescribeWireError(WireError error);
// "TrackingMessage", "ControllerMessage", ... or "unknown" for types the driver skips.
const char* MessageTypeName(uint32_t type);

struct MessageHeader {
    uint32_t length = 0;  // payload bytes, header not counted
    uint32_t type = 0;
};

void EncodeHeader(const MessageHeader& header, uint8_t out[kHeaderSize]);
MessageHeader DecodeHeader(const uint8_t in[kHeaderSize]);
// kNone when a payload of `length` bytes may be read into the reader's buffer; otherwise the
// connection has to be dropped (the stream cannot be realigned).
WireError ValidatePayloadLength(uint32_t length);

// Writes header and payload into `out` (kHeaderSize + length bytes). Returns the bytes written,
// 0 when `capacity` is too small or length exceeds kMaxPayloadLength.
size_t EncodeMessage(uint32_t type, const uint8_t* payload, uint32_t length, uint8_t* out,
                     size_t capacity);

// ---- FrameInfo (type 2), driver -> companion ----------------------------------------------
struct FrameInfo {
    uint32_t hostProcessId = 0;
    uint32_t outputHandleLow[2] = {0, 0};    // low 32 bits of the two output textures' handles
    char linkName[kLinkNameFieldSize] = {};  // NUL-terminated
    uint8_t invertY = 0;                     // 0 or 1
};

// Writes exactly kFrameInfoSize bytes; the link name (at most 59 characters) is NUL-padded and
// the 3 padding bytes are zero. `linkName` must be NUL-terminated.
WireError EncodeFrameInfo(uint32_t hostProcessId, const uint32_t outputHandleLow[2],
                          const char* linkName, bool invertY, uint8_t* out, size_t capacity);
WireError DecodeFrameInfo(const uint8_t* payload, size_t length, FrameInfo& out);

// ---- HapticPulse (type 11), driver -> companion -------------------------------------------
struct HapticPulse {
    uint32_t controllerId = 0;
    uint32_t timestampMicros = 0;  // performance-counter time, low 32 bits
    uint16_t durationMicros = 0;
};

WireError EncodeHapticPulse(const HapticPulse& pulse, uint8_t* out, size_t capacity);
WireError DecodeHapticPulse(const uint8_t* payload, size_t length, HapticPulse& out);

// ---- RefreshRateMessage (type 9) ------------------------------------------------------------
WireError EncodeRefreshRate(int32_t hz, uint8_t* out, size_t capacity);
// Reads the int32 at offset 0; longer payloads are accepted, the rest is ignored.
WireError DecodeRefreshRate(const uint8_t* payload, size_t length, int32_t& hz);

// ---- ControllerMessage (type 10): the 136-byte ControllerRecord -----------------------------
// Layout: id u32 @0, status u32 @4, 3x4 floats @8, 16 unread bytes @56, then the runtime's
// VRControllerState_t as laid out on Windows: packet u32 @72, 4 padding, pressed u64 @80,
// touched u64 @88, five axes of (x, y) floats @96.
WireError EncodeControllerRecord(const ControllerRecord& record, uint8_t* out, size_t capacity);
// Longer payloads are accepted; bytes past 136 are ignored.
WireError DecodeControllerRecord(const uint8_t* payload, size_t length, ControllerRecord& out);

// ---- TrackingMessage (type 4) ---------------------------------------------------------------
// The int32 kind sits in the payload's last four bytes; the kind's data starts at offset 0.
enum class TrackingKind : int32_t {
    kRotationMatrix = 0,         // 3x4 matrix, rotation part only (also every unlisted kind)
    kRecompose = 1,              // no data: the rotation is only recomposed
    kInertialSample = 2,         // gyroscope, accelerometer, magnetometer (9 floats)
    kAnglesAndPosition = 3,      // angles about X, Y, Z; position; 12 bytes kept, unused
    kQuaternionAndPosition = 4,  // quaternion x, y, z, w; position
    kPositionOnly = 5,           // position; rotation neither touched nor recomposed
    kPoseMatrix = 6,             // 3x4 matrix: rotation and position (column 3)
    kRecenter = 50,              // no data: recenter, then recompose
    kStatus = 254,               // byte 0: tracking status
    kRecomposeOnly = 0x7FFFFFFF  // no data: the rotation is only recomposed
};

// Maps the wire value to the kind that handles it: unlisted values are read as kRotationMatrix.
TrackingKind EffectiveTrackingKind(int32_t wireKind);

// Bytes of data a kind reads from the start of the payload. A payload is accepted when its data
// lies wholly before the kind field, i.e. length >= TrackingDataSize + 4. This is also what the
// kind-3 message needs: its 12 trailing bytes after the position are never read, so a sender
// that leaves them out is still understood.
size_t TrackingDataSize(TrackingKind kind);
// Payload length the encoder writes for a kind (its natural length; 8 for kStatus: the status
// byte and three zero bytes keep the kind field aligned).
size_t TrackingNaturalSize(TrackingKind kind);

struct InertialSample {
    float gyro[3] = {};   // rad/s
    float accel[3] = {};  // any unit
    float mag[3] = {};    // any unit; all zero selects the six-axis update
};

// One decoded tracking payload. Only the members of kind() are meaningful.
struct TrackingUpdate {
    int32_t wireKind = 0;  // as on the wire (kept for log lines)
    // The kind that handles it: unlisted values act as kRotationMatrix.
    TrackingKind kind() const { return EffectiveTrackingKind(wireKind); }
    float matrix[12] = {};               // kinds 0, 6: row-major 3x4
    float quaternion[4] = {0, 0, 0, 1};  // kind 4: x, y, z, w as sent
    float angles[3] = {};                // kind 3: about X, Y, Z in radians
    float position[3] = {};              // kinds 3, 4, 5 (kind 6 takes column 3)
    InertialSample inertial;             // kind 2
    float unusedFloat = 0.0f;            // kind 3, offset 24; not used by the driver
    uint8_t unusedBytes[8] = {};         // kind 3, offsets 28..35; not used by the driver
    uint8_t status = 0;                  // kind 254
};

WireError DecodeTrackingPayload(const uint8_t* payload, size_t length, TrackingUpdate& out);
// Writes update.wireKind as the kind field (an unlisted kind can be sent on purpose) after the
// data of update.kind(), in TrackingNaturalSize(update.kind()) bytes. Returns kBufferTooSmall if
// that does not fit.
WireError EncodeTrackingPayload(const TrackingUpdate& update, uint8_t* out, size_t capacity,
                                size_t& written);

}  // namespace quillo::wire
