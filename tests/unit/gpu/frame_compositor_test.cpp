// The compositor's own logic over a recording device: the shared-view table, the view formats of
// typeless textures, the viewports and the order of what is drawn.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>
#include <tuple>
#include <utility>

#include "gpu/dxgi_format.h"
#include "gpu/frame_compositor.h"
#include "unit/gpu/recording_device.h"

namespace quillo::test {
namespace {

using test::DeviceLog;
using test::RecordingDevice;

class FrameCompositorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto device = std::make_unique<RecordingDevice>(log);
        recording = device.get();
        ASSERT_TRUE(compositor.CreateDevice(std::move(device)));
    }

    void Openable(uint64_t handle, uint32_t format) {
        recording->openable[handle] = gpu::TextureDesc{64, 32, format, 0x28, gpu::kMiscShared};
    }

    void MakeOutputs(uint32_t width = 2560, uint32_t height = 1440) {
        compositor.setOutputFormat(28);
        compositor.CreateOutputTextures(width, height);
    }

    void Draw(uint64_t left, uint64_t right) {
        const uint64_t handles[2] = {left, right};
        const TextureBounds bounds[2] = {{0, 0, 1, 1}, {0, 0, 1, 1}};
        compositor.RenderLayer(0, handles, bounds);
    }

    DeviceLog log;
    RecordingDevice* recording = nullptr;
    FrameCompositor compositor;
};

TEST_F(FrameCompositorTest, OpeningAHandleTwiceKeepsTheFirstView) {
    Openable(7, 28);
    compositor.OpenSharedTexture(7);
    compositor.OpenSharedTexture(7);
    EXPECT_EQ(compositor.SharedEntryCount(), 1u);
    EXPECT_EQ(log.viewsMade, 2);   // one view per opening...
    EXPECT_EQ(log.viewsAlive, 1);  // ...but the second is dropped at once

    MakeOutputs();  // render-target views get ids 3 and 4
    Draw(7, 7);
    ASSERT_EQ(log.draws.size(), 1u);
    EXPECT_EQ(log.draws[0].sourceIds, (std::vector<int>{1, 1}));
}

TEST_F(FrameCompositorTest, ReleaseForgetsTheHandleAndItsViewAndLaterDrawsAreBlack) {
    Openable(7, 28);
    MakeOutputs();
    compositor.OpenSharedTexture(7);
    ASSERT_TRUE(compositor.HasSharedView(7));
    const int aliveBefore = log.viewsAlive;

    compositor.ReleaseSharedTexture(7);
    EXPECT_FALSE(compositor.HasSharedEntry(7));
    EXPECT_EQ(log.viewsAlive, aliveBefore - 1);

    Draw(7, 7);
    EXPECT_EQ(log.draws.back().sourceIds, (std::vector<int>{-1, -1}));
}

TEST_F(FrameCompositorTest, RegisteringAndReleasingOnAnotherThreadDoNotWaitForADraw) {
    Openable(7, 28);
    Openable(8, 28);
    MakeOutputs();
    compositor.OpenSharedTexture(7);
    const int aliveBefore = log.viewsAlive;  // two render targets and the view of 7

    std::promise<void> drawing, finish;
    std::shared_future<void> finishing = finish.get_future().share();
    recording->duringDraw = [&] {
        drawing.set_value();
        finishing.wait();
    };
    std::thread presenter([&] { Draw(7, 7); });
    drawing.get_future().wait();
    // A runtime thread makes a new swap set and destroys the one being drawn meanwhile.
    auto runtimeThread = std::async(std::launch::async, [&] {
        compositor.OpenSharedTexture(8);
        compositor.ReleaseSharedTexture(7);
    });
    const bool finishedDuringDraw =
        runtimeThread.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const int aliveDuringDraw = log.viewsAlive;
    finish.set_value();
    presenter.join();
    runtimeThread.wait();

    EXPECT_TRUE(finishedDuringDraw) << "registering waited for the frame being drawn";
    // The released view stayed alive while the draw sampled it, and went when the draw ended.
    EXPECT_EQ(aliveDuringDraw, aliveBefore + 1);
    EXPECT_EQ(log.viewsAlive, aliveBefore);
    EXPECT_TRUE(compositor.HasSharedView(8));
    EXPECT_FALSE(compositor.HasSharedEntry(7));
    ASSERT_EQ(log.draws.size(), 1u);
    EXPECT_EQ(log.draws[0].sourceIds[0], log.draws[0].sourceIds[1]);
    EXPECT_NE(log.draws[0].sourceIds[0], -1);
}

