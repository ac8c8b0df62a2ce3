// The table behind the 8-bit colour step must give exactly what the formula gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "gpu/software/gamma_encoder.h"

namespace quillo::test {
namespace {

float FromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The colour step written out: exp2(log2(c) * k), k = 0x3EE8BA2F, then D3D's float -> UNORM8.
uint8_t Formula(float c) {
    const float out = std::exp2(std::log2(c) * FromBits(0x3EE8BA2Fu));
    if (!(out > 0.0f)) return 0;
    if (out >= 1.0f) return 255;
    return static_cast<uint8_t>(out * 255.0f + 0.5f);
}

TEST(GammaEncoderTest, ExponentIsTheFloatNearestOneOverTwoPointTwo) {
    EXPECT_FLOAT_EQ(gpu::software::GammaExponent(), 0.45454547f);
    EXPECT_EQ(gpu::software::GammaEncode(0.0f), 0.0f);
    EXPECT_EQ(gpu::software::GammaEncode(1.0f), 1.0f);
    EXPECT_NEAR(gpu::software::GammaEncode(0.5f), 0.7297, 1e-4);
    EXPECT_NEAR(gpu::software::GammaEncode(0.25f), 0.5325, 1e-4);
}

TEST(GammaEncoderTest, TableMatchesTheFormulaAroundEveryStepAndAcrossTheRange) {
    const auto& table = gpu::software::GammaToUnorm8::Instance();
    long mismatches = 0;
    // Every 61st float in [0, 1].
    for (uint32_t bits = 0; bits <= 0x3F800000u; bits += 61) {
        const float c = FromBits(bits);
        mismatches += table(c) != Formula(c);
    }
    // Densely around every place where the output byte changes.
    uint32_t bits = 0;
    for (int level = 1; level < 256; ++level) {
        while (Formula(FromBits(bits)) < level) bits += 4096;
        for (uint32_t b = bits - 8192; b < bits + 8192; ++b) {
            mismatches += table(FromBits(b)) != Formula(FromBits(b));
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(GammaEncoderTest, OutOfRangeInputsClampLikeTheFormula) {
    const auto& table = gpu::software::GammaToUnorm8::Instance();
    EXPECT_EQ(table(-0.5f), 0);
    EXPECT_EQ(table(std::nanf("")), 0);
    EXPECT_EQ(table(0.0f), 0);
    EXPECT_EQ(table(1.0f), 255);
    EXPECT_EQ(table(7.0f), 255);
    EXPECT_EQ(table(INFINITY), 255);
    EXPECT_EQ(table(1e-30f), Formula(1e-30f));
}

}  // namespace
}  // namespace quillo::test
