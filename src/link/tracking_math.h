// Orientation math shared by the head tracking, the headset's pose and the controllers.
// Quaternions are x, y, z, w floats (w scalar); matrices are row-major floats, element (r, c)
// at index 4r + c, of which only rows 0..2 and columns 0..2 (3 for a translation) are read.
//
// Precision and operation order are part of the contract: results are compared bit for bit
// with the companion's expectations, so every function keeps its single or double precision
// and its left-to-right order of terms. The implementation file switches floating-point
// contraction off so that no compiler fuses a product and a sum into one FMA.
#pragma once

#include <cstdint>

namespace quillo {

struct Quaternion {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;
};

struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// Row-major 4x4; QuaternionToMatrix fills the rotation block and element (3, 3).
struct Matrix4 {
    float m[16] = {};
};

// State of the Mahony attitude filter for raw inertial samples: q0 is the scalar part.
struct OrientationFilter {
    float twoKp = 1.0f;  // proportional gain times two
    float twoKi = 0.0f;  // integral gain times two (never changed: the integral stays unused)
    float q0 = 1.0f;
    float q1 = 0.0f;
    float q2 = 0.0f;
    float q3 = 0.0f;
    float integralFBx = 0.0f;
    float integralFBy = 0.0f;
    float integralFBz = 0.0f;
};

// Rotation from three angles in radians (about X, Y, Z): qY(ry) * qZ(rz) * qX(rx), X applied
// first. Half angles, sinf and cosf in single precision; products and sums in double; each
// component narrowed to float at the end.
Quaternion EulerToQuaternion(float rx, float ry, float rz);

// a * b (Hamilton product) in single precision with the tracking code's term order:
//   x = aw bx + ax bw + ay bz - az by      y = aw by - ax bz + ay bw + az bx
//   z = aw bz + ax by - ay bx + az bw      w = aw bw - ax bx - ay by - az bz
Quaternion ComposeOrientation(const Quaternion& a, const Quaternion& b);

// a * b (Hamilton product) in single precision with the headset pose's term order:
//   x = aw bx + ax bw + ay bz - az by      y = aw by + ay bw + az bx - ax bz
//   z = aw bz + az bw + ax by - ay bx      w = aw bw - ax bx - ay by - az bz
// Same product as ComposeOrientation, different rounding: keep each caller on its own form.
Quaternion HamiltonProduct(const Quaternion& a, const Quaternion& b);

// Largest-diagonal conversion (strict comparisons, ties fall to the later branch).
Quaternion MatrixToQuaternion(const float* m);
// Four square roots, signs from the off-diagonal differences (0 for a zero difference).
Quaternion MatrixToQuaternionCopysign(const float* m);
Matrix4 QuaternionToMatrix(const Quaternion& q);
// Axis times angle; the angle is shifted by -pi (in double) when w < 0.
Vector3 QuaternionToRotationVector(const Quaternion& q);

// The recenter offset for a raw rotation: q is normalised (scale 0 for a zero-length q), turned
// into a rotation vector r, and the result is EulerToQuaternion(0, -r.y, 0), a yaw that cancels
// the vertical component. Pitch and roll are not touched.
Quaternion RecenterOffset(const Quaternion& raw);

// 0x5F3759DF approximation with one Newton step.
float FastInverseSqrt(float x);

// One filter step at the assumed 76 Hz sample rate. A zero magnetometer selects the six-axis
// form; a zero accelerometer skips the feedback.
void MahonyUpdate(OrientationFilter& filter, float gx, float gy, float gz, float ax, float ay,
                  float az, float mx, float my, float mz);
void MahonyUpdateImu(OrientationFilter& filter, float gx, float gy, float gz, float ax, float ay,
                     float az);

}  // namespace quillo
