// Turns a head pose into the TrackingMessage payload of any tracking kind. The inertial kind
// (2) synthesises what a head-worn sensor would measure while following the pose, in the
// frame the driver's attitude filter works in (its Z axis is "up" for the accelerometer), so
// the filter ends up holding the same rotation as the other kinds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/tracking_math.h"
#include "motion.h"

namespace quillo::companion {

// The driver's filter assumes this many inertial samples per second.
constexpr double kInertialSampleRate = 76.0;

// Angles about X, Y and Z (radians) that EulerToQuaternion turns back into `q` (up to sign).
void QuaternionToAngles(const Quaternion& q, float& rx, float& ry, float& rz);

class TrackingPayloads {
  public:
    // Writes the payload for wire kind `kind` (any int32; unlisted kinds are sent in the matrix
    // layout, as the driver reads them) into `out`. `status` is used by kind 254. Returns the
    // payload length, 0 if `capacity` is too small.
    size_t Encode(int32_t kind, const HeadSample& head, uint8_t status, uint8_t* out,
                  size_t capacity);

    // Kind 2 integrates the body rate between consecutive samples; a new connection (or a
    // switch of kind) starts from the pose at hand.
    void ResetInertial() { havePrevious_ = false; }

  private:
    bool havePrevious_ = false;
    Quaternion previous_;
};

}  // namespace quillo::companion
