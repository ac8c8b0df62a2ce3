// The software backend's kept openings of the runtime's per-frame textures: served again only
// while the handle still names the same live texture. A kept opening of a released texture is
// never served, so a texture re-created under a reused handle value cannot be shown stale.
#include "gpu/software/frame_texture_openings.h"

#include <gtest/gtest.h>

#include <vector>

#include "gpu/gpu_backend.h"

namespace quillo::test {
namespace {

using gpu::software::FrameTextureOpenings;
using gpu::software::SoftwareTexture;

class FrameTextureOpeningsTest : public ::testing::Test {
  protected:
    // A 4x4 shared RGBA8 texture (as the runtime makes), every byte `fill`.
    std::shared_ptr<gpu::Texture> Make(uint8_t fill) {
        gpu::TextureDesc desc{4, 4, 28, gpu::kBindRenderTarget | gpu::kBindShaderResource,
                              gpu::kMiscSharedKeyedMutex};
        std::shared_ptr<gpu::Texture> texture = runtime->CreateTexture(desc);
        EXPECT_TRUE(texture);
        if (!texture) return nullptr;
        const std::vector<uint8_t> bytes(64, fill);
        EXPECT_TRUE(runtime->UpdateTexture(*texture, bytes.data(), 16));
        return texture;
    }

    std::unique_ptr<gpu::Device> runtime = gpu::CreateSoftwareDevice();
    FrameTextureOpenings openings;
};

TEST_F(FrameTextureOpeningsTest, ASteadyFrameGetsTheKeptOpeningAndAHeldOneIsNotShared) {
    auto back = Make(0x11);
    const uint64_t handle = back->SharedHandle();
    SoftwareTexture* first = openings.Open(handle).get();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(openings.Open(handle).get(), first) << "opened again instead of kept";

    // While a caller holds the kept opening (and with it, perhaps, the keyed mutex), another
    // open gets its own opening with its own keyed mutex.
    auto held = openings.Open(handle);
    ASSERT_EQ(held->AcquireSync(0, 0), gpu::SyncResult::Ok);
    auto other = openings.Open(handle);
    ASSERT_TRUE(other);
    EXPECT_NE(other.get(), held.get());
    EXPECT_EQ(other->AcquireSync(0, 0), gpu::SyncResult::Timeout);
    EXPECT_TRUE(held->ReleaseSync(0));
    EXPECT_EQ(openings.Open(0), nullptr);
    EXPECT_EQ(openings.Open(0x7FFF1234), nullptr);
}

TEST_F(FrameTextureOpeningsTest, TexturesTheRuntimeReleasedAreLetGoAtTheNextOpen) {
    auto first = Make(0x11);
    auto second = Make(0x22);
    ASSERT_TRUE(openings.Open(first->SharedHandle()));
    ASSERT_TRUE(openings.Open(second->SharedHandle()));
    EXPECT_EQ(openings.size(), 2u);
    const uint64_t released = first->SharedHandle();
    first.reset();  // the runtime re-creates its buffers
    EXPECT_EQ(openings.Open(released), nullptr) << "a released texture was served";
    auto replacement = Make(0x33);
    ASSERT_TRUE(openings.Open(replacement->SharedHandle()));
    EXPECT_EQ(openings.size(), 2u) << "the released texture is still kept open";
}

}  // namespace
}  // namespace quillo::test
