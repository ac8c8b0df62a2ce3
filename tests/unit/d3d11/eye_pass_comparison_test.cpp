// The Direct3D 11 eye pass against the software backend's: the same scenes drawn by both must
// agree within a few units of 255 (filter weights and the GPU's log/exp approximations differ
// slightly from the reference's exact arithmetic). Windows build only; skipped where no
// Direct3D 11 device can be made (under Wine that needs an X display, see scripts/wine-run.sh).
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>

#include "eye_pass_scene.h"
#include "gpu/dxgi_format.h"
#include "gpu/gpu_backend.h"

namespace quillo::test {
namespace {

// Largest difference allowed in any channel, in units of 255.
constexpr int kTolerance = 3;

constexpr TextureBounds kFull{0.0f, 0.0f, 1.0f, 1.0f};

struct NamedScene {
    const char* name;
    std::function<Scene()> make;
    // Extra checks on the Direct3D 11 result alone (pixels are RGBA8, row-major).
    std::function<void(const Scene&, const std::vector<uint8_t>&)> check;
};

// gtest prints a failing parameter with this instead of its bytes.
void PrintTo(const NamedScene& scene, std::ostream* out) {
    *out << scene.name;
}

uint8_t ByteAt(const Scene& scene, const std::vector<uint8_t>& pixels, uint32_t x, uint32_t y,
               int channel) {
    return pixels[(static_cast<size_t>(y) * scene.width + x) * 4 + channel];
}

void ExpectOpaqueBlack(const Scene& scene, const std::vector<uint8_t>& pixels, uint32_t x0,
                       uint32_t x1) {
    for (uint32_t y = 0; y < scene.height; ++y) {
        for (uint32_t x = x0; x < x1; ++x) {
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(ByteAt(scene, pixels, x, y, c), c == 3 ? 255 : 0) << x << "," << y;
        }
    }
}

void ExpectAlphaOne(const Scene& scene, const std::vector<uint8_t>& pixels) {
    const uint32_t drawn = (scene.width >> 1) * 2;
    for (uint32_t y = 0; y < scene.height; ++y) {
        for (uint32_t x = 0; x < drawn; ++x) ASSERT_EQ(ByteAt(scene, pixels, x, y, 3), 255);
    }
}

Scene TwoEyes(uint32_t width, uint32_t height, std::vector<SourceImage> sources,
              std::vector<SceneLayer> layers) {
    Scene scene;
    scene.width = width;
    scene.height = height;
    scene.sources = std::move(sources);
    scene.layers = std::move(layers);
    return scene;
}

// An image whose texel (x, y) is the grey value of x + width * y: with a 256-wide texture
// every 8-bit value is sampled exactly once.
SourceImage Ramp(uint32_t width, uint32_t height) {
    SourceImage image;
    image.width = width;
    image.height = height;
    for (uint32_t i = 0; i < width * height; ++i) {
        const uint8_t v = static_cast<uint8_t>(i);
        image.texels.insert(image.texels.end(), {v, static_cast<uint8_t>(255 - v), v, 0});
    }
    return image;
}

// Half-float RGBA texels (R16G16B16A16_FLOAT) from a few exact values.
SourceImage HalfFloatImage() {
    SourceImage image;
    image.width = 4;
    image.height = 2;
    image.format = dxgi::kR16G16B16A16Float;
    const uint16_t values[] = {0x0000, 0x3400, 0x3800, 0x3A00, 0x3C00, 0x2E66, 0x3266, 0x3B33};
    for (int i = 0; i < 8; ++i) {
        for (uint16_t bits : {values[i], values[7 - i], values[(i + 3) % 8], uint16_t{0}}) {
            image.texels.push_back(static_cast<uint8_t>(bits));
            image.texels.push_back(static_cast<uint8_t>(bits >> 8));
        }
    }
    return image;
}

SourceImage Reformatted(SourceImage image, uint32_t format) {
    image.format = format;
    return image;
}

const NamedScene kScenes[] = {
    {"FullBoundsFillEachHalfOnce",
     [] {
         return TwoEyes(16, 6, {NoiseImage(8, 6, 1), NoiseImage(8, 6, 2)},
                        {{0, 1, {kFull, kFull}}});
     },
     ExpectAlphaOne},
    {"BoundsUpsideDown",
     [] {
         return TwoEyes(16, 6, {NoiseImage(8, 6, 4)}, {{0, 0, {{0.0f, 1.0f, 1.0f, 0.0f}, kFull}}});
     },
     nullptr},
    {"BoundsBeyondOneWrap",
     [] {
         return TwoEyes(16, 6, {NoiseImage(8, 3, 5)},
                        {{0, 0, {{1.0f, 0.0f, 1.5f, 2.0f}, {-1.0f, -0.5f, 1.0f, 1.5f}}}});
     },
     nullptr},
    {"InvertYFlipsAfterTheBounds",
     [] {
         Scene scene =
             TwoEyes(16, 6, {NoiseImage(8, 6, 6)}, {{0, 0, {kFull, {0.0f, 0.0f, 1.0f, 0.5f}}}});
         scene.invertY = 1;
         return scene;
     },
     nullptr},
    {"GammaOverEveryEightBitValue",
     [] {
         return TwoEyes(512, 1, {Ramp(256, 1)}, {{0, 0, {kFull, kFull}}});
     },
     [](const Scene& scene, const std::vector<uint8_t>& pixels) {
         // 0 stays 0, 255 stays 255; 128/255 (0.50196) becomes 186.
         EXPECT_EQ(ByteAt(scene, pixels, 0, 0, 0), 0);
         EXPECT_EQ(ByteAt(scene, pixels, 255, 0, 0), 255);
         EXPECT_EQ(ByteAt(scene, pixels, 0, 0, 1), 255);
         EXPECT_NEAR(ByteAt(scene, pixels, 128, 0, 0), 186, 1);
         ExpectAlphaOne(scene, pixels);
     }},
    {"GammaOnHalfFloatValues",
     [] {
         return TwoEyes(8, 2, {HalfFloatImage()}, {{0, 0, {kFull, kFull}}});
     },
     ExpectAlphaOne},
    {"ScaledSourcesAreFilteredBilinearly",
     [] {
         return TwoEyes(22, 9, {NoiseImage(5, 3, 8), NoiseImage(13, 17, 9)},
                        {{0, 1, {kFull, {0.1f, 0.2f, 0.7f, 0.9f}}}});
     },
     nullptr},
    {"TypelessAndSrgbSourcesAreViewedTyped",
     [] {
         const SourceImage noise = NoiseImage(4, 6, 10);
         SourceImage bgra = Reformatted(noise, dxgi::kB8G8R8A8Typeless);  // viewed as 91
         return TwoEyes(8, 6,
                        {bgra, Reformatted(noise, dxgi::kR8G8B8A8UnormSrgb),
                         Reformatted(noise, dxgi::kR8G8B8A8Typeless)},
                        {{0, 1, {kFull, kFull}}, {2, 1, {{0.0f, 0.0f, 1.0f, 0.5f}, kFull}}});
     },
     nullptr},
    {"MissingViewsPaintOpaqueBlack",
     [] {
         // A layer with views first: a missing view must not show what was bound before.
         return TwoEyes(16, 6, {NoiseImage(8, 6, 11)},
                        {{0, 0, {kFull, kFull}},
                         {-1, 0, {kFull, kFull}},
                         {0, -1, {kFull, kFull}},
                         {-1, -1, {kFull, kFull}}});
     },
     [](const Scene& scene, const std::vector<uint8_t>& pixels) {
         ExpectOpaqueBlack(scene, pixels, 0, scene.width);
     }},
    {"OddWidthLeavesTheLastColumnUntouched",
     [] {
         return TwoEyes(17, 5, {NoiseImage(3, 5, 13), NoiseImage(8, 5, 14)},
                        {{0, 1, {kFull, kFull}}});
     },
     [](const Scene& scene, const std::vector<uint8_t>& pixels) {
         for (uint32_t y = 0; y < scene.height; ++y) {
             for (int c = 0; c < 4; ++c) EXPECT_EQ(ByteAt(scene, pixels, 16, y, c), scene.fill);
         }
         ExpectAlphaOne(scene, pixels);
     }},
    {"SecondLayerReplacesTheFirstInBothHalves",
     [] {
         return TwoEyes(16, 6, {NoiseImage(8, 6, 15), NoiseImage(8, 6, 16), NoiseImage(4, 4, 17)},
                        {{0, 1, {kFull, kFull}}, {2, 2, {{0.25f, 0.0f, 1.0f, 0.75f}, kFull}}});
     },
     nullptr},
    {"OpaqueBlendGivesTheSamePictureWhateverTheSourceAlpha",
     [] {
         Scene scene = TwoEyes(16, 6, {NoiseImage(8, 6, 18, 0), NoiseImage(8, 6, 19, 77)},
                               {{0, 1, {kFull, kFull}}});
         scene.opaqueBlend = true;
         return scene;
     },
     ExpectAlphaOne},
};

class D3D11AgainstSoftware : public ::testing::TestWithParam<NamedScene> {
  protected:
    static void SetUpTestSuite() {
        d3d11_ = gpu::CreateD3D11Device().release();
        software_ = gpu::CreateSoftwareDevice().release();
    }
    static void TearDownTestSuite() {
        delete d3d11_;
        delete software_;
        d3d11_ = software_ = nullptr;
    }
    void SetUp() override {
        if (d3d11_ == nullptr) GTEST_SKIP() << "no Direct3D 11 device on this system";
        ASSERT_NE(software_, nullptr);
    }

