#include "gpu/software/gamma_encoder.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "gpu/software/texel_format.h"

namespace quillo::gpu::software {

namespace {

float FloatFromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint8_t Reference(float c) {
    return UnormFromFloat(GammaEncode(c));
}

}  // namespace

float GammaExponent() {
    return FloatFromBits(0x3EE8BA2Fu);
}

float GammaEncode(float c) {
    static const float k = GammaExponent();
    return std::exp2(std::log2(c) * k);
}

const GammaToUnorm8& GammaToUnorm8::Instance() {
    static const GammaToUnorm8 instance;
    return instance;
}

GammaToUnorm8::GammaToUnorm8() {
    constexpr uint32_t kOneBits = 0x3F800000u;  // 1.0f; Reference(1.0f) is 255
    threshold_[0] = 0.0f;
    for (uint32_t level = 1; level < 256; ++level) {
        // Smallest bit pattern in [0, 1.0f] whose output is at least `level`. Positive floats
        // order like their bit patterns.
        uint32_t low = 0, high = kOneBits;
        while (low < high) {
            const uint32_t middle = low + (high - low) / 2;
            if (Reference(FloatFromBits(middle)) >= level) {
                high = middle;
            } else {
                low = middle + 1;
            }
        }
        threshold_[level] = FloatFromBits(low);
    }
    threshold_[256] = std::numeric_limits<float>::infinity();
    uint32_t out = 0;
    for (uint32_t bucket = 0; bucket < sizeof bucketStart_; ++bucket) {
        const float smallest = FloatFromBits(bucket << 16);
        while (smallest >= threshold_[out + 1]) ++out;
        bucketStart_[bucket] = static_cast<uint8_t>(out);
        // The largest float of this bucket may pass at most one more threshold.
        const float largest = FloatFromBits((bucket << 16) | 0xFFFFu);
        if (out + 2 <= 256 && largest >= threshold_[out + 2]) singleStep_ = false;
    }
    for (uint32_t bucket = 0; bucket < kWordBuckets; ++bucket) {
        const uint32_t start = bucket < sizeof bucketStart_ ? bucketStart_[bucket] : 255;
        uint32_t next;
        std::memcpy(&next, &threshold_[start + 1], sizeof next);
        const uint32_t within = (next >> 16) == bucket ? (next & 0xFFFFu) : 0x10000u;
        words_[bucket] = ((start + 1) << 17) | within;
    }
}

}  // namespace quillo::gpu::software
