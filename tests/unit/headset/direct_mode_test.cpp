// Swap texture sets of the direct-mode headset: records per texture, sets destroyed by any of
// their handles or by process, the shared index and the layers collected between presents.
#include <gtest/gtest.h>

#include <tuple>

#include "devices/headset/hmd_driver_direct.h"
#include "gpu/frame_compositor.h"
#include "unit/headset/runtime_fixture.h"

namespace quillo::test {
namespace {

constexpr uint32_t kRgba8 = 28;

class DirectModeTest : public RuntimeFixture {
  protected:
    void SetUp() override {
        RuntimeFixture::SetUp();
        // Direct mode needs shared texture handles, which Wine's Direct3D 11 does not give.
        SetEnvironment("QUILLO_GPU_BACKEND", "software");
        // The smallest window (1000 x 600) keeps the software drawing of each present short.
        MakeRuntime(R"({"driver_quillo": {}})");
        hmd = std::make_unique<HMDDriverDirect>();
    }
    void TearDown() override {
        hmd.reset();
        SetEnvironment("QUILLO_GPU_BACKEND", "");
        RuntimeFixture::TearDown();
    }

    struct Set {
        vr::SharedTextureHandle_t handles[3] = {};
    };
    Set Create(uint32_t pid, uint32_t width = 64, uint32_t height = 32) {
        Set set;
        hmd->CreateSwapTextureSet(pid, kRgba8, width, height, &set.handles);
        return set;
    }
    std::vector<uint64_t> RecordedHandles() const {
        std::vector<uint64_t> handles;
        for (const SwapTextureRecord& record : hmd->swapTextures())
            handles.push_back(record.handle);
        return handles;
    }
    bool Shared(uint64_t handle) const { return hmd->Core().Compositor().HasSharedEntry(handle); }

    std::unique_ptr<HMDDriverDirect> hmd;
};

// Each set gets three shared textures, opened on the compositor, and an id of its own; any of
// its handles destroys exactly that set, and a process's end all of its sets.
TEST_F(DirectModeTest, SetsHaveIdsOfTheirOwnAndGoByAnyHandleOrByProcess) {
    const Set a = Create(10), b = Create(20), c = Create(10);
    const std::vector<SwapTextureRecord>& records = hmd->swapTextures();
    ASSERT_EQ(records.size(), 9u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(a.handles[i], 0u);
        EXPECT_EQ(std::make_tuple(records[i].handle, records[i].setId, records[i].pid),
                  std::make_tuple(a.handles[i], 0u, 10u));
        EXPECT_EQ(std::make_tuple(records[i + 3].handle, records[i + 3].setId, records[i + 3].pid),
                  std::make_tuple(b.handles[i], 1u, 20u));
        EXPECT_EQ(records[i].texture->Describe().width, 64u);
        EXPECT_TRUE(Shared(a.handles[i]));
    }
    EXPECT_EQ(hmd->nextSetId(), 3u);

    hmd->DestroySwapTextureSet(c.handles[1]);
    EXPECT_EQ(RecordedHandles(), (std::vector<uint64_t>{a.handles[0], a.handles[1], a.handles[2],
                                                        b.handles[0], b.handles[1], b.handles[2]}));
    for (uint64_t handle : c.handles) EXPECT_FALSE(Shared(handle));
    // A handle destroyed before names nothing any more; neither does an unknown one or process.
    hmd->DestroySwapTextureSet(c.handles[0]);
    hmd->DestroySwapTextureSet(0xDEADBEEF);
    hmd->DestroyAllSwapTextureSets(99);
    EXPECT_EQ(hmd->swapTextures().size(), 6u);

    hmd->DestroyAllSwapTextureSets(10);
    EXPECT_EQ(RecordedHandles(), (std::vector<uint64_t>{b.handles[0], b.handles[1], b.handles[2]}));
    EXPECT_FALSE(Shared(a.handles[2]));
    // The set ids keep counting: a new set never reuses one.
    Create(20);
    EXPECT_EQ(hmd->swapTextures().back().setId, 3u);
}

TEST_F(DirectModeTest, TexturesThatCannotBeMadeComeBackAsZero) {
    Set set;
    set.handles[0] = set.handles[1] = set.handles[2] = 77;
    hmd->CreateSwapTextureSet(10, kRgba8, 0, 0, &set.handles);
    for (uint64_t handle : set.handles) EXPECT_EQ(handle, 0u);
    EXPECT_TRUE(hmd->swapTextures().empty());
    EXPECT_EQ(hmd->nextSetId(), 1u);
}

TEST_F(DirectModeTest, OneIndexForEverySetMovingOnWithEachPresent) {
    hmd->Activate(0);
    for (uint32_t expected : {0u, 1u, 2u, 0u}) {
        vr::SharedTextureHandle_t any[2] = {expected + 1u, 456};
        uint32_t indices[2] = {9, 9};
        hmd->GetNextSwapTextureSetIndex(any, &indices);
        EXPECT_EQ(std::make_tuple(indices[0], indices[1]), std::make_tuple(expected, expected));
        hmd->Present(0);
    }
}

TEST_F(DirectModeTest, LayersCollectUntilPresent) {
    hmd->Activate(0);
    const Set set = Create(10);
    vr::SharedTextureHandle_t first[2] = {set.handles[0], set.handles[1]};
    vr::SharedTextureHandle_t second[2] = {set.handles[2], 0xABC};
    const vr::VRTextureBounds_t bounds[2] = {{0.0f, 0.0f, 0.5f, 1.0f}, {0.5f, 0.0f, 1.0f, 1.0f}};
    const vr::VRTextureBounds_t other[2] = {{0.1f, 0.2f, 0.3f, 0.4f}, {0.5f, 0.6f, 0.7f, 0.8f}};
    hmd->SubmitLayer(first, bounds, nullptr);
    hmd->SubmitLayer(second, other, nullptr);
    const std::vector<SubmittedLayer>& layers = hmd->pendingLayers();
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(std::make_tuple(layers[0].handles[0], layers[0].handles[1], layers[1].handles[1]),
              std::make_tuple(set.handles[0], set.handles[1], uint64_t{0xABC}));
    EXPECT_EQ(std::make_tuple(layers[0].bounds[0].uMax, layers[0].bounds[1].uMin,
                              layers[1].bounds[0].vMin, layers[1].bounds[1].vMax),
              std::make_tuple(0.5f, 0.5f, 0.2f, 0.8f));

    hmd->Present(0);
    EXPECT_TRUE(hmd->pendingLayers().empty());
    EXPECT_EQ(hmd->swapIndex(), 1u);
    // A present with no layer at all is fine too.
    hmd->Present(0);
    EXPECT_TRUE(hmd->pendingLayers().empty());
}

}  // namespace
}  // namespace quillo::test