    static gpu::Device* d3d11_;
    static gpu::Device* software_;
};
gpu::Device* D3D11AgainstSoftware::d3d11_ = nullptr;
gpu::Device* D3D11AgainstSoftware::software_ = nullptr;

TEST_P(D3D11AgainstSoftware, SamePictureWithinTolerance) {
    const NamedScene& named = GetParam();
    const Scene scene = named.make();
    std::vector<uint8_t> hardware, reference;
    std::string error;
    ASSERT_TRUE(RenderScene(*d3d11_, scene, hardware, error)) << "d3d11: " << error;
    ASSERT_TRUE(RenderScene(*software_, scene, reference, error)) << "software: " << error;
    ASSERT_EQ(hardware.size(), reference.size());

    int largest = 0;
    size_t differing = 0;
    std::ostringstream firstDifferences;
    for (size_t i = 0; i < hardware.size(); ++i) {
        const int difference = std::abs(int(hardware[i]) - int(reference[i]));
        largest = std::max(largest, difference);
        if (difference > kTolerance && differing++ < 8) {
            const size_t pixel = i / 4;
            firstDifferences << " (" << pixel % scene.width << "," << pixel / scene.width << ")["
                             << i % 4 << "] d3d11 " << int(hardware[i]) << " software "
                             << int(reference[i]) << ";";
        }
    }
    RecordProperty("largest_difference", largest);
    std::printf("[ scene    ] %s: largest channel difference %d\n", named.name, largest);
    EXPECT_EQ(differing, 0u) << differing << " channels differ by more than " << kTolerance << ":"
                             << firstDifferences.str();
    if (named.check) named.check(scene, hardware);
}

INSTANTIATE_TEST_SUITE_P(Scenes, D3D11AgainstSoftware, ::testing::ValuesIn(kScenes),
                         [](const ::testing::TestParamInfo<NamedScene>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace quillo::test

#endif  // _WIN32
