#include "link/head_tracking.h"

#include <cmath>

namespace quillo {

namespace {

bool AllFinite(const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (!std::isfinite(values[i])) return false;
    }
    return true;
}

// Every float of the update; the decoder leaves the fields a kind does not carry at their
// (finite) defaults, so only what the companion sent can fail here.
bool FieldsFinite(const wire::TrackingUpdate& u) {
    return AllFinite(u.matrix, 12) && AllFinite(u.quaternion, 4) && AllFinite(u.angles, 3) &&
           AllFinite(u.position, 3) && AllFinite(u.inertial.gyro, 3) &&
           AllFinite(u.inertial.accel, 3) && AllFinite(u.inertial.mag, 3) &&
           std::isfinite(u.unusedFloat);
}

bool QuaternionFinite(const Quaternion& q) {
    return std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w);
}

// A rotation is used only when its squared length is finite as well. The recenter normalises the
// raw rotation by that length in single precision (an overflow would turn any head yaw into an
// identity offset), and the headset turns the orientation further by its rotation offsets,
// whose terms are bounded by the length, so the published rotation stays finite too.
bool OrientationUsable(const Quaternion& q) {
    return QuaternionFinite(q) && std::isfinite(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
}

bool FilterFinite(const OrientationFilter& f) {
    return std::isfinite(f.q0) && std::isfinite(f.q1) && std::isfinite(f.q2) &&
           std::isfinite(f.q3) && std::isfinite(f.integralFBx) && std::isfinite(f.integralFBy) &&
           std::isfinite(f.integralFBz);
}

}  // namespace

// The initial published pose is HeadPose's defaults: identity, (0, 1.7, 0), status 0, no pose.
TrackingState::TrackingState() : published_(HeadPose{}) {}

wire::WireError TrackingState::DecodeTracking(const uint8_t* payload, size_t length) {
    wire::TrackingUpdate update;
    const wire::WireError error = wire::DecodeTrackingPayload(payload, length, update);
    if (error != wire::WireError::kNone) return error;
    return ApplyTracking(update);
}

wire::WireError TrackingState::ApplyTracking(const wire::TrackingUpdate& update) {
    if (!FieldsFinite(update)) return wire::WireError::kNonFiniteField;
    Model next = model_;
    bool recompose = true;
    switch (update.kind()) {
        case wire::TrackingKind::kRotationMatrix:
            next.rawOrientation = MatrixToQuaternion(update.matrix);
            break;
        case wire::TrackingKind::kRecompose:
        case wire::TrackingKind::kRecomposeOnly:
            break;
        case wire::TrackingKind::kInertialSample: {
            const wire::InertialSample& s = update.inertial;
            MahonyUpdate(next.filter, s.gyro[0], s.gyro[1], s.gyro[2], s.accel[0], s.accel[1],
                         s.accel[2], s.mag[0], s.mag[1], s.mag[2]);
            // The filter keeps the scalar first; the round trip through a matrix is how the
            // companion's rotation convention is matched.
            const OrientationFilter& f = next.filter;
            const Quaternion filtered{f.q1, f.q2, f.q3, f.q0};
            next.rawOrientation = MatrixToQuaternion(QuaternionToMatrix(filtered).m);
            break;
        }
        case wire::TrackingKind::kAnglesAndPosition:
            next.rawOrientation =
                EulerToQuaternion(update.angles[0], update.angles[1], update.angles[2]);
            next.position = Vector3{update.position[0], update.position[1], update.position[2]};
            break;
        case wire::TrackingKind::kQuaternionAndPosition:
            // Taken as sent, not normalised.
            next.rawOrientation = Quaternion{update.quaternion[0], update.quaternion[1],
                                             update.quaternion[2], update.quaternion[3]};
            next.position = Vector3{update.position[0], update.position[1], update.position[2]};
            break;
        case wire::TrackingKind::kPositionOnly:
            next.position = Vector3{update.position[0], update.position[1], update.position[2]};
            recompose = false;
            break;
        case wire::TrackingKind::kPoseMatrix:
            next.rawOrientation = MatrixToQuaternionCopysign(update.matrix);
            next.position = Vector3{update.matrix[3], update.matrix[7], update.matrix[11]};
            break;
        case wire::TrackingKind::kRecenter:
            next.recenterOffset = RecenterOffset(next.rawOrientation);
            break;
        case wire::TrackingKind::kStatus:
            next.trackingStatus = update.status;
            break;
    }
    if (recompose) next.orientation = ComposeOrientation(next.recenterOffset, next.rawOrientation);
    // The position is copied from checked fields.
    if (!OrientationUsable(next.orientation) || !OrientationUsable(next.rawOrientation) ||
        !QuaternionFinite(next.recenterOffset) || !FilterFinite(next.filter)) {
        return wire::WireError::kNonFiniteResult;
    }
    model_ = next;
    poseReceived_ = true;
    Publish();
    return wire::WireError::kNone;
}

void TrackingState::Recenter() {
    // Always finite: every accepted raw rotation is finite with a finite squared length, so the
    // normalisation inside RecenterOffset neither overflows nor divides by an infinity.
    model_.recenterOffset = RecenterOffset(model_.rawOrientation);
}

void TrackingState::Publish() {
    HeadPose pose;
    pose.orientation[0] = model_.orientation.x;
    pose.orientation[1] = model_.orientation.y;
    pose.orientation[2] = model_.orientation.z;
    pose.orientation[3] = model_.orientation.w;
    pose.position[0] = model_.position.x;
    pose.position[1] = model_.position.y;
    pose.position[2] = model_.position.z;
    pose.trackingStatus = model_.trackingStatus;
    pose.poseReceived = poseReceived_;
    published_.Publish(pose);
}

HeadPose TrackingState::Snapshot() const {
    return published_.Load();
}

}  // namespace quillo
