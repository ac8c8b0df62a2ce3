#include "link/head_tracking.h"

#include <cmath>
#include <cstring>

namespace quillo {

namespace {

uint32_t BitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float FloatOf(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

TrackingState::TrackingState() {
    position_ = Vector3{0.0f, 1.7f, 0.0f};  // 1.7f is 0x3FD9999A
    for (Slot& slot : slots_) {
        for (std::atomic<uint32_t>& word : slot.words) word.store(0, std::memory_order_relaxed);
    }
    Publish();
}

wire::WireError TrackingState::DecodeTracking(const uint8_t* payload, size_t length) {
    wire::TrackingUpdate update;
    const wire::WireError error = wire::DecodeTrackingPayload(payload, length, update);
    if (error != wire::WireError::kNone) return error;
    ApplyTracking(update);
    return wire::WireError::kNone;
}

void TrackingState::ApplyTracking(const wire::TrackingUpdate& update) {
    bool recompose = true;
    switch (update.kind) {
        case wire::TrackingKind::kRotationMatrix:
            rawOrientation_ = MatrixToQuaternion(update.matrix);
            break;
        case wire::TrackingKind::kRecompose:
        case wire::TrackingKind::kRecomposeOnly:
            break;
        case wire::TrackingKind::kInertialSample: {
            const wire::InertialSample& s = update.inertial;
            MahonyUpdate(filter_, s.gyro[0], s.gyro[1], s.gyro[2], s.accel[0], s.accel[1],
                         s.accel[2], s.mag[0], s.mag[1], s.mag[2]);
            // The filter keeps the scalar first; the round trip through a matrix is how the
            // companion's rotation convention is matched.
            const Quaternion filtered{filter_.q1, filter_.q2, filter_.q3, filter_.q0};
            rawOrientation_ = MatrixToQuaternion(QuaternionToMatrix(filtered).m);
            break;
        }
        case wire::TrackingKind::kAnglesAndPosition:
            rawOrientation_ =
                EulerToQuaternion(update.angles[0], update.angles[1], update.angles[2]);
            position_ = Vector3{update.position[0], update.position[1], update.position[2]};
            break;
        case wire::TrackingKind::kQuaternionAndPosition:
            // Taken as sent, not normalised.
            rawOrientation_ = Quaternion{update.quaternion[0], update.quaternion[1],
                                         update.quaternion[2], update.quaternion[3]};
            position_ = Vector3{update.position[0], update.position[1], update.position[2]};
            break;
        case wire::TrackingKind::kPositionOnly:
            position_ = Vector3{update.position[0], update.position[1], update.position[2]};
            recompose = false;
            break;
        case wire::TrackingKind::kPoseMatrix:
            rawOrientation_ = MatrixToQuaternionCopysign(update.matrix);
            position_ = Vector3{update.matrix[3], update.matrix[7], update.matrix[11]};
            break;
        case wire::TrackingKind::kRecenter:
            Recenter();
            break;
        case wire::TrackingKind::kStatus:
            trackingStatus_ = update.status;
            break;
    }
    if (recompose) orientation_ = ComposeOrientation(recenterOffset_, rawOrientation_);
    poseReceived_ = true;
    Publish();
}

void TrackingState::Recenter() {
    Quaternion q = rawOrientation_;
    const float n = std::sqrt(q.y * q.y + q.x * q.x + q.z * q.z + q.w * q.w);
    const float scale = n == 0.0f ? 0.0f : 1.0f / n;
    q.x *= scale;
    q.y *= scale;
    q.z *= scale;
    q.w *= scale;
    const Vector3 r = QuaternionToRotationVector(q);
    // Only the vertical component is cancelled; pitch and roll stay as the companion reports.
    recenterOffset_ = EulerToQuaternion(0.0f, -r.y, 0.0f);
}

void TrackingState::Publish() {
    const uint32_t next = 1u - latest_.load(std::memory_order_relaxed);
    Slot& slot = slots_[next];
    const uint32_t sequence = slot.sequence.load(std::memory_order_relaxed);
    slot.sequence.store(sequence + 1, std::memory_order_relaxed);
    const uint32_t words[kWords] = {BitsOf(orientation_.x), BitsOf(orientation_.y),
                                    BitsOf(orientation_.z), BitsOf(orientation_.w),
                                    BitsOf(position_.x),    BitsOf(position_.y),
                                    BitsOf(position_.z),    static_cast<uint32_t>(trackingStatus_),
                                    poseReceived_ ? 1u : 0u};
    // Release stores: a reader that sees any new word also sees the odd sequence above.
    for (size_t i = 0; i < kWords; ++i) slot.words[i].store(words[i], std::memory_order_release);
    slot.sequence.store(sequence + 2, std::memory_order_release);
    latest_.store(next, std::memory_order_release);
}

HeadPose TrackingState::Snapshot() const {
    uint32_t words[kWords];
    for (;;) {
        const Slot& slot = slots_[latest_.load(std::memory_order_acquire)];
        const uint32_t before = slot.sequence.load(std::memory_order_acquire);
        if (before & 1u) continue;  // the writer has lapped this slot; take the newer one
        for (size_t i = 0; i < kWords; ++i)
            words[i] = slot.words[i].load(std::memory_order_acquire);
        if (slot.sequence.load(std::memory_order_relaxed) == before) break;
    }
    HeadPose pose;
    for (int i = 0; i < 4; ++i) pose.orientation[i] = FloatOf(words[i]);
    for (int i = 0; i < 3; ++i) pose.position[i] = FloatOf(words[4 + i]);
    pose.trackingStatus = static_cast<int32_t>(words[7]);
    pose.poseReceived = words[8] != 0;
    return pose;
}

}  // namespace quillo
