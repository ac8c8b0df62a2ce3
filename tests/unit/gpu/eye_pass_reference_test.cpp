// The software eye pass, drawn by several threads and with each instruction set through
// whatever fast path applies, against a second formulation written from the sampling rules
// alone: one pixel at a time, no tables, double-checked decoding. Sources hold every byte value
// (and, for half floats, infinities and NaNs), so any texel or row that a thread, a table or a
// shortcut gets wrong shows up. The 8-bit colour step's tables are checked against the formula on
// their own, around every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "gpu/gpu_device.h"
#include "gpu/software/eight_bit_filter_avx512.h"
#include "gpu/software/gamma_encoder.h"
#include "gpu/software/software_device.h"

namespace quillo::test {
namespace {

float FromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The colour step written out: exp2(log2(c) * k), k = 0x3EE8BA2F (the float nearest 1/2.2, as
// the pixel shader has it), in single precision, then D3D's float -> UNORM8.
uint8_t Encode(float c) {
    const float out = std::exp2(std::log2(c) * FromBits(0x3EE8BA2Fu));
    if (!(out > 0.0f)) return 0;
    if (out >= 1.0f) return 255;
    return static_cast<uint8_t>(out * 255.0f + 0.5f);
}

TEST(GammaTable, MatchesTheFormulaAroundEveryStepAcrossTheRangeAndOutsideIt) {
    const auto& table = gpu::software::GammaToUnorm8::Instance();
    long mismatches = 0;
    for (float c : {-0.5f, std::nanf(""), 0.0f, 1e-30f, 1.0f, 7.0f, INFINITY}) {
        mismatches += table(c) != Encode(c);
    }
    for (uint32_t bits = 0; bits <= 0x3F800000u; bits += 61) {  // every 61st float in [0, 1]
        mismatches += table(FromBits(bits)) != Encode(FromBits(bits));
    }
    // Densely around every place where the output byte changes.
    uint32_t bits = 0;
    for (int level = 1; level < 256; ++level) {
        while (Encode(FromBits(bits)) < level) bits += 4096;
        for (uint32_t b = bits - 8192; b < bits + 8192; ++b) {
            mismatches += table(FromBits(b)) != Encode(FromBits(b));
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The smallest bit pattern in [0, 1] whose byte from the exact lookup is at least `level`, by
// bisection (positive floats order like their bits).
uint32_t FirstBitsOf(int level) {
    const gpu::software::GammaToUnorm8& exact = gpu::software::GammaToUnorm8::Instance();
    uint32_t low = 0, high = 0x3F800000u;
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        if (exact(FromBits(middle)) >= level) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

// The vector loops' one-word-per-bucket table against the exact lookup. Both are step functions
// of the float's bits, so agreeing at every output step (and one float below it) and at both
// ends of every bucket means agreeing everywhere.
TEST(GammaTable, VectorLoopsWordsGiveTheExactTablesBytes) {
    const gpu::software::GammaToUnorm8& exact = gpu::software::GammaToUnorm8::Instance();
    ASSERT_TRUE(exact.singleStep());
    auto fromWords = [&](uint32_t bits) {
        const uint32_t word = exact.words()[bits >> 16];
        return static_cast<int>((word >> 17) - ((word & 0x1FFFFu) > (bits & 0xFFFFu)));
    };
    auto exactOf = [&](uint32_t bits) {
        float c;
        std::memcpy(&c, &bits, sizeof c);
        return static_cast<int>(exact(c));
    };
    auto check = [&](uint32_t bits) {
        EXPECT_EQ(fromWords(bits), exactOf(bits)) << std::hex << bits;
    };
    for (uint32_t bucket = 0; bucket < gpu::software::GammaToUnorm8::kWordBuckets; ++bucket) {
        check(bucket << 16);
        if (bucket < 0x3F80) check((bucket << 16) | 0xFFFF);
    }
    for (int level = 1; level < 256; ++level) {
        const uint32_t first = FirstBitsOf(level);
        check(first);
        check(first - 1);
    }
}

// The AVX-512 loops compute the colour step instead of looking it up; their estimate is exact
// only away from the output steps and falls back to the table near them. Checked against the
// table for every float the filter can produce: 0, and all from 2^-31 to a little above 1.
TEST(GammaTable, AvxFiveTwelveStepGivesTheTablesByteForEveryFloatThePassProduces) {
    if (!gpu::software::Avx512Supported()) GTEST_SKIP() << "no AVX-512 on this processor";
    uint32_t firstOf[257];
    for (int level = 1; level < 256; ++level) firstOf[level] = FirstBitsOf(level);
    firstOf[256] = 0xFFFFFFFFu;
    constexpr uint32_t kFirst = 0x30000000u, kLast = 0x3F800010u;  // 2^-31, 1 + 2^-19
    constexpr size_t kBlock = 1 << 16;
    std::vector<float> values(kBlock);
    std::vector<uint8_t> bytes(kBlock);
    uint8_t zero;
    gpu::software::GammaBytesAvx512(values.data(), 1, &zero);  // values[0] is 0
    long mismatches = zero != 0;
    int expected = 0;
    for (uint64_t start = kFirst; start <= kLast; start += kBlock) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(kBlock, kLast + 1 - start));
        for (size_t i = 0; i < count; ++i) values[i] = FromBits(static_cast<uint32_t>(start + i));
        gpu::software::GammaBytesAvx512(values.data(), count, bytes.data());
        for (size_t i = 0; i < count; ++i) {
            const uint32_t bits = static_cast<uint32_t>(start + i);
            while (bits >= firstOf[expected + 1]) ++expected;
            if (bytes[i] != expected && ++mismatches <= 5) {
                ADD_FAILURE() << std::hex << "bits " << bits << std::dec << ": " << int(bytes[i])
                              << ", expected " << expected;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

float Half(uint16_t h) {
    const int exponent = (h >> 10) & 31, mantissa = h & 1023;
    const float sign = (h & 0x8000) ? -1.0f : 1.0f;
    if (exponent == 31) return mantissa ? NAN : sign * INFINITY;
    if (exponent == 0) return sign * std::ldexp(static_cast<float>(mantissa), -24);
    return sign * std::ldexp(static_cast<float>(1024 + mantissa), exponent - 25);
}

float SrgbByte(int v) {
    const double c = v / 255.0;
    return static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}

struct Source {
    uint32_t width, height, format;  // 28 RGBA8, 29 RGBA8 sRGB, 87 BGRA8, 91 BGRA8 sRGB, 10 RGBA16F
    std::vector<uint8_t> bytes;
    uint32_t texel() const { return format == 10 ? 8 : 4; }
    // Linear red, green, blue of texel (x, y).
    void Colour(uint32_t x, uint32_t y, float rgb[3]) const {
        const uint8_t* t = &bytes[(static_cast<size_t>(y) * width + x) * texel()];
        for (int c = 0; c < 3; ++c) {
            if (format == 10) {
                rgb[c] = Half(static_cast<uint16_t>(t[2 * c] | (t[2 * c + 1] << 8)));
            } else if (format == 91 || format == 29) {
                rgb[c] = SrgbByte(t[format == 91 ? 2 - c : c]);
            } else if (format == 87) {
                rgb[c] = t[2 - c] / 255.0f;
            } else {
                rgb[c] = t[c] / 255.0f;
            }
        }
    }
};

// Lower tap and weight of the second along one axis, 8 fractional bits, wrapped.
void Tap(int pixel, float start, float size, float lo, float hi, bool invert, uint32_t texels,
         uint32_t& first, float& weight) {
    float coordinate = (hi - lo) * ((pixel + 0.5f - start) / size) + lo;
    if (invert) coordinate = 1.0f - coordinate;
    const long long fixed = std::llround(std::floor((coordinate * texels - 0.5f) * 256.0f + 0.5f));
    const long long index = ((fixed >> 8) % texels + texels) % texels;
    first = static_cast<uint32_t>(index);
    weight = static_cast<float>(fixed & 255) / 256.0f;
}

// What the pass draws into an outWidth x outHeight target (RGBA8, or BGRA8 when `bgra`)
// filled with 0x5A: every pixel of the viewport (whole pixels here) sampled bilinearly, the
// rest untouched.
std::vector<uint8_t> Expected(const Source& source, uint32_t outWidth, uint32_t outHeight,
                              const gpu::Viewport& viewport, const TextureBounds& b, bool invert,
                              bool bgra) {
    std::vector<uint8_t> out(static_cast<size_t>(outWidth) * outHeight * 4, 0x5A);
    auto lerp = [](float a, float c, float t) { return a + (c - a) * t; };
    const auto x0 = static_cast<uint32_t>(viewport.topLeftX);
    const auto y0 = static_cast<uint32_t>(viewport.topLeftY);
    for (uint32_t y = y0; y < y0 + static_cast<uint32_t>(viewport.height); ++y) {
        for (uint32_t x = x0; x < x0 + static_cast<uint32_t>(viewport.width); ++x) {
            uint32_t tx, ty;
            float wx, wy;
            Tap(static_cast<int>(x), viewport.topLeftX, viewport.width, b.uMin, b.uMax, false,
                source.width, tx, wx);
            Tap(static_cast<int>(y), viewport.topLeftY, viewport.height, b.vMin, b.vMax, invert,
                source.height, ty, wy);
            const uint32_t tx1 = (tx + 1) % source.width, ty1 = (ty + 1) % source.height;
            float a[3], bb[3], c[3], d[3];
            source.Colour(tx, ty, a);
            source.Colour(tx1, ty, bb);
            source.Colour(tx, ty1, c);
            source.Colour(tx1, ty1, d);
            uint8_t* p = &out[(static_cast<size_t>(y) * outWidth + x) * 4];
            for (int k = 0; k < 3; ++k) {
                p[bgra ? 2 - k : k] = Encode(lerp(lerp(a[k], c[k], wy), lerp(bb[k], d[k], wy), wx));
            }
            p[3] = 255;
        }
    }
    return out;
}

// Output 96x50; unless a case says otherwise, drawn into a 48x44 viewport right of column 48
// and below row 3 (so taps are not pixel indices) of an RGBA8 target.
constexpr uint32_t kWidth = 96, kHeight = 50;
constexpr gpu::Viewport kViewport{48.0f, 3.0f, 48.0f, 44.0f, 0.0f, 1.0f};

struct Case {
    const char* name;
    Source source;
    TextureBounds bounds;
    int32_t invertY = 0;  // flips when positive
    gpu::Viewport viewport = kViewport;
    uint32_t targetFormat = 28;
};

Source Make(uint32_t width, uint32_t height, uint32_t format) {
    Source s{width, height, format, {}};
    s.bytes.resize(static_cast<size_t>(width) * height * s.texel());
    uint32_t state = 0x1234567u + format;
    for (size_t i = 0; i < s.bytes.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        s.bytes[i] = static_cast<uint8_t>(state >> 24);
    }
    if (format == 10) {
        // Mostly values in [0, 2], with an infinity and NaNs among them.
        for (size_t i = 0; i + 1 < s.bytes.size(); i += 2) s.bytes[i + 1] &= 0x3F;
        const uint16_t specials[3] = {0x7C00, 0x7E00, 0xFC00};
        for (int n = 0; n < 3; ++n) {
            const size_t at = (static_cast<size_t>(n) * 397 + 11) % (width * height) * 8 + 2 * n;
            s.bytes[at] = static_cast<uint8_t>(specials[n]);
            s.bytes[at + 1] = static_cast<uint8_t>(specials[n] >> 8);
        }
    }
    return s;
}

TEST(EyePassReference, EveryPathAndInstructionSetMatchesThePixelByPixelFormulation) {
    // 1:1 sources are 48x44; 44 rows in chunks of 8 give every thread several bands, the last
    // one short. The 8-bit filtered path is also drawn with every instruction set the processor
    // has, into a BGRA target, from a viewport that starts and ends off a vector boundary, with
    // wrapping columns, magnified (rows whose two source rows are already decoded), and shrunk
    // so much that a vector's pixels reach further than a window of source columns.
    const TextureBounds full{0.0f, 0.0f, 1.0f, 1.0f}, flipped{0.25f, 1.0f, 1.25f, 0.0f};
    const gpu::Viewport oddStart{3.0f, 1.0f, 45.0f, 37.0f, 0.0f, 1.0f},
        wide{0.0f, 0.0f, 61.0f, 40.0f, 0.0f, 1.0f}, magnified{5.0f, 2.0f, 50.0f, 35.0f, 0.0f, 1.0f};
    const Case cases[] = {
        {"RGBA8 1:1", Make(48, 44, 28), full},
        {"RGBA8 1:1, flipped and shifted by whole texels", Make(48, 44, 28), flipped},
        {"BGRA8 sRGB 1:1, invertY", Make(48, 44, 91), full, 1},
        {"BGRA8 1:1, invertY 7", Make(48, 44, 87), full, 7},
        {"BGRA8 sRGB 1:1 into BGRA8, odd start and width", Make(45, 37, 91), full, 0, oddStart, 87},
        {"BGRA8 repeated beyond 1, invertY -1", Make(24, 22, 87), {1.0f, 0.0f, 2.5f, 1.0f}, -1},
        {"RGBA8 scaled", Make(37, 61, 28), {0.1f, -0.3f, 0.95f, 0.9f}},
        {"BGRA8 sRGB scaled", Make(53, 29, 91), full},
        {"BGRA8 sRGB into BGRA8, odd start and width", Make(52, 29, 91), full, 0, oddStart, 87},
        {"RGBA8 scaled, columns wrap", Make(23, 31, 28), {0.6f, 0.1f, 1.7f, 0.9f}, 0, wide},
        {"RGBA8 sRGB into BGRA8, magnified", Make(9, 7, 29), full, 0, magnified, 87},
        {"BGRA8 sRGB shrunk to a quarter across", Make(203, 60, 91), full},
        {"RGBA16F 1:1 with infinities and NaNs", Make(48, 44, 10), full},
        {"RGBA16F scaled", Make(31, 45, 10), {0.0f, 0.0f, 1.5f, 1.0f}, 1},
    };
    using gpu::software::InstructionSet;
    const std::pair<unsigned, InstructionSet> configurations[] = {
        {1, InstructionSet::Portable},
        {1, InstructionSet::Sse2},
        {1, InstructionSet::Avx2},
        {1, InstructionSet::Avx512},
        {3, gpu::software::BestInstructionSet()}};
    for (const auto& [threads, set] : configurations) {
        if (!gpu::software::Supports(set)) continue;
        gpu::software::SoftwareDevice device(threads, set);
        ASSERT_EQ(device.threadCount(), threads);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads) +
                         ", instruction set " + std::to_string(static_cast<int>(set)));
            auto target =
                device.CreateTexture({kWidth, kHeight, c.targetFormat,
                                      gpu::kBindRenderTarget | gpu::kBindShaderResource, 0});
            auto rtv = device.CreateRenderTargetView(target, c.targetFormat);
            ASSERT_TRUE(rtv);
            const Source& source = c.source;
            auto texture = device.CreateTexture(
                {source.width, source.height, source.format, gpu::kBindShaderResource, 0});
            ASSERT_TRUE(texture);
            ASSERT_TRUE(
                device.UpdateTexture(*texture, source.bytes.data(), source.width * source.texel()));
            auto view = device.CreateShaderResourceView(texture, source.format);
            ASSERT_TRUE(view);
            std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 4, 0x5A);
            ASSERT_TRUE(device.UpdateTexture(*target, pixels.data(), kWidth * 4));
            const gpu::EyePass pass{c.viewport, view.get(), c.bounds};
            device.DrawEyePasses(*rtv, c.invertY, &pass, 1);
            ASSERT_TRUE(device.ReadTexture(*target, pixels));
            const std::vector<uint8_t> expected = Expected(
                source, kWidth, kHeight, c.viewport, c.bounds, c.invertY > 0, c.targetFormat == 87);
            int wrong = 0;
            for (size_t i = 0; i < pixels.size(); ++i) {
                if (pixels[i] != expected[i] && ++wrong <= 5) {
                    ADD_FAILURE() << "pixel " << i / 4 % kWidth << "," << i / 4 / kWidth
                                  << " channel " << i % 4 << ": " << int(pixels[i]) << ", expected "
                                  << int(expected[i]);
                }
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

}  // namespace
}  // namespace quillo::test
