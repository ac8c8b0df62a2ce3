#include "tracking_payloads.h"

#include <cmath>

#include "link/wire_format.h"

namespace quillo::companion {

namespace {

Quaternion Conjugate(const Quaternion& q) {
    return Quaternion{-q.x, -q.y, -q.z, q.w};
}

// Rotates v by the inverse of q: the world vector v seen in the body frame.
Vector3 ToBody(const Quaternion& q, const Vector3& v) {
    const Matrix4 r = QuaternionToMatrix(q);  // row-major; body -> world
    // Transposed product.
    return Vector3{r.m[0] * v.x + r.m[4] * v.y + r.m[8] * v.z,
                   r.m[1] * v.x + r.m[5] * v.y + r.m[9] * v.z,
                   r.m[2] * v.x + r.m[6] * v.y + r.m[10] * v.z};
}

void RotationMatrix(const HeadSample& head, float matrix[12]) {
    const Matrix4 r = QuaternionToMatrix(head.orientation);
    const float position[3] = {head.position.x, head.position.y, head.position.z};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) matrix[4 * row + column] = r.m[4 * row + column];
        matrix[4 * row + 3] = position[row];
    }
}

}  // namespace

void QuaternionToAngles(const Quaternion& q, float& rx, float& ry, float& rz) {
    // EulerToQuaternion composes q = qy * qz * qx, that is R = Ry * Rz * Rx, whose elements
    // give the angles back: R10 = sin z, R11 = cos z cos x, R12 = -cos z sin x,
    // R00 = cos y cos z, R20 = -sin y cos z.
    const Matrix4 r = QuaternionToMatrix(q);
    rz = std::asin(std::fmax(-1.0f, std::fmin(1.0f, r.m[4])));
    rx = std::atan2(-r.m[6], r.m[5]);
    ry = std::atan2(-r.m[8], r.m[0]);
}

size_t TrackingPayloads::Encode(int32_t kind, const HeadSample& head, uint8_t status, uint8_t* out,
                                size_t capacity) {
    wire::TrackingUpdate update;
    update.wireKind = kind;
    const wire::TrackingKind effective = wire::EffectiveTrackingKind(kind);
    update.position[0] = head.position.x;
    update.position[1] = head.position.y;
    update.position[2] = head.position.z;
    switch (effective) {
        case wire::TrackingKind::kRotationMatrix:
        case wire::TrackingKind::kPoseMatrix:
            RotationMatrix(head, update.matrix);
            break;
        case wire::TrackingKind::kQuaternionAndPosition:
            update.quaternion[0] = head.orientation.x;
            update.quaternion[1] = head.orientation.y;
            update.quaternion[2] = head.orientation.z;
            update.quaternion[3] = head.orientation.w;
            break;
        case wire::TrackingKind::kAnglesAndPosition:
            QuaternionToAngles(head.orientation, update.angles[0], update.angles[1],
                               update.angles[2]);
            break;
        case wire::TrackingKind::kInertialSample: {
            const Quaternion& now = head.orientation;
            float gyro[3] = {0.0f, 0.0f, 0.0f};
            if (havePrevious_) {
                // Body rate that turns the previous pose into this one within one sample.
                Quaternion delta = HamiltonProduct(Conjugate(previous_), now);
                if (delta.w < 0.0f) delta = Quaternion{-delta.x, -delta.y, -delta.z, -delta.w};
                const float sine =
                    std::sqrt(delta.x * delta.x + delta.y * delta.y + delta.z * delta.z);
                if (sine > 0.0f) {
                    const float angle = 2.0f * std::atan2(sine, delta.w);
                    const float scale = angle * static_cast<float>(kInertialSampleRate) / sine;
                    gyro[0] = delta.x * scale;
                    gyro[1] = delta.y * scale;
                    gyro[2] = delta.z * scale;
                }
            }
            previous_ = now;
            havePrevious_ = true;
            // Gravity reaction along the filter's up axis (Z), and a magnetic field in its X-Z
            // plane pointing down, both as the sensor sees them.
            const Vector3 accel = ToBody(now, Vector3{0.0f, 0.0f, 1.0f});
            const Vector3 mag = ToBody(now, Vector3{0.4f, 0.0f, -0.9f});
            update.inertial.gyro[0] = gyro[0];
            update.inertial.gyro[1] = gyro[1];
            update.inertial.gyro[2] = gyro[2];
            update.inertial.accel[0] = accel.x;
            update.inertial.accel[1] = accel.y;
            update.inertial.accel[2] = accel.z;
            update.inertial.mag[0] = mag.x;
            update.inertial.mag[1] = mag.y;
            update.inertial.mag[2] = mag.z;
            break;
        }
        case wire::TrackingKind::kStatus:
            update.status = status;
            break;
        case wire::TrackingKind::kPositionOnly:
        case wire::TrackingKind::kRecompose:
        case wire::TrackingKind::kRecenter:
        case wire::TrackingKind::kRecomposeOnly:
            break;
    }
    size_t written = 0;
    if (wire::EncodeTrackingPayload(update, out, capacity, written) != wire::WireError::kNone) {
        return 0;
    }
    return written;
}

}  // namespace quillo::companion
