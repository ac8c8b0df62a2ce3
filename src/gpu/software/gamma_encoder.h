// The eye pass's colour step, out = exp2(log2(c) * k) with k the float 0x3EE8BA2F (nearest
// to 1/2.2), followed by the conversion to 8-bit UNORM.
//
// Evaluating exp2/log2 for three channels of every pixel is most of the cost of a software
// present, so 8-bit outputs go through a table: the output byte is a non-decreasing function
// of c, so it is fixed by the 255 smallest inputs that reach 1, 2, ... 255. Those thresholds are
// found once by bisection on the float bit patterns, evaluating the formula itself, so the
// table reproduces the formula's result exactly (the unit tests compare it with the formula).
#pragma once

#include <cstdint>

namespace quillo::gpu::software {

// k: the float with bits 0x3EE8BA2F (0.45454547).
float GammaExponent();
// The formula, in single precision: exp2f(log2f(c) * k). 0 stays 0, 1 stays 1.
float GammaEncode(float c);

class GammaToUnorm8 {
  public:
    // The shared, lazily built table (built once per process, thread-safe).
    static const GammaToUnorm8& Instance();

    // UnormFromFloat(GammaEncode(c)) for every float c, NaN included.
    uint8_t operator()(float c) const {
        if (!(c > 0.0f)) return 0;
        if (c >= 1.0f) return 255;
        uint32_t bits;
        __builtin_memcpy(&bits, &c, sizeof bits);
        uint32_t out = bucketStart_[bits >> 16];
        if (singleStep_) return static_cast<uint8_t>(out + (c >= threshold_[out + 1]));
        while (c >= threshold_[out + 1]) ++out;
        return static_cast<uint8_t>(out);
    }

    // Whether one comparison finishes every lookup (see singleStep_); words() needs it.
    bool singleStep() const { return singleStep_; }

    // The same lookup as one word per bucket, for vector code (valid when singleStep()): for c
    // clamped to [0, 1] with bits b, the word w = words()[b >> 16] gives the output
    // (w >> 17) - ((w & 0x1FFFF) > (b & 0xFFFF)). w >> 17 is one more than the output of the
    // bucket's smallest float; w & 0x1FFFF is where in the bucket the next output begins
    // (0x10000 when it begins beyond). One load per channel and no dependent second one.
    static constexpr uint32_t kWordBuckets = 0x3F81;  // through 1.0f
    const uint32_t* words() const { return words_; }

  private:
    GammaToUnorm8();
    // threshold_[j]: the smallest c whose output byte is at least j (j = 1..255); [256] is
    // infinity, so a step past 255 is never taken.
    float threshold_[257];
    // Output byte of the smallest float in each bucket of floats sharing their top 16 bits
    // (positive floats below 1: 0x3F80 buckets).
    uint8_t bucketStart_[0x3F80];
    // No bucket holds more than one threshold (a bucket spans 1/128 of its values, over which
    // the output moves by less than one), so one comparison finishes the lookup. Checked when
    // the table is built; if it ever failed, lookups walk instead.
    bool singleStep_ = true;
    uint32_t words_[kWordBuckets];
};

}  // namespace quillo::gpu::software
