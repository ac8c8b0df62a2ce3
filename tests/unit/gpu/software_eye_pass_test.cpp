// The software backend's eye pass against values worked out by hand: where each output pixel
// samples, the bilinear/wrap filter, the 1/2.2 exponent and the 8-bit conversion.
//
// Reference bytes used below, out = round(255 * (c ^ 0.45454547)):
//   c = 0 -> 0;  16/255 -> 72;  64/255 -> 136;  128/255 -> 186;  200/255 -> 228;  1 -> 255
//   c = 0.25 -> 135.79 -> 136;  0.5 -> 186.08 -> 186;  0.75 -> 223.74 -> 224
//   sRGB 188 decodes to 0.50289 -> 186.57 -> 187
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "gpu/frame_compositor.h"
#include "gpu/gpu_backend.h"

namespace quillo {
namespace {

using Rgba = std::array<uint8_t, 4>;

class SoftwareEyePassTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(compositor.CreateDevice(gpu::CreateSoftwareDevice())); }

    gpu::Device& device() { return *compositor.device(); }

    void MakeOutputs(uint32_t width, uint32_t height) {
        compositor.setOutputFormat(28);
        compositor.CreateOutputTextures(width, height);
        ASSERT_NE(compositor.OutputTexture(0), nullptr);
    }

    // A registered swap texture filled with `texels` (4 bytes each, row-major).
    uint64_t MakeSource(uint32_t width, uint32_t height, uint32_t format,
                        const std::vector<uint8_t>& texels) {
        FrameCompositor::SwapTexture swap = compositor.CreateSwapTexture(width, height, format);
        EXPECT_NE(swap.handle, 0u);
        if (!swap.texture) return 0;
        const uint32_t pitch = static_cast<uint32_t>(texels.size() / height);
        EXPECT_TRUE(device().UpdateTexture(*swap.texture, texels.data(), pitch));
        compositor.OpenSharedTexture(swap.handle);
        sources.push_back(swap.texture);
        return swap.handle;
    }

    // A grey 8-bit texture whose texel (x, y) has the value values[y * width + x].
    uint64_t MakeGrey(uint32_t width, uint32_t height, const std::vector<uint8_t>& values,
                      uint32_t format = 28) {
        std::vector<uint8_t> texels;
        for (uint8_t v : values) texels.insert(texels.end(), {v, v, v, 255});
        return MakeSource(width, height, format, texels);
    }

    void Layer(int output, uint64_t left, TextureBounds leftBounds, uint64_t right,
               TextureBounds rightBounds) {
        const uint64_t handles[2] = {left, right};
        const TextureBounds bounds[2] = {leftBounds, rightBounds};
        compositor.RenderLayer(output, handles, bounds);
    }

