#include "link/frame_texture_cache.h"

#include <gtest/gtest.h>

#include "gpu/frame_compositor.h"
#include "gpu/gpu_backend.h"

namespace quillo {
namespace {

class TextureCache : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(compositor.CreateDevice(gpu::CreateSoftwareDevice()));
        for (auto& texture : textures) {
            texture = compositor.CreateSwapTexture(8, 8, 28);
            ASSERT_NE(texture.handle, 0u);
        }
    }
    FrameCompositor compositor;
    FrameCompositor::SwapTexture textures[FrameTextureCache::kCapacity + 1];
    FrameTextureCache cache;
};

TEST_F(TextureCache, OpensEachHandleOnceAndKeepsItOpen) {
    gpu::Texture* first = cache.Open(compositor, textures[0].handle);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->SharedHandle(), textures[0].handle);
    EXPECT_EQ(cache.Open(compositor, textures[0].handle), first);
    EXPECT_EQ(cache.size(), 1u);
}

TEST_F(TextureCache, HandlesThatCannotBeOpenedAreNotRemembered) {
    EXPECT_EQ(cache.Open(compositor, 0), nullptr);
    EXPECT_EQ(cache.Open(compositor, 0x7FFF1234), nullptr);
    EXPECT_EQ(cache.size(), 0u);
}

TEST_F(TextureCache, TheLeastRecentlyUsedGoesWhenFull) {
    gpu::Texture* opened[FrameTextureCache::kCapacity];
    for (size_t i = 0; i < FrameTextureCache::kCapacity; ++i) {
        opened[i] = cache.Open(compositor, textures[i].handle);
        ASSERT_NE(opened[i], nullptr);
    }
    // Touch the first one again: the second is now the oldest.
    EXPECT_EQ(cache.Open(compositor, textures[0].handle), opened[0]);
    ASSERT_NE(cache.Open(compositor, textures[FrameTextureCache::kCapacity].handle), nullptr);
    EXPECT_EQ(cache.size(), FrameTextureCache::kCapacity);
    EXPECT_EQ(cache.Open(compositor, textures[0].handle), opened[0]);
    EXPECT_EQ(cache.Open(compositor, textures[2].handle), opened[2]);
    cache.Clear();
    EXPECT_EQ(cache.size(), 0u);
}

}  // namespace
}  // namespace quillo
