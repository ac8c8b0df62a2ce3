#include "link/head_tracking.h"

namespace quillo {

// The initial published pose is HeadPose's defaults: identity, (0, 1.7, 0), status 0, no pose.
TrackingState::TrackingState() : position_{0.0f, 1.7f, 0.0f}, published_(HeadPose{}) {}

wire::WireError TrackingState::DecodeTracking(const uint8_t* payload, size_t length) {
    wire::TrackingUpdate update;
    const wire::WireError error = wire::DecodeTrackingPayload(payload, length, update);
    if (error != wire::WireError::kNone) return error;
    ApplyTracking(update);
    return wire::WireError::kNone;
}

void TrackingState::ApplyTracking(const wire::TrackingUpdate& update) {
    bool recompose = true;
    switch (update.kind()) {
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
    recenterOffset_ = RecenterOffset(rawOrientation_);
}

void TrackingState::Publish() {
    HeadPose pose;
    pose.orientation[0] = orientation_.x;
    pose.orientation[1] = orientation_.y;
    pose.orientation[2] = orientation_.z;
    pose.orientation[3] = orientation_.w;
    pose.position[0] = position_.x;
    pose.position[1] = position_.y;
    pose.position[2] = position_.z;
    pose.trackingStatus = trackingStatus_;
    pose.poseReceived = poseReceived_;
    published_.Publish(pose);
}

HeadPose TrackingState::Snapshot() const {
    return published_.Load();
}

}  // namespace quillo