    void Read(int output) {
        gpu::Texture& texture = *compositor.OutputTexture(output);
        width = texture.Describe().width;
        ASSERT_TRUE(device().ReadTexture(texture, pixels));
    }
    Rgba At(uint32_t x, uint32_t y) const {
        const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
    uint8_t Red(uint32_t x, uint32_t y) const { return At(x, y)[0]; }

    void Fill(int output, uint8_t value) {
        gpu::Texture& texture = *compositor.OutputTexture(output);
        const gpu::TextureDesc desc = texture.Describe();
        std::vector<uint8_t> bytes(static_cast<size_t>(desc.width) * desc.height * 4, value);
        ASSERT_TRUE(device().UpdateTexture(texture, bytes.data(), desc.width * 4));
    }

    FrameCompositor compositor;
    std::vector<std::shared_ptr<gpu::Texture>> sources;
    std::vector<uint8_t> pixels;
    uint32_t width = 0;
};

constexpr TextureBounds kFull{0.0f, 0.0f, 1.0f, 1.0f};

TEST_F(SoftwareEyePassTest, FullBoundsShowEachEyeTextureOnceUprightInItsHalf) {
    MakeOutputs(8, 2);
    // 4x2 eye textures: texel centres fall exactly on pixel centres, so no filtering.
    const uint64_t left = MakeGrey(4, 2, {0, 16, 64, 128, 200, 255, 0, 16});
    const uint64_t right = MakeGrey(4, 2, {255, 200, 128, 64, 16, 0, 255, 200});
    Layer(0, left, kFull, right, kFull);
    Read(0);
    const uint8_t expectedRows[2][8] = {{0, 72, 136, 186, 255, 228, 186, 136},
                                        {228, 255, 0, 72, 72, 0, 255, 228}};
    for (uint32_t y = 0; y < 2; ++y) {
        for (uint32_t x = 0; x < 8; ++x) {
            const uint8_t e = expectedRows[y][x];
            EXPECT_EQ(At(x, y), (Rgba{e, e, e, 255})) << x << "," << y;
        }
    }
}

TEST_F(SoftwareEyePassTest, BoundsSelectFlipAndRepeatPartsOfTheTexture) {
    MakeOutputs(8, 2);
    // 8x2 texture, column values 0,16,64,128,200,255,0,16 in both rows.
    const std::vector<uint8_t> columns = {0, 16, 64, 128, 200, 255, 0, 16};
    std::vector<uint8_t> values = columns;
    values.insert(values.end(), columns.begin(), columns.end());
    const uint64_t wide = MakeGrey(8, 2, values);

    // (0.5, 0, 1, 1): the right half, columns 4..7, fills the 4-pixel viewport.
    Layer(0, wide, {0.5f, 0.0f, 1.0f, 1.0f}, wide, {0.0f, 0.0f, 0.5f, 1.0f});
    Read(0);
    const uint8_t rightHalf[4] = {228, 255, 0, 72};
    const uint8_t leftHalf[4] = {0, 72, 136, 186};
    for (uint32_t x = 0; x < 4; ++x) {
        EXPECT_EQ(Red(x, 0), rightHalf[x]) << x;
        EXPECT_EQ(Red(x + 4, 1), leftHalf[x]) << x;
    }

    // Beyond 1 the texture repeats: (1, 0, 1.5, 1) is (0, 0, 0.5, 1) again.
    Layer(1, wide, {1.0f, 0.0f, 1.5f, 1.0f}, wide, {-1.0f, 0.0f, -0.5f, 1.0f});
    Read(1);
    for (uint32_t x = 0; x < 4; ++x) {
        EXPECT_EQ(Red(x, 0), leftHalf[x]) << x;
        EXPECT_EQ(Red(x + 4, 0), leftHalf[x]) << x;
    }
}

TEST_F(SoftwareEyePassTest, VerticalBoundsAndInvertYFlipTheTexture) {
    MakeOutputs(2, 4);
    const uint64_t tall = MakeGrey(1, 4, {0, 64, 128, 255});
    const uint8_t upright[4] = {0, 136, 186, 255};

    Layer(0, tall, kFull, tall, {0.0f, 1.0f, 1.0f, 0.0f});
    Read(0);
    for (uint32_t y = 0; y < 4; ++y) {
        EXPECT_EQ(Red(0, y), upright[y]) << y;
        EXPECT_EQ(Red(1, y), upright[3 - y]) << y;
    }

    // InvertY is a shader parameter the compositor never sets; drive the device directly.
    auto texture = device().OpenSharedTexture(tall);
    ASSERT_TRUE(texture);
    auto view = device().CreateShaderResourceView(texture, 28);
    auto target = device().CreateRenderTargetView(
        std::shared_ptr<gpu::Texture>(compositor.OutputTexture(1), [](gpu::Texture*) {}), 28);
    ASSERT_TRUE(view && target);
    for (int32_t invertY : {1, 7, 0, -1}) {
        const gpu::EyePass pass{compositor.EyeViewport(0), view.get(), kFull};
        device().DrawEyePasses(*target, invertY, &pass, 1);
        Read(1);
        const bool flipped = invertY > 0;
        for (uint32_t y = 0; y < 4; ++y) {
            EXPECT_EQ(Red(0, y), upright[flipped ? 3 - y : y]) << invertY << " row " << y;
        }
    }
}

TEST_F(SoftwareEyePassTest, BilinearFilterWrapsAroundTheEdges) {
    MakeOutputs(8, 1);
    // Two texels, black and white, spread over four pixels: the pixel centres fall a quarter
    // texel before, between and after the texel centres. The first pixel blends in the last
    // texel (wrap): 0.75 * 0 + 0.25 * 1 = 0.25.
    const uint64_t pair = MakeGrey(2, 1, {0, 255});
    Layer(0, pair, kFull, pair, {0.0f, 0.0f, 1.0f, 1.0f});
    Read(0);
    const uint8_t expected[4] = {136, 136, 224, 224};  // 0.25, 0.25, 0.75, 0.75
    for (uint32_t x = 0; x < 4; ++x) {
        EXPECT_EQ(Red(x, 0), expected[x]) << x;
        EXPECT_EQ(Red(x + 4, 0), expected[x]) << x;
    }
}

TEST_F(SoftwareEyePassTest, GammaStepOnExactChannelValuesAndAlphaIsAlwaysOne) {
    MakeOutputs(8, 1);
    // Half floats: 0, 0.25, 0.5, 0.75 in red, 1 in green, 0 in blue, alpha 0.
    auto half = [](uint16_t bits) {
        return std::vector<uint8_t>{uint8_t(bits), uint8_t(bits >> 8)};
    };
    const uint16_t redBits[4] = {0x0000, 0x3400, 0x3800, 0x3A00};
    std::vector<uint8_t> texels;
    for (uint16_t red : redBits) {
        for (uint16_t channel : {red, uint16_t{0x3C00}, uint16_t{0}, uint16_t{0}}) {
            const auto bytes = half(channel);
            texels.insert(texels.end(), bytes.begin(), bytes.end());
        }
    }
    const uint64_t source = MakeSource(4, 1, 10, texels);
    Layer(0, source, kFull, 0, kFull);
    Read(0);
    const uint8_t expectedRed[4] = {0, 136, 186, 224};
    for (uint32_t x = 0; x < 4; ++x) {
        EXPECT_EQ(At(x, 0), (Rgba{expectedRed[x], 255, 0, 255})) << x;
    }
}

TEST_F(SoftwareEyePassTest, FloatTargetKeepsTheExponentsResult) {
    // An R16G16B16A16_FLOAT render target shows the colour step before 8-bit rounding.
    gpu::TextureDesc desc{2, 1, 10, gpu::kBindRenderTarget | gpu::kBindShaderResource, 0};
    std::shared_ptr<gpu::Texture> target = device().CreateTexture(desc);
    const uint64_t source = MakeSource(2, 1, 10,
                                       {0x00, 0x38, 0x00, 0x34, 0, 0, 0, 0,    // 0.5, 0.25
                                        0x00, 0x3C, 0x00, 0x00, 0, 0, 0, 0});  // 1, 0
    auto texture = device().OpenSharedTexture(source);
    auto view = device().CreateShaderResourceView(texture, 10);
    auto rtv = device().CreateRenderTargetView(target, 10);
    ASSERT_TRUE(view && rtv);
    const gpu::EyePass pass{gpu::Viewport{0, 0, 2, 1, 0, 1}, view.get(), kFull};
    device().DrawEyePasses(*rtv, 0, &pass, 1);
    ASSERT_TRUE(device().ReadTexture(*target, pixels));
    auto channel = [&](int texel, int c) {
        const uint16_t bits =
            static_cast<uint16_t>(pixels[texel * 8 + c * 2] | (pixels[texel * 8 + c * 2 + 1] << 8));
        return bits;
    };
    // Half-float bit patterns nearest to 0.72974 (0x39D6) and 0.53252 (0x3843); 1 is 0x3C00.
    EXPECT_NEAR(channel(0, 0), 0x39D6, 1);
    EXPECT_NEAR(channel(0, 1), 0x3843, 1);
    EXPECT_EQ(channel(1, 0), 0x3C00);
    EXPECT_EQ(channel(1, 1), 0x0000);
    EXPECT_EQ(channel(0, 3), 0x3C00);  // alpha 1
}

TEST_F(SoftwareEyePassTest, SrgbAndBgraSourcesAreDecodedAndReordered) {
    MakeOutputs(4, 1);
    // B8G8R8A8_UNORM_SRGB texel (B=0, G=188, R=255): decoded 1, 0.50289, 0 -> 255, 187, 0.
    const uint64_t srgb = MakeSource(2, 1, 91, {0, 188, 255, 255, 0, 188, 255, 255});
    // B8G8R8A8_UNORM texel (B=64, G=0, R=128): 186, 0, 136.
    const uint64_t bgra = MakeSource(2, 1, 87, {64, 0, 128, 255, 64, 0, 128, 255});
    Layer(0, srgb, kFull, bgra, kFull);
    Read(0);
    EXPECT_EQ(At(0, 0), (Rgba{255, 187, 0, 255}));
    EXPECT_EQ(At(1, 0), (Rgba{255, 187, 0, 255}));
    EXPECT_EQ(At(2, 0), (Rgba{186, 0, 136, 255}));
    EXPECT_EQ(At(3, 0), (Rgba{186, 0, 136, 255}));
}

TEST_F(SoftwareEyePassTest, UnknownHandlesPaintOpaqueBlackAndALaterLayerReplacesAnEarlierOne) {
    MakeOutputs(4, 2);
    Fill(0, 0x5A);
    Layer(0, 1234, kFull, 5678, kFull);
    Read(0);
    for (uint32_t y = 0; y < 2; ++y) {
        for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(At(x, y), (Rgba{0, 0, 0, 255}));
    }

    const uint64_t white = MakeGrey(1, 1, {255});
    const uint64_t grey = MakeGrey(1, 1, {64});
    Layer(0, white, kFull, white, kFull);
    Layer(0, grey, kFull, 0, kFull);
    Read(0);
    for (uint32_t y = 0; y < 2; ++y) {
        EXPECT_EQ(At(0, y), (Rgba{136, 136, 136, 255}));
        EXPECT_EQ(At(1, y), (Rgba{136, 136, 136, 255}));
        EXPECT_EQ(At(2, y), (Rgba{0, 0, 0, 255}));
        EXPECT_EQ(At(3, y), (Rgba{0, 0, 0, 255}));
    }
}

TEST_F(SoftwareEyePassTest, OddWidthLeavesTheLastColumnUntouched) {
    MakeOutputs(9, 3);
    Fill(1, 0x5A);
    const uint64_t white = MakeGrey(1, 1, {255});
    Layer(1, white, kFull, white, kFull);
    Read(1);
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(At(x, y), (Rgba{255, 255, 255, 255}));
        EXPECT_EQ(At(8, y), (Rgba{0x5A, 0x5A, 0x5A, 0x5A}));
    }
    // The other output texture was not touched at all.
    Read(0);
    EXPECT_EQ(At(0, 0), (Rgba{0, 0, 0, 0}));
}