TEST_F(FrameCompositorTest, UnknownHandlesDrawNothingAndAreNotEntered) {
    MakeOutputs();
    Draw(42, 43);
    compositor.ReleaseSharedTexture(44);
    EXPECT_EQ(log.draws.back().sourceIds, (std::vector<int>{-1, -1}));
    EXPECT_EQ(compositor.SharedEntryCount(), 0u);

    // Registered after it was first drawn: the view is there from then on.
    Openable(42, 28);
    compositor.OpenSharedTexture(42);
    EXPECT_TRUE(compositor.HasSharedView(42));
    Draw(42, 43);
    EXPECT_NE(log.draws.back().sourceIds[0], -1);
    EXPECT_EQ(log.draws.back().sourceIds[1], -1);
}

TEST_F(FrameCompositorTest, HandlesThatCannotBeOpenedGetNoEntry) {
    compositor.OpenSharedTexture(99);
    EXPECT_EQ(compositor.SharedEntryCount(), 0u);
    EXPECT_TRUE(log.viewFormats.empty());
}

TEST_F(FrameCompositorTest, TypelessTexturesAreViewedThroughTheirTypedFormat) {
    const struct {
        uint64_t handle;
        uint32_t format;
        uint32_t viewFormat;
    } cases[] = {{1, 27, 28}, {2, 90, 91}, {3, 29, 29}, {4, 92, 93}, {5, 87, 87}, {6, 9, 11}};
    for (const auto& c : cases) {
        Openable(c.handle, c.format);
        compositor.OpenSharedTexture(c.handle);
    }
    EXPECT_EQ(log.viewFormats, (std::vector<uint32_t>{28, 91, 29, 93, 87, 11}));
}

TEST_F(FrameCompositorTest, ATextureWithoutViewIsStoredEmptyAndStaysThroughRelease) {
    Openable(5, 44);  // R24G8_TYPELESS: no typed counterpart, so no view can be made
    compositor.OpenSharedTexture(5);
    EXPECT_EQ(log.viewFormats, (std::vector<uint32_t>{44}));
    EXPECT_TRUE(compositor.HasSharedEntry(5));
    EXPECT_FALSE(compositor.HasSharedView(5));

    // Removal only happens for entries with a view; the empty one also keeps a later view out.
    compositor.ReleaseSharedTexture(5);
    EXPECT_TRUE(compositor.HasSharedEntry(5));
    recording->openable[5].format = 28;
    compositor.OpenSharedTexture(5);
    EXPECT_FALSE(compositor.HasSharedView(5));
}

TEST_F(FrameCompositorTest, ALayerDrawsLeftThenRightWithTheirBoundsIntoTheChosenOutput) {
    Openable(10, 28);
    Openable(11, 28);
    compositor.OpenSharedTexture(10);  // view 1
    compositor.OpenSharedTexture(11);  // view 2
    MakeOutputs();                     // render targets 3 (output 0) and 4 (output 1)
    SubmittedLayer layer;
    layer.handles[0] = 10;
    layer.handles[1] = 11;
    layer.bounds[0] = {0.0f, 0.0f, 0.5f, 1.0f};
    layer.bounds[1] = {0.5f, 0.0f, 1.0f, 1.0f};
    compositor.RenderLayer(1, layer);

    ASSERT_EQ(log.draws.size(), 1u);
    const DeviceLog::Draw& draw = log.draws[0];
    EXPECT_EQ(draw.target, 4);
    EXPECT_EQ(draw.invertY, 0);
    EXPECT_EQ(draw.sourceIds, (std::vector<int>{1, 2}));
    ASSERT_EQ(draw.passes.size(), 2u);
    EXPECT_EQ(std::make_tuple(draw.passes[0].viewport.topLeftX, draw.passes[1].viewport.topLeftX,
                              draw.passes[0].bounds.uMax, draw.passes[1].bounds.uMin),
              std::make_tuple(0.0f, 1280.0f, 0.5f, 0.5f));
}

