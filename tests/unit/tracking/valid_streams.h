// Deterministic streams of valid tracking samples covering every kind, for the regression table
// in sample_rejection_test.cpp. Inputs are made with integer arithmetic and single float
// operations only (no library functions but sqrt), so every platform feeds the same bits.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "link/wire_format.h"

namespace quillo::test {

// One step of a stream: a tracking payload, or a bare recenter message (type 8).
struct StreamStep {
    bool recenterMessage = false;
    wire::TrackingUpdate update;
};

class StreamNumbers {
  public:
    explicit StreamNumbers(uint32_t seed) : state_(seed) {}
    // A value in [-range, range] on a grid of range / 10000.
    float Next(float range) {
        state_ = state_ * 1664525u + 1013904223u;
        const int32_t n = static_cast<int32_t>((state_ >> 8) % 20001u) - 10000;
        return static_cast<float>(n) * (range / 10000.0f);
    }

  private:
    uint32_t state_;
};

// A rotation with every term non-zero, as a row-major 3x4 matrix with translation t.
inline void RotationMatrix(StreamNumbers& numbers, float tx, float ty, float tz, float out[12]) {
    float x = numbers.Next(1.0f), y = numbers.Next(1.0f), z = numbers.Next(1.0f);
    float w = numbers.Next(1.0f) + 1.5f;
    const float n = std::sqrt(x * x + y * y + z * z + w * w);
    x /= n, y /= n, z /= n, w /= n;
    const float m[12] = {
        1 - 2 * (y * y + z * z), 2 * (x * y - z * w),     2 * (x * z + y * w),     tx,
        2 * (x * y + z * w),     1 - 2 * (x * x + z * z), 2 * (y * z - x * w),     ty,
        2 * (x * z - y * w),     2 * (y * z + x * w),     1 - 2 * (x * x + y * y), tz};
    for (int i = 0; i < 12; ++i) out[i] = m[i];
}

inline StreamStep Kind(int32_t kind) {
    StreamStep step;
    step.update.wireKind = kind;
    return step;
}

inline StreamStep Recenter() {
    StreamStep step;
    step.recenterMessage = true;
    return step;
}

// Stream `which` of valid samples: 0 rotation matrices, 1 nine-axis and 2 six-axis inertial
// samples, 5 every kind interleaved (the numbers seed each stream).
constexpr int kValidStreams[] = {0, 1, 2, 5};
inline std::vector<StreamStep> ValidStream(int which) {
    StreamNumbers numbers(0x9E3779B9u * static_cast<uint32_t>(which + 1));
    std::vector<StreamStep> steps;
    auto inertial = [&](bool withMagnetometer) {
        StreamStep step = Kind(2);
        wire::InertialSample& s = step.update.inertial;
        for (int i = 0; i < 3; ++i) s.gyro[i] = numbers.Next(2.0f);
        s.accel[0] = numbers.Next(1.5f);
        s.accel[1] = numbers.Next(1.5f);
        s.accel[2] = 9.8f + numbers.Next(1.5f);
        for (int i = 0; i < 3 && withMagnetometer; ++i) s.mag[i] = numbers.Next(50.0f);
        return step;
    };
    auto matrix = [&](int32_t kind) {
        StreamStep step = Kind(kind);
        RotationMatrix(numbers, numbers.Next(2.0f), 1.6f + numbers.Next(0.3f), numbers.Next(2.0f),
                       step.update.matrix);
        return step;
    };
    auto angles = [&] {
        StreamStep step = Kind(3);
        for (int i = 0; i < 3; ++i) step.update.angles[i] = numbers.Next(3.1f);
        for (int i = 0; i < 3; ++i) step.update.position[i] = numbers.Next(2.0f);
        return step;
    };
    auto quaternion = [&] {
        // Not normalised: kind 4 is taken as sent.
        StreamStep step = Kind(4);
        for (int i = 0; i < 4; ++i) step.update.quaternion[i] = numbers.Next(1.2f);
        for (int i = 0; i < 3; ++i) step.update.position[i] = numbers.Next(2.0f);
        return step;
    };
    auto positionOnly = [&] {
        StreamStep step = Kind(5);
        for (int i = 0; i < 3; ++i) step.update.position[i] = numbers.Next(2.0f);
        return step;
    };
    switch (which) {
        case 0:  // matrices of kind 0 and an unlisted kind, with bare recenters
            for (int i = 0; i < 40; ++i) {
                steps.push_back(matrix(i % 3 == 0 ? 7 : 0));
                if (i % 9 == 4) steps.push_back(Recenter());
                if (i % 7 == 3) steps.push_back(Kind(1));
            }
            break;
        case 1:  // nine-axis inertial samples, a recenter inside
            for (int i = 0; i < 200; ++i) {
                steps.push_back(inertial(true));
                if (i == 120) steps.push_back(Kind(50));
            }
            break;
        case 2:  // six-axis inertial samples, and a few without accelerometer
            for (int i = 0; i < 200; ++i) {
                StreamStep step = inertial(false);
                if (i % 17 == 5) {
                    for (float& a : step.update.inertial.accel) a = 0.0f;
                }
                steps.push_back(step);
            }
            break;
        default:  // every kind interleaved
            for (int i = 0; i < 60; ++i) {
                const int k = i % 8;
                steps.push_back(k == 0   ? matrix(6)
                                : k == 1 ? inertial(i % 3 != 0)
                                : k == 2 ? angles()
                                : k == 3 ? quaternion()
                                : k == 4 ? Kind(50)
                                : k == 5 ? positionOnly()
                                : k == 6 ? Kind(0x7FFFFFFF)
                                         : Recenter());
            }
            break;
    }
    return steps;
}

}  // namespace quillo::test