TEST_F(SoftwareEyePassTest, ClearAndCopyCoverTheWholeTexture) {
    MakeOutputs(4, 2);
    Fill(0, 0x5A);
    compositor.ClearOutput(0);
    Read(0);
    for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(At(x, 1), (Rgba{0, 0, 0, 255}));

    // A runtime back buffer of the output size, opened by handle and copied in.
    gpu::TextureDesc desc{4, 2, 28, gpu::kBindRenderTarget | gpu::kBindShaderResource,
                          gpu::kMiscSharedKeyedMutex};
    std::shared_ptr<gpu::Texture> backBuffer = device().CreateTexture(desc);
    std::vector<uint8_t> bytes(32);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(device().UpdateTexture(*backBuffer, bytes.data(), 16));
    std::shared_ptr<gpu::Texture> opened =
        compositor.OpenRuntimeTexture(backBuffer->SharedHandle());
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->HasKeyedMutex());
    compositor.CopyIntoOutput(1, *opened);
    Read(1);
    EXPECT_EQ(pixels, bytes);

    // A copy between textures of different sizes does nothing.
    desc.width = 2;
    std::shared_ptr<gpu::Texture> small = device().CreateTexture(desc);
    compositor.CopyIntoOutput(1, *small);
    Read(1);
    EXPECT_EQ(pixels, bytes);
}

}  // namespace
}  // namespace quillo
