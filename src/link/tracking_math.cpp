// Every expression below is written in the order its terms are to be evaluated, and float
// stays float: with x86-64 SSE arithmetic (FLT_EVAL_METHOD 0) that alone fixes the rounding.
// Fused multiply-add would change it, and GCC contracts a*b+c into an FMA whenever the target
// has one (-march with FMA, even in ISO mode), so contraction is switched off for this file.
// GCC's straight-line vectoriser also forms fused multiply-add/subtract pairs (vfmaddsub)
// from the quaternion products regardless of that switch, so it is off here as well.
#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off", "no-tree-slp-vectorize")
#elif defined(_MSC_VER)
#pragma fp_contract(off)
#endif

#include "link/tracking_math.h"

#include <cmath>
#include <cstring>

namespace quillo {

namespace {

// Bit patterns of the filter's step constants: 1/76 and 0.5/76 as the float nearest each.
float FloatFromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

const float kSamplePeriod = FloatFromBits(0x3C579436u);      // 0.013157895 = 1/76
const float kHalfSamplePeriod = FloatFromBits(0x3BD79436u);  // 0.0065789474 = 0.5/76

float Sign(float v) {
    if (v > 0.0f) return 1.0f;
    if (v < 0.0f) return -1.0f;
    return 0.0f;  // zero (and NaN) give 0: that component becomes 0
}

// max(0, v); a NaN gives 0.
float ClampNonNegative(float v) {
    return v > 0.0f ? v : 0.0f;
}

}  // namespace

Quaternion EulerToQuaternion(float rx, float ry, float rz) {
    const float hx = rx * 0.5f;
    const float hy = ry * 0.5f;
    const float hz = rz * 0.5f;
    const double cx = std::cos(hx);  // float overloads: cosf and sinf
    const double sx = std::sin(hx);
    const double cy = std::cos(hy);
    const double sy = std::sin(hy);
    const double cz = std::cos(hz);
    const double sz = std::sin(hz);
    Quaternion q;
    q.x = static_cast<float>(cz * cy * sx + sz * sy * cx);
    q.y = static_cast<float>(cz * sy * cx + sz * cy * sx);
    q.z = static_cast<float>(sz * cy * cx - cz * sy * sx);
    q.w = static_cast<float>(cz * cy * cx - sz * sy * sx);
    return q;
}

Quaternion ComposeOrientation(const Quaternion& a, const Quaternion& b) {
    Quaternion q;
    q.x = a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y;
    q.y = a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x;
    q.z = a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w;
    q.w = a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z;
    return q;
}

Quaternion HamiltonProduct(const Quaternion& a, const Quaternion& b) {
    Quaternion q;
    q.w = a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z;
    q.x = a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y;
    q.y = a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z;
    q.z = a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x;
    return q;
}

Quaternion MatrixToQuaternion(const float* m) {
    const float m00 = m[0], m01 = m[1], m02 = m[2];
    const float m10 = m[4], m11 = m[5], m12 = m[6];
    const float m20 = m[8], m21 = m[9], m22 = m[10];
    Quaternion q;
    const float trace = m00 + m11 + m22;
    if (trace > 0.0f) {
        const float s = 0.5f / std::sqrt(trace + 1.0f);
        q.w = 0.25f / s;
        q.x = (m21 - m12) * s;
        q.y = (m02 - m20) * s;
        q.z = (m10 - m01) * s;
    } else if (m00 > m11 && m00 > m22) {
        const float s = 2.0f * std::sqrt(1.0f + m00 - m11 - m22);
        q.w = (m21 - m12) / s;
        q.x = 0.25f * s;
        q.y = (m01 + m10) / s;
        q.z = (m02 + m20) / s;
    } else if (m11 > m22) {
        const float s = 2.0f * std::sqrt(1.0f + m11 - m00 - m22);
        q.w = (m02 - m20) / s;
        q.x = (m01 + m10) / s;
        q.y = 0.25f * s;
        q.z = (m12 + m21) / s;
    } else {
        const float s = 2.0f * std::sqrt(1.0f + m22 - m00 - m11);
        q.w = (m10 - m01) / s;
        q.x = (m02 + m20) / s;
        q.y = (m12 + m21) / s;
        q.z = 0.25f * s;
    }
    return q;
}

Quaternion MatrixToQuaternionCopysign(const float* m) {
    const float m00 = m[0], m01 = m[1], m02 = m[2];
    const float m10 = m[4], m11 = m[5], m12 = m[6];
    const float m20 = m[8], m21 = m[9], m22 = m[10];
    Quaternion q;
    q.w = 0.5f * std::sqrt(ClampNonNegative(1.0f + m00 + m11 + m22));
    q.x = 0.5f * std::sqrt(ClampNonNegative(1.0f + m00 - m11 - m22)) * Sign(m21 - m12);
    q.y = 0.5f * std::sqrt(ClampNonNegative(1.0f - m00 + m11 - m22)) * Sign(m02 - m20);
    q.z = 0.5f * std::sqrt(ClampNonNegative(1.0f - m00 - m11 + m22)) * Sign(m10 - m01);
    return q;
}

Matrix4 QuaternionToMatrix(const Quaternion& q) {
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    Matrix4 r;
    float* m = r.m;
    m[0] = 1.0f - 2.0f * y * y - 2.0f * z * z;
    m[1] = 2.0f * x * y - 2.0f * z * w;
    m[2] = 2.0f * x * z + 2.0f * y * w;
    m[4] = 2.0f * x * y + 2.0f * z * w;
    m[5] = 1.0f - 2.0f * x * x - 2.0f * z * z;
    m[6] = 2.0f * y * z - 2.0f * x * w;
    m[8] = 2.0f * x * z - 2.0f * y * w;
    m[9] = 2.0f * y * z + 2.0f * x * w;
    m[10] = 1.0f - 2.0f * x * x - 2.0f * y * y;
    m[15] = 1.0f;
    return r;
}

Vector3 QuaternionToRotationVector(const Quaternion& q) {
    const float n = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
    float k = 0.0f;
    if (n > 0.0f) {
        float angle = std::atan2(n, q.w);
        if (q.w < 0.0f) angle = static_cast<float>(angle - 3.141592653589793);
        k = 2.0f * angle / n;
    }
    Vector3 v;
    v.x = q.x * k;
    v.y = q.y * k;
    v.z = q.z * k;
    return v;
}

Quaternion RecenterOffset(const Quaternion& raw) {
    Quaternion q = raw;
    const float n = std::sqrt(q.y * q.y + q.x * q.x + q.z * q.z + q.w * q.w);
    const float scale = n == 0.0f ? 0.0f : 1.0f / n;
    q.x *= scale;
    q.y *= scale;
    q.z *= scale;
    q.w *= scale;
    const Vector3 r = QuaternionToRotationVector(q);
    return EulerToQuaternion(0.0f, -r.y, 0.0f);
}

float FastInverseSqrt(float x) {
    int32_t i;
    std::memcpy(&i, &x, sizeof i);
    // Unsigned subtraction: the same bits as the classic signed form, without signed overflow
    // for negative inputs.
    const uint32_t bits = 0x5F3759DFu - static_cast<uint32_t>(i >> 1);
    float y;
    std::memcpy(&y, &bits, sizeof y);
    y = y * (1.5f - x * 0.5f * y * y);
    return y;
}

namespace {

// Steps 5 and 6 of the update (integral branch, proportional feedback), shared by both forms.
void ApplyFeedback(OrientationFilter& f, float halfex, float halfey, float halfez, float& gx,
                   float& gy, float& gz) {
    if (f.twoKi > 0.0f) {
        f.integralFBx += f.twoKi * halfex * kSamplePeriod;
        f.integralFBy += f.twoKi * halfey * kSamplePeriod;
        f.integralFBz += f.twoKi * halfez * kSamplePeriod;
        gx += f.integralFBx;
        gy += f.integralFBy;
        gz += f.integralFBz;
    } else {
        f.integralFBx = 0.0f;
        f.integralFBy = 0.0f;
        f.integralFBz = 0.0f;
    }
    gx += f.twoKp * halfex;
    gy += f.twoKp * halfey;
    gz += f.twoKp * halfez;
}

// Steps 3 to 5: integrate the rate and renormalise.
void Integrate(OrientationFilter& f, float gx, float gy, float gz) {
    gx *= kHalfSamplePeriod;
    gy *= kHalfSamplePeriod;
    gz *= kHalfSamplePeriod;
    const float qa = f.q0;
    const float qb = f.q1;
    const float qc = f.q2;
    f.q0 += (-qb * gx - qc * gy - f.q3 * gz);
    f.q1 += (qa * gx + qc * gz - f.q3 * gy);
    f.q2 += (qa * gy - qb * gz + f.q3 * gx);
    f.q3 += (qa * gz + qb * gy - qc * gx);
    const float recipNorm = FastInverseSqrt(f.q0 * f.q0 + f.q1 * f.q1 + f.q2 * f.q2 + f.q3 * f.q3);
    f.q0 *= recipNorm;
    f.q1 *= recipNorm;
    f.q2 *= recipNorm;
    f.q3 *= recipNorm;
}

}  // namespace

void MahonyUpdate(OrientationFilter& f, float gx, float gy, float gz, float ax, float ay, float az,
                  float mx, float my, float mz) {
    if (mx == 0.0f && my == 0.0f && mz == 0.0f) {
        MahonyUpdateImu(f, gx, gy, gz, ax, ay, az);
        return;
    }
    if (!(ax == 0.0f && ay == 0.0f && az == 0.0f)) {
        float recipNorm = FastInverseSqrt(ax * ax + ay * ay + az * az);
        ax *= recipNorm;
        ay *= recipNorm;
        az *= recipNorm;
        recipNorm = FastInverseSqrt(mx * mx + my * my + mz * mz);
        mx *= recipNorm;
        my *= recipNorm;
        mz *= recipNorm;

        const float q0 = f.q0, q1 = f.q1, q2 = f.q2, q3 = f.q3;
        const float q0q0 = q0 * q0;
        const float q0q1 = q0 * q1;
        const float q0q2 = q0 * q2;
        const float q0q3 = q0 * q3;
        const float q1q1 = q1 * q1;
        const float q1q2 = q1 * q2;
        const float q1q3 = q1 * q3;
        const float q2q2 = q2 * q2;
        const float q2q3 = q2 * q3;
        const float q3q3 = q3 * q3;

        // Reference direction of the Earth's field.
        const float hx =
            2.0f * (mx * (0.5f - q2q2 - q3q3) + my * (q1q2 - q0q3) + mz * (q1q3 + q0q2));
        const float hy =
            2.0f * (mx * (q1q2 + q0q3) + my * (0.5f - q1q1 - q3q3) + mz * (q2q3 - q0q1));
        const float bx = std::sqrt(hx * hx + hy * hy);
        const float bz =
            2.0f * (mx * (q1q3 - q0q2) + my * (q2q3 + q0q1) + mz * (0.5f - q1q1 - q2q2));

        // Estimated directions of gravity and of the field, halved.
        const float halfvx = q1q3 - q0q2;
        const float halfvy = q0q1 + q2q3;
        const float halfvz = q0q0 - 0.5f + q3q3;
        const float halfwx = bx * (0.5f - q2q2 - q3q3) + bz * (q1q3 - q0q2);
        const float halfwy = bx * (q1q2 - q0q3) + bz * (q0q1 + q2q3);
        const float halfwz = bx * (q0q2 + q1q3) + bz * (0.5f - q1q1 - q2q2);

        // Error: cross product of estimated and measured directions, halved.
        const float halfex = (ay * halfvz - az * halfvy) + (my * halfwz - mz * halfwy);
        const float halfey = (az * halfvx - ax * halfvz) + (mz * halfwx - mx * halfwz);
        const float halfez = (ax * halfvy - ay * halfvx) + (mx * halfwy - my * halfwx);
        ApplyFeedback(f, halfex, halfey, halfez, gx, gy, gz);
    }
    Integrate(f, gx, gy, gz);
}

void MahonyUpdateImu(OrientationFilter& f, float gx, float gy, float gz, float ax, float ay,
                     float az) {
    if (!(ax == 0.0f && ay == 0.0f && az == 0.0f)) {
        const float recipNorm = FastInverseSqrt(ax * ax + ay * ay + az * az);
        ax *= recipNorm;
        ay *= recipNorm;
        az *= recipNorm;

        const float halfvx = f.q1 * f.q3 - f.q0 * f.q2;
        const float halfvy = f.q0 * f.q1 + f.q2 * f.q3;
        const float halfvz = f.q0 * f.q0 - 0.5f + f.q3 * f.q3;

        const float halfex = ay * halfvz - az * halfvy;
        const float halfey = az * halfvx - ax * halfvz;
        const float halfez = ax * halfvy - ay * halfvx;
        ApplyFeedback(f, halfex, halfey, halfez, gx, gy, gz);
    }
    Integrate(f, gx, gy, gz);
}

}  // namespace quillo