TEST_F(FrameCompositorTest, OutputTexturesAreSharedWithKeyedMutexesInTheTypedFormat) {
    compositor.setOutputFormat(27);
    EXPECT_FALSE(compositor.ready());
    compositor.CreateOutputTextures(100, 50);
    EXPECT_TRUE(compositor.ready());
    EXPECT_EQ(compositor.outputFormat(), 28u);
    for (int i = 0; i < 2; ++i) {
        ASSERT_NE(compositor.OutputTexture(i), nullptr);
        const gpu::TextureDesc desc = compositor.OutputTexture(i)->Describe();
        EXPECT_EQ(
            std::make_tuple(desc.width, desc.height, desc.format, desc.bindFlags, desc.miscFlags),
            std::make_tuple(100u, 50u, 28u, 0x28u, 0x100u));
        EXPECT_NE(compositor.OutputSharedHandle(i), 0u);
    }
    EXPECT_NE(compositor.OutputSharedHandle(0), compositor.OutputSharedHandle(1));
    EXPECT_EQ(log.calls, (std::vector<std::string>{"flush"}));
    EXPECT_EQ(log.renderStateCalls, 1);
    EXPECT_FALSE(compositor.invertY());

    // The first hand-over releases a mutex that was never taken: refused, nothing changes.
    EXPECT_FALSE(compositor.ReleaseOutput(0));
    EXPECT_EQ(compositor.AcquireOutput(1, gpu::kWaitInfinite), gpu::SyncResult::Ok);
    EXPECT_TRUE(compositor.ReleaseOutput(1));
}

TEST_F(FrameCompositorTest, WithoutOutputTexturesNothingIsDrawnOrCleared) {
    recording->failTextureCreation = true;
    MakeOutputs();
    EXPECT_TRUE(compositor.ready());
    EXPECT_EQ(compositor.OutputSharedHandle(0), 0u);
    EXPECT_EQ(log.renderStateCalls, 0);
    Draw(1, 2);
    compositor.ClearOutput(0);
    EXPECT_TRUE(log.draws.empty());
    EXPECT_EQ(compositor.AcquireOutput(0, 0), gpu::SyncResult::Failed);
}

TEST_F(FrameCompositorTest, PresentHelpersBindOpaqueBlendAndClearToOpaqueBlack) {
    MakeOutputs();  // render targets 1 and 2
    compositor.BindOpaqueBlend();
    compositor.ClearOutput(1);
    EXPECT_EQ(log.blendStates,
              (std::vector<gpu::BlendState>{gpu::BlendState::Alpha, gpu::BlendState::Opaque}));
    EXPECT_EQ(log.calls, (std::vector<std::string>{"flush", "bind 2",
                                                   "clear 2 0.000000 0.000000 0.000000 1.000000"}));
}

TEST_F(FrameCompositorTest, SwapTexturesAreSharedWithoutKeyedMutexInTheRuntimesFormat) {
    FrameCompositor::SwapTexture swap = compositor.CreateSwapTexture(1512, 1680, 29);
    ASSERT_TRUE(swap.texture);
    EXPECT_NE(swap.handle, 0u);
    EXPECT_EQ(swap.handle, swap.texture->SharedHandle());
    const gpu::TextureDesc desc = swap.texture->Describe();
    EXPECT_EQ(std::make_tuple(desc.format, desc.bindFlags, desc.miscFlags),
              std::make_tuple(29u, 0x28u, 0x2u));

    recording->failTextureCreation = true;
    EXPECT_EQ(compositor.CreateSwapTexture(16, 16, 29).handle, 0u);
}

TEST(DxgiFormatTest, TypelessFormatsMapToTheirChosenTypedFormats) {
    int typeless = 0;
    for (uint32_t format = 0; format < 200; ++format) typeless += IsTypelessFormat(format);
    EXPECT_EQ(typeless, 22);
    for (auto [typelessFormat, typed] :
         {std::pair{1u, 2u}, {5u, 6u}, {9u, 11u}, {27u, 28u}, {90u, 91u}, {92u, 93u}}) {
        EXPECT_EQ(TypedFormatFor(typelessFormat), typed);
    }
    for (uint32_t unchanged :
         {15u, 19u, 23u, 33u, 39u, 44u, 48u, 53u, 60u, 70u, 73u, 76u, 79u, 82u, 94u, 97u}) {
        EXPECT_TRUE(IsTypelessFormat(unchanged)) << unchanged;
        EXPECT_EQ(TypedFormatFor(unchanged), unchanged);
    }
    for (uint32_t typed : {0u, 2u, 10u, 28u, 29u, 87u, 88u, 91u, 93u, 1000u}) {
        EXPECT_FALSE(IsTypelessFormat(typed)) << typed;
        EXPECT_EQ(TypedFormatFor(typed), typed);
    }
}

}  // namespace
}  // namespace quillo::test
