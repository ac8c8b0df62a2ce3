// The Direct3D 11 eye pass against the software backend's: the same scenes drawn by both, the
// way the compositor draws layers (an RGBA8 output, each eye in its integer half, one
// DrawEyePasses per layer), must agree within a few units of 255 (filter weights and the GPU's
// log/exp approximations differ slightly from the software's exact arithmetic). The software
// pass is held to exact values by tests/unit/gpu, so agreeing with it is the whole check.
// Windows build only; skipped where no Direct3D 11 device can be made (under Wine that needs an
// X display, see scripts/wine-run.sh).
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gpu/dxgi_format.h"
#include "gpu/gpu_backend.h"
#include "gpu/submitted_layer.h"

namespace quillo::test {
namespace {

// Largest difference allowed in any channel, in units of 255.
constexpr int kTolerance = 3;
constexpr uint8_t kFill = 0x5A;  // every output byte before the first layer
constexpr TextureBounds kFull{0.0f, 0.0f, 1.0f, 1.0f};

struct Image {
    uint32_t width, height, format;  // typeless formats are viewed typed
    std::vector<uint8_t> texels;     // tightly packed rows, top row first
};

struct SceneLayer {
    int sources[2];  // left, right: indices into Scene::sources; -1 draws without a view
    TextureBounds bounds[2];
};

using Pixels = std::vector<uint8_t>;  // the output's RGBA8 pixels, row-major

struct Scene {
    const char* name;
    uint32_t width, height;  // the output, both eyes side by side
    std::vector<Image> sources;
    std::vector<SceneLayer> layers;
    int32_t invertY;
    bool opaqueBlend;  // false: the alpha blend state CreateRenderStates binds
};

// Four-byte texels whose colour bytes come from a fixed pseudo-random sequence.
Image Noise(uint32_t width, uint32_t height, uint32_t seed, uint8_t alpha = 255,
            uint32_t format = dxgi::kR8G8B8A8Unorm) {
    Image image{width, height, format, {}};
    uint32_t state = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < width * height; ++i) {
        for (int channel = 0; channel < 3; ++channel) {
            state = state * 1664525u + 1013904223u;
            image.texels.push_back(static_cast<uint8_t>(state >> 24));
        }
        image.texels.push_back(alpha);
    }
    return image;
}

// Texel i has red i and green 255 - i: a 256-wide image samples every 8-bit value once.
Image Ramp() {
    Image image{256, 1, dxgi::kR8G8B8A8Unorm, {}};
    for (int i = 0; i < 256; ++i) {
        image.texels.insert(image.texels.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i), 0});
    }
    return image;
}

// Half-float RGBA texels from a few exact values.
Image HalfFloats() {
    Image image{4, 2, dxgi::kR16G16B16A16Float, {}};
    const uint16_t values[] = {0x0000, 0x3400, 0x3800, 0x3A00, 0x3C00, 0x2E66, 0x3266, 0x3B33};
    for (int i = 0; i < 8; ++i) {
        for (uint16_t bits : {values[i], values[7 - i], values[(i + 3) % 8], uint16_t{0}}) {
            image.texels.insert(image.texels.end(), {uint8_t(bits), uint8_t(bits >> 8)});
        }
    }
    return image;
}

Scene Make(const char* name, uint32_t width, uint32_t height, std::vector<Image> sources,
           std::vector<SceneLayer> layers, int32_t invertY = 0, bool opaqueBlend = false) {
    return {name, width, height, std::move(sources), std::move(layers), invertY, opaqueBlend};
}

std::vector<Scene> Scenes() {
    const TextureBounds upperHalf{0.0f, 0.0f, 1.0f, 0.5f};
    return {
        Make("FullBoundsFillEachHalfOnce", 16, 6, {Noise(8, 6, 1), Noise(8, 6, 2)},
             {{0, 1, {kFull, kFull}}}),
        Make("BoundsUpsideDown", 16, 6, {Noise(8, 6, 4)},
             {{0, 0, {{0.0f, 1.0f, 1.0f, 0.0f}, kFull}}}),
        Make("BoundsBeyondOneWrap", 16, 6, {Noise(8, 3, 5)},
             {{0, 0, {{1.0f, 0.0f, 1.5f, 2.0f}, {-1.0f, -0.5f, 1.0f, 1.5f}}}}),
        Make("InvertYFlipsAfterTheBounds", 16, 6, {Noise(8, 6, 6)}, {{0, 0, {kFull, upperHalf}}},
             1),
        Make("GammaOverEveryEightBitValue", 512, 1, {Ramp()}, {{0, 0, {kFull, kFull}}}),
        Make("GammaOnHalfFloatValues", 8, 2, {HalfFloats()}, {{0, 0, {kFull, kFull}}}),
        Make("ScaledSourcesAreFilteredBilinearly", 22, 9, {Noise(5, 3, 8), Noise(13, 17, 9)},
             {{0, 1, {kFull, {0.1f, 0.2f, 0.7f, 0.9f}}}}),
        // B8G8R8A8_TYPELESS is viewed as 91.
        Make("TypelessAndSrgbSourcesAreViewedTyped", 8, 6,
             {Noise(4, 6, 10, 255, dxgi::kB8G8R8A8Typeless),
              Noise(4, 6, 10, 255, dxgi::kR8G8B8A8UnormSrgb),
              Noise(4, 6, 10, 255, dxgi::kR8G8B8A8Typeless)},
             {{0, 1, {kFull, kFull}}, {2, 1, {upperHalf, kFull}}}),
        // A layer with views first: a missing view must not show what was bound before.
        Make("MissingViewsPaintOpaqueBlack", 16, 6, {Noise(8, 6, 11)},
             {{0, 0, {kFull, kFull}},
              {-1, 0, {kFull, kFull}},
              {0, -1, {kFull, kFull}},
              {-1, -1, {kFull, kFull}}}),
        Make("OddWidthLeavesTheLastColumnUntouched", 17, 5, {Noise(3, 5, 13), Noise(8, 5, 14)},
             {{0, 1, {kFull, kFull}}}),
        Make("SecondLayerReplacesTheFirstInBothHalves", 16, 6,
             {Noise(8, 6, 15), Noise(8, 6, 16), Noise(4, 4, 17)},
             {{0, 1, {kFull, kFull}}, {2, 2, {{0.25f, 0.0f, 1.0f, 0.75f}, kFull}}}),
        Make("OpaqueBlendGivesTheSamePictureWhateverTheSourceAlpha", 16, 6,
             {Noise(8, 6, 18, 0), Noise(8, 6, 19, 77)}, {{0, 1, {kFull, kFull}}}, 0, true),
    };
}

