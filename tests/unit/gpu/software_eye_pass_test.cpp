// The software backend's eye pass through the compositor, against values worked out by hand:
// each eye in its half, a float target, unknown handles, odd widths, clear and copy. Sampling,
// bounds, invertY and source formats over every byte value: eye_pass_reference_test.cpp.
//
// Reference bytes used below, out = round(255 * (c ^ 0.45454547)):
//   c = 0 -> 0;  16/255 -> 72;  64/255 -> 136;  128/255 -> 186;  200/255 -> 228;  1 -> 255
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "gpu/frame_compositor.h"
#include "gpu/gpu_backend.h"
#include "gpu/software/software_device.h"

namespace quillo::test {
namespace {

using Rgba = std::array<uint8_t, 4>;
constexpr TextureBounds kFull{0.0f, 0.0f, 1.0f, 1.0f};

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
    uint64_t MakeGrey(uint32_t width, uint32_t height, const std::vector<uint8_t>& values) {
        std::vector<uint8_t> texels;
        for (uint8_t v : values) texels.insert(texels.end(), {v, v, v, 255});
        return MakeSource(width, height, 28, texels);
    }

    // A layer with full bounds in both eyes.
    void Layer(uint64_t left, uint64_t right) { compositor.RenderLayer(0, {{left, right}, {}}); }

    void Read(int output) {
        gpu::Texture& texture = *compositor.OutputTexture(output);
        width = texture.Describe().width;
        ASSERT_TRUE(device().ReadTexture(texture, pixels));
    }
    Rgba At(uint32_t x, uint32_t y) const {
        const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }

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

TEST_F(SoftwareEyePassTest, EachEyeOnceUprightInItsHalfLaterLayersReplaceAndUnknownsAreBlack) {
    // An odd width: each eye gets 4 columns, the last one is left as it was.
    MakeOutputs(9, 2);
    Fill(0, 0x5A);
    auto expectRows = [&](const std::vector<uint8_t>& rows) {
        Read(0);
        for (uint32_t y = 0; y < 2; ++y) {
            for (uint32_t x = 0; x < 8; ++x) {
                const uint8_t e = rows[y * 8 + x];
                EXPECT_EQ(At(x, y), (Rgba{e, e, e, 255})) << x << "," << y;
            }
            EXPECT_EQ(At(8, y), (Rgba{0x5A, 0x5A, 0x5A, 0x5A}));
        }
    };
    Layer(1234, 5678);
    expectRows(std::vector<uint8_t>(16, 0));

    // 4x2 eye textures: texel centres fall exactly on pixel centres, so no filtering.
    const uint64_t left = MakeGrey(4, 2, {0, 16, 64, 128, 200, 255, 0, 16});
    const uint64_t right = MakeGrey(4, 2, {255, 200, 128, 64, 16, 0, 255, 200});
    Layer(left, right);
    expectRows({0, 72, 136, 186, 255, 228, 186, 136, 228, 255, 0, 72, 72, 0, 255, 228});

    Layer(MakeGrey(1, 1, {64}), 0);
    expectRows({136, 136, 136, 136, 0, 0, 0, 0, 136, 136, 136, 136, 0, 0, 0, 0});
    // The other output texture was not touched at all.
    Read(1);
    EXPECT_EQ(At(0, 0), (Rgba{0, 0, 0, 0}));
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
        return pixels[texel * 8 + c * 2] | (pixels[texel * 8 + c * 2 + 1] << 8);
    };
    // Half-float bit patterns nearest to 0.72974 (0x39D6) and 0.53252 (0x3843); 1 is 0x3C00.
    EXPECT_NEAR(channel(0, 0), 0x39D6, 1);
    EXPECT_NEAR(channel(0, 1), 0x3843, 1);
    EXPECT_EQ(channel(1, 0), 0x3C00);
    EXPECT_EQ(channel(1, 1), 0x0000);
    EXPECT_EQ(channel(0, 3), 0x3C00);  // alpha 1
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

// The clear recorded while the keyed mutex is held, as another opening sees it after the
// release.
TEST(SoftwareClear, AClearWhileHoldingTheTextureShowsUnderWhateverTheNextPassesLeaveUncovered) {
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
