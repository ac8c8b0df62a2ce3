// Samples that are not finite, or whose use would make the head pose or the attitude filter
// non-finite, are dropped; the stream then goes on as if they had never been sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "link/head_tracking.h"

namespace quillo::test {
namespace {

using wire::WireError;

// One step of a stream: a tracking payload, or a bare recenter message (type 8).
struct StreamStep {
    bool recenterMessage = false;
    wire::TrackingUpdate update;
};

// Valid samples of every kind from a fixed sequence of numbers (integer arithmetic and single
// float operations, so every platform feeds the same bits): runs of nine-axis and six-axis
// samples (some without accelerometer) so that the filter state matters, then matrices
// (kind 0, 6 and an unlisted one), angles, unnormalised quaternions, recenters of both kinds,
// positions and the kinds without data.
std::vector<StreamStep> ValidStream() {
    uint32_t seed = 0x9E3779B9u;
    auto next = [&](float range) {  // in [-range, range] on a grid of range / 10000
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>((seed >> 8) % 20001u) - 10000) *
               (range / 10000.0f);
    };
    std::vector<StreamStep> steps;
    for (int i = 0; i < 192; ++i) {
        StreamStep step;
        wire::TrackingUpdate& u = step.update;
        const int phase = i % 16;
        const int32_t kinds[] = {2, 0, 3, 4, 50, 5, 0x7FFFFFFF, 8, 1};  // 8: recenter message
        u.wireKind = kinds[std::max(phase - 7, 0)];
        step.recenterMessage = u.wireKind == 8;
        if (u.wireKind == 2) {
            for (int a = 0; a < 3; ++a) u.inertial.gyro[a] = next(2.0f);
            u.inertial.accel[0] = next(1.5f);
            u.inertial.accel[1] = next(1.5f);
            u.inertial.accel[2] = i % 13 == 5 ? 0.0f : 9.8f + next(1.5f);
            if (i % 13 == 5) u.inertial.accel[0] = u.inertial.accel[1] = 0.0f;
            for (int a = 0; a < 3 && (i / 16) % 2 == 0; ++a) u.inertial.mag[a] = next(50.0f);
        } else if (u.wireKind == 0) {
            u.wireKind = i % 3 == 0 ? 6 : i % 3 == 1 ? 0 : 7;
            // A rotation with every term non-zero, and a translation.
            float x = next(1.0f), y = next(1.0f), z = next(1.0f), w = next(1.0f) + 1.5f;
            const float n = std::sqrt(x * x + y * y + z * z + w * w);
            x /= n, y /= n, z /= n, w /= n;
            const float m[12] = {1 - 2 * (y * y + z * z), 2 * (x * y - z * w),
                                 2 * (x * z + y * w),     next(2.0f),
                                 2 * (x * y + z * w),     1 - 2 * (x * x + z * z),
                                 2 * (y * z - x * w),     1.6f + next(0.3f),
                                 2 * (x * z - y * w),     2 * (y * z + x * w),
                                 1 - 2 * (x * x + y * y), next(2.0f)};
            std::copy(m, m + 12, u.matrix);
        } else if (u.wireKind == 3) {
            for (float& a : u.angles) a = next(3.1f);
        } else if (u.wireKind == 4) {
            for (float& q : u.quaternion) q = next(1.2f);
        }
        for (float& p : u.position) p = next(2.0f);
        steps.push_back(step);
    }
    return steps;
}

void Apply(TrackingState& state, const StreamStep& step) {
    if (step.recenterMessage) {
        state.Recenter();
    } else {
        ASSERT_EQ(WireError::kNone, state.ApplyTracking(step.update));
    }
}

// The bits a step leaves behind: the published pose, the filter and the recenter offset.
std::vector<uint32_t> StateBits(const TrackingState& state) {
    const HeadPose pose = state.Snapshot();
    const OrientationFilter& f = state.orientationFilter();
    const Quaternion& r = state.recenterOffset();
    std::vector<float> floats(pose.orientation, pose.orientation + 4);
    floats.insert(floats.end(), pose.position, pose.position + 3);
    floats.insert(floats.end(), {f.q0, f.q1, f.q2, f.q3, r.x, r.y, r.z, r.w});
    std::vector<uint32_t> bits(floats.size());
    std::memcpy(bits.data(), floats.data(), 4 * floats.size());
    bits.push_back(static_cast<uint32_t>(pose.trackingStatus));
    bits.push_back(pose.poseReceived);
    return bits;
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct BadSample {
    const char* what;
    wire::TrackingUpdate update;
    WireError expected;
};

std::vector<BadSample> BadSamples() {
    std::vector<BadSample> bad;
    auto add = [&](const char* what, int32_t kind, WireError expected, auto fill) {
        BadSample sample{what, {}, expected};
        sample.update.wireKind = kind;
        // A plausible sample of the kind first, so that only the planted value is wrong.
        float* m = sample.update.matrix;
        const float rotation[12] = {0.36f, 0.48f, -0.8f, 0.1f,  -0.8f, 0.6f,
                                    0.0f,  1.6f,  0.48f, 0.64f, 0.6f,  -0.2f};
        std::memcpy(m, rotation, sizeof rotation);
        sample.update.inertial = {{0.1f, -0.2f, 0.3f}, {0.5f, -0.4f, 9.6f}, {20.0f, -5.0f, 31.0f}};
        fill(sample.update);
        bad.push_back(sample);
    };
    const WireError field = WireError::kNonFiniteField;
    const WireError result = WireError::kNonFiniteResult;
    add("NaN quaternion", 4, field, [](auto& u) { u.quaternion[1] = kNaN; });
    add("infinite quaternion", 4, field, [](auto& u) { u.quaternion[3] = -kInf; });
    add("NaN position", 4, field, [](auto& u) { u.position[2] = kNaN; });
    add("NaN position only", 5, field, [](auto& u) { u.position[0] = kNaN; });
    add("NaN rotation matrix", 0, field, [](auto& u) { u.matrix[5] = kNaN; });
    add("infinite translation", 6, field, [](auto& u) { u.matrix[7] = kInf; });
    add("infinite angle", 3, field, [](auto& u) { u.angles[1] = kInf; });
    add("NaN in the unused kind-3 float", 3, field, [](auto& u) { u.unusedFloat = kNaN; });
    add("NaN gyroscope", 2, field, [](auto& u) { u.inertial.gyro[0] = kNaN; });
    add("infinite magnetometer", 2, field, [](auto& u) { u.inertial.mag[2] = kInf; });
    // Finite, yet their squares overflow inside the filter's normalisation.
    add("accelerometer of 2e19", 2, result, [](auto& u) { u.inertial.accel[2] = 2e19f; });
    add("six-axis accelerometer of 1e30", 2, result, [](auto& u) {
        u.inertial.accel[0] = -1e30f;
        for (float& m : u.inertial.mag) m = 0.0f;
    });
    add("magnetometer of 3e19", 2, result, [](auto& u) { u.inertial.mag[1] = -3e19f; });
    add("gyroscope of 1e30", 2, result, [](auto& u) { u.inertial.gyro[1] = 1e30f; });
    // Finite matrices whose rotation is not, and a rotation too long to normalise.
    add("matrix trace overflows", 0, result, [](auto& u) {
        u.matrix[0] = 3e38f;
        u.matrix[5] = 3e38f;
        u.matrix[10] = 3e38f;
    });
    add("pose matrix diagonal overflows", 6, result, [](auto& u) {
        u.matrix[0] = 3e38f;
        u.matrix[5] = -3e38f;
        u.matrix[10] = 3e38f;
    });
    add("quaternion whose squared length overflows", 4, result, [](auto& u) {
        u.quaternion[0] = 2e19f;
        u.quaternion[3] = 1e19f;
    });
    return bad;
}

// A bad sample, then a bare recenter, planted at several places of the valid stream: every
// step must leave the same bits as the stream that never had the bad sample (the last good
// pose stays published, the filter and the recenter offset survive), and the bad sample is
// refused with its reason.
TEST(SampleRejection, BadSamplesChangeNothingAndTheStreamGoesOnAsWithoutThem) {
    const std::vector<StreamStep> steps = ValidStream();
    for (const BadSample& bad : BadSamples()) {
        TrackingState clean;
        TrackingState hit;
        // Before the first sample too: nothing may be published by a refused one.
        for (size_t i = 0; i < steps.size(); ++i) {
            if (i % 23 == 0) {
                EXPECT_EQ(bad.expected, hit.ApplyTracking(bad.update)) << bad.what << ", " << i;
                hit.Recenter();
                clean.Recenter();
            }
            Apply(clean, steps[i]);
            Apply(hit, steps[i]);
            ASSERT_EQ(StateBits(clean), StateBits(hit)) << bad.what << ", step " << i;
            const HeadPose pose = hit.Snapshot();
            for (float f : pose.orientation) ASSERT_TRUE(std::isfinite(f)) << bad.what;
            for (float f : pose.position) ASSERT_TRUE(std::isfinite(f)) << bad.what;
        }
    }
}

}  // namespace
}  // namespace quillo::test
