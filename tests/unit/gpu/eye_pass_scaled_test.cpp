// Filtered 8-bit eye passes through each instruction set's loops (plain C++, SSE2, AVX2 where
// the processor has it), in the layouts eye_pass_reference_test.cpp does not reach: a BGRA
// target, a viewport that starts and ends off a vector boundary, columns that wrap, and
// magnification (rows whose two source rows are both already decoded). Expected bytes come
// from the sampling rules, one pixel at a time. Then the clear recorded while the keyed mutex
// is held, as another opening sees it after the release.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "gpu/software/eye_pass_rasterizer.h"
#include "gpu/software/gamma_encoder.h"
#include "gpu/software/software_device.h"
#include "gpu/software/software_texture.h"
#include "gpu/software/worker_pool.h"

namespace quillo::test {
namespace {

using gpu::software::InstructionSet;

float Linear(uint8_t v, bool srgb) {
    const double c = v / 255.0;
    if (!srgb) return v / 255.0f;
    return static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}

uint8_t Encode(float c) {
    const uint32_t kBits = 0x3EE8BA2Fu;
    float k;
    std::memcpy(&k, &kBits, sizeof k);
    const float out = std::exp2(std::log2(c) * k);
    if (!(out > 0.0f)) return 0;
    return out >= 1.0f ? 255 : static_cast<uint8_t>(out * 255.0f + 0.5f);
}

// Lower texel and weight of the upper one along an axis (8 fractional bits, wrapped).
void Tap(int pixel, float start, float size, float lo, float hi, int texels, int& first,
         float& weight) {
    const float coordinate = (hi - lo) * ((pixel + 0.5f - start) / size) + lo;
    const long long fixed = std::llround(std::floor((coordinate * texels - 0.5f) * 256.0f + 0.5f));
    first = static_cast<int>(((fixed >> 8) % texels + texels) % texels);
    weight = static_cast<float>(fixed & 255) / 256.0f;
}

struct Case {
    const char* name;
    int sourceWidth, sourceHeight;
    uint32_t sourceFormat, targetFormat;  // 28 RGBA8, 29 RGBA8 sRGB, 87 BGRA8, 91 BGRA8 sRGB
    gpu::Viewport viewport;
    TextureBounds bounds;
};

TEST(EyePassScaled, EveryInstructionSetMatchesThePixelByPixelFormulation) {
    constexpr int kWidth = 64, kHeight = 40;
    const Case cases[] = {
        {"sRGB BGRA into BGRA, odd start and width",
         52,
         29,
         91,
         87,
         {3.0f, 1.0f, 45.0f, 37.0f, 0.0f, 1.0f},
         {0.0f, 0.0f, 1.0f, 1.0f}},
        {"RGBA into RGBA, columns wrap",
         23,
         31,
         28,
         28,
         {0.0f, 0.0f, 61.0f, 40.0f, 0.0f, 1.0f},
         {0.6f, 0.1f, 1.7f, 0.9f}},
        {"sRGB RGBA into BGRA, magnified",
         9,
         7,
         29,
         87,
         {5.0f, 2.0f, 50.0f, 35.0f, 0.0f, 1.0f},
         {0.0f, 0.0f, 1.0f, 1.0f}},
    };
    for (InstructionSet set :
         {InstructionSet::Portable, InstructionSet::Sse2, InstructionSet::Avx2}) {
        if (!gpu::software::Supports(set)) continue;
        gpu::software::WorkerPool pool(2);
        gpu::software::EyePassRasterizer rasterizer(pool, set);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", set " + std::to_string(static_cast<int>(set)));
            auto source = gpu::software::SoftwareTexture::Create(
                {static_cast<uint32_t>(c.sourceWidth), static_cast<uint32_t>(c.sourceHeight),
                 c.sourceFormat, gpu::kBindShaderResource, 0});
            auto target = gpu::software::SoftwareTexture::Create(
                {kWidth, kHeight, c.targetFormat, gpu::kBindRenderTarget, 0});
            ASSERT_TRUE(source && target);
            uint32_t state = 12345;
            for (int y = 0; y < c.sourceHeight; ++y) {
                for (int i = 0; i < c.sourceWidth * 4; ++i) {
                    state = state * 1664525u + 1013904223u;
                    source->Row(y)[i] = static_cast<uint8_t>(state >> 24);
                }
            }
            for (int y = 0; y < kHeight; ++y) std::memset(target->Row(y), 0x5A, kWidth * 4);
            rasterizer.Draw(*target, c.targetFormat, c.viewport, source.get(), c.sourceFormat,
                            c.bounds, 0);

            const bool srgb = c.sourceFormat == 29 || c.sourceFormat == 91;
            const int sr = c.sourceFormat == 28 || c.sourceFormat == 29 ? 0 : 2;
            const int tr = c.targetFormat == 28 ? 0 : 2;
            const gpu::Viewport& v = c.viewport;
            int wrong = 0;
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    uint8_t expected[4] = {0x5A, 0x5A, 0x5A, 0x5A};
                    if (x >= v.topLeftX && x < v.topLeftX + v.width && y >= v.topLeftY &&
                        y < v.topLeftY + v.height) {
                        int x0, y0;
                        float wx, wy;
                        Tap(x, v.topLeftX, v.width, c.bounds.uMin, c.bounds.uMax, c.sourceWidth, x0,
                            wx);
                        Tap(y, v.topLeftY, v.height, c.bounds.vMin, c.bounds.vMax, c.sourceHeight,
                            y0, wy);
                        const int x1 = (x0 + 1) % c.sourceWidth, y1 = (y0 + 1) % c.sourceHeight;
                        for (int k = 0; k < 3; ++k) {
                            const int byte = k == 1 ? 1 : k == 0 ? sr : 2 - sr;
                            auto at = [&](int tx, int ty) {
                                return Linear(source->Row(ty)[tx * 4 + byte], srgb);
                            };
                            auto lerp = [](float a, float b, float t) { return a + (b - a) * t; };
                            const float colour = lerp(lerp(at(x0, y0), at(x0, y1), wy),
                                                      lerp(at(x1, y0), at(x1, y1), wy), wx);
                            expected[k == 1 ? 1 : k == 0 ? tr : 2 - tr] = Encode(colour);
                        }
                        expected[3] = 255;
                    }
                    for (int k = 0; k < 4; ++k) {
                        const uint8_t actual = target->Row(y)[x * 4 + k];
                        if (actual != expected[k] && ++wrong <= 5) {
                            ADD_FAILURE() << "pixel " << x << "," << y << " byte " << k << ": "
                                          << int(actual) << ", expected " << int(expected[k]);
                        }
                    }
                }
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

// The vector loops' one-word-per-bucket table against the exact lookup. Both are step functions
// of the float's bits, so agreeing at every output step (and one float below it) and at both
// ends of every bucket means agreeing everywhere.
TEST(EyePassScaled, GammaWordsGiveTheExactTablesBytes) {
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
        uint32_t low = 0, high = 0x3F800000u;  // positive floats order like their bits
        while (low < high) {
            const uint32_t middle = low + (high - low) / 2;
            if (exactOf(middle) >= level) {
                high = middle;
            } else {
                low = middle + 1;
            }
        }
        check(low);
        check(low - 1);
    }
}

TEST(EyePassScaled, AClearWhileHoldingTheTextureShowsUnderWhateverTheNextPassesLeaveUncovered) {
    constexpr uint32_t kWidth = 16, kHeight = 6;
    struct Draw {
        const char* name;
        gpu::Viewport viewports[2];
        size_t count;
    } draws[] = {
        {"nothing drawn", {}, 0},
        {"left half", {{0, 0, 8, 6, 0, 1}}, 1},
        {"both halves", {{0, 0, 8, 6, 0, 1}, {8, 0, 8, 6, 0, 1}}, 2},
        {"both halves, one row short", {{0, 0, 8, 6, 0, 1}, {8, 0, 8, 5, 0, 1}}, 2},
    };
    gpu::software::SoftwareDevice device(2);
    const std::vector<uint8_t> white(4, 255);  // a 1x1 source
    auto source = device.CreateTexture({1, 1, 28, gpu::kBindShaderResource, 0});
    ASSERT_TRUE(source && device.UpdateTexture(*source, white.data(), 4));
    auto view = device.CreateShaderResourceView(source, 28);
    for (const Draw& d : draws) {
        SCOPED_TRACE(d.name);
        auto target = device.CreateTexture({kWidth, kHeight, 28,
                                            gpu::kBindRenderTarget | gpu::kBindShaderResource,
                                            gpu::kMiscSharedKeyedMutex});
        ASSERT_TRUE(target);
        auto rtv = device.CreateRenderTargetView(target, 28);
        std::vector<uint8_t> texels(kWidth * kHeight * 4, 0x5A);
        ASSERT_TRUE(device.UpdateTexture(*target, texels.data(), kWidth * 4));
        ASSERT_EQ(target->AcquireSync(0, 1000), gpu::SyncResult::Ok);
        static constexpr float kBlack[4] = {0, 0, 0, 1};
        device.ClearRenderTarget(*rtv, kBlack);
        gpu::EyePass passes[2];
        for (size_t i = 0; i < d.count; ++i) passes[i] = {d.viewports[i], view.get(), {}};
        if (d.count > 0) device.DrawEyePasses(*rtv, 0, passes, d.count);
        ASSERT_TRUE(target->ReleaseSync(0));

        auto other = device.OpenSharedTexture(target->SharedHandle());
        ASSERT_TRUE(other);
        ASSERT_EQ(other->AcquireSync(0, 1000), gpu::SyncResult::Ok);
        ASSERT_TRUE(device.ReadTexture(*other, texels));
        other->ReleaseSync(0);
        for (uint32_t y = 0; y < kHeight; ++y) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                bool drawn = false;
                for (size_t i = 0; i < d.count; ++i) {
                    const gpu::Viewport& v = d.viewports[i];
                    drawn = drawn || (x >= v.topLeftX && x < v.topLeftX + v.width &&
                                      y >= v.topLeftY && y < v.topLeftY + v.height);
                }
                const uint8_t* t = &texels[(y * kWidth + x) * 4];
                EXPECT_EQ(t[0], drawn ? 255 : 0) << x << "," << y;
                EXPECT_EQ(t[3], 255) << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace quillo::test