// Draws `scene` on `device` into `pixels`.
void Render(gpu::Device& device, const Scene& scene, Pixels& pixels) {
    const uint32_t rgba8 = dxgi::kR8G8B8A8Unorm;
    const uint32_t bind = gpu::kBindRenderTarget | gpu::kBindShaderResource;
    std::shared_ptr<gpu::Texture> output =
        device.CreateTexture({scene.width, scene.height, rgba8, bind, 0});
    ASSERT_TRUE(output);
    const Pixels filled(static_cast<size_t>(scene.width) * scene.height * 4, kFill);
    ASSERT_TRUE(device.UpdateTexture(*output, filled.data(), scene.width * 4));
    std::unique_ptr<gpu::RenderTargetView> target = device.CreateRenderTargetView(output, rgba8);
    ASSERT_TRUE(target);

    std::vector<std::unique_ptr<gpu::ShaderResourceView>> views;
    for (const Image& image : scene.sources) {
        auto texture = device.CreateTexture({image.width, image.height, image.format, bind, 0});
        ASSERT_TRUE(texture) << "format " << image.format;
        ASSERT_TRUE(device.UpdateTexture(*texture, image.texels.data(),
                                         image.width * BytesPerTexel(image.format)));
        views.push_back(device.CreateShaderResourceView(texture, TypedFormatFor(image.format)));
        ASSERT_TRUE(views.back()) << "format " << image.format;
    }

    ASSERT_TRUE(device.CreateRenderStates());
    if (scene.opaqueBlend) device.SetBlendState(gpu::BlendState::Opaque);
    const float half = static_cast<float>(scene.width >> 1);
    for (const SceneLayer& layer : scene.layers) {
        gpu::EyePass passes[2];
        for (int eye = 0; eye < 2; ++eye) {
            passes[eye].viewport = {eye * half, 0.0f, half, float(scene.height), 0.0f, 1.0f};
            const int source = layer.sources[eye];
            passes[eye].source = source >= 0 ? views.at(source).get() : nullptr;
            passes[eye].bounds = layer.bounds[eye];
        }
        device.DrawEyePasses(*target, scene.invertY, passes, 2);
    }
    ASSERT_TRUE(device.ReadTexture(*output, pixels));
}

class D3D11AgainstSoftware : public ::testing::TestWithParam<Scene> {};

TEST_P(D3D11AgainstSoftware, SamePictureWithinTolerance) {
    // One device for every scene: making one takes most of a second under Wine.
    static const std::unique_ptr<gpu::Device> d3d11 = gpu::CreateD3D11Device();
    if (!d3d11) GTEST_SKIP() << "no Direct3D 11 device on this system";
    const Scene& scene = GetParam();
    Pixels hardware, reference;
    ASSERT_NO_FATAL_FAILURE(Render(*d3d11, scene, hardware));
    ASSERT_NO_FATAL_FAILURE(Render(*gpu::CreateSoftwareDevice(), scene, reference));
    ASSERT_EQ(hardware.size(), reference.size());

    int largest = 0;
    size_t differing = 0, first = 0;
    for (size_t i = 0; i < hardware.size(); ++i) {
        const int difference = std::abs(int(hardware[i]) - int(reference[i]));
        largest = std::max(largest, difference);
        if (difference > kTolerance && differing++ == 0) first = i;
    }
    EXPECT_EQ(differing, 0u) << "channels differ by more than " << kTolerance << " (largest "
                             << largest << "), first at (" << first / 4 % scene.width << ","
                             << first / 4 / scene.width << ")[" << first % 4 << "]";
}

INSTANTIATE_TEST_SUITE_P(Scenes, D3D11AgainstSoftware, ::testing::ValuesIn(Scenes()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quillo::test

#endif  // _WIN32
