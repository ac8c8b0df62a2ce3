// The compositor's own logic over a device that makes no pixels and records what it is asked:
// the shared-view table of the swap sets, the view formats of typeless textures, the outputs,
// the viewports and the order of what is drawn.
#include "gpu/frame_compositor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace quillo::test {
namespace {

struct DeviceLog {
    std::vector<uint32_t> viewFormats;  // of the shader-resource views asked for
    int viewsAlive = 0;
    int viewsMade = 0;
    std::vector<gpu::BlendState> blendStates;
    struct Draw {
        int target;
        int32_t invertY;
        std::vector<gpu::EyePass> passes;
        std::vector<int> sourceIds;  // -1 for a null source
    };
    std::vector<Draw> draws;
    std::vector<std::string> calls;  // "bind <id>", "clear <id> r g b a", "copy", "flush"
};

class RecordingTexture final : public gpu::Texture {
  public:
    RecordingTexture(const gpu::TextureDesc& desc, uint64_t handle)
        : desc_(desc), handle_(handle) {}
    gpu::TextureDesc Describe() const override { return desc_; }
    uint64_t SharedHandle() const override { return handle_; }
    bool HasKeyedMutex() const override { return desc_.miscFlags & gpu::kMiscSharedKeyedMutex; }
    gpu::SyncResult AcquireSync(uint64_t, uint32_t) override {
        if (!HasKeyedMutex() || held_) return gpu::SyncResult::Failed;
        held_ = true;
        return gpu::SyncResult::Ok;
    }
    bool ReleaseSync(uint64_t) override { return std::exchange(held_, false); }

  private:
    gpu::TextureDesc desc_;
    uint64_t handle_;
    bool held_ = false;
};

class RecordingView final : public gpu::ShaderResourceView, public gpu::RenderTargetView {
  public:
    RecordingView(DeviceLog& log) : log_(log), id(++log.viewsMade) { ++log_.viewsAlive; }
    ~RecordingView() override { --log_.viewsAlive; }
    DeviceLog& log_;
    const int id;
};

int IdOf(const gpu::RenderTargetView& view) {
    return static_cast<const RecordingView&>(view).id;
}

class RecordingDevice final : public gpu::Device {
  public:
    explicit RecordingDevice(DeviceLog& log) : log_(log) {}

    std::map<uint64_t, gpu::TextureDesc> openable;  // what OpenSharedTexture finds, by handle
    bool failTextureCreation = false;
    std::function<void()> duringDraw;  // on the drawing thread, to hold a draw in progress

    const char* BackendName() const override { return "recording"; }
    std::shared_ptr<gpu::Texture> CreateTexture(const gpu::TextureDesc& desc) override {
        if (failTextureCreation) return nullptr;
        const bool shared = (desc.miscFlags & (gpu::kMiscShared | gpu::kMiscSharedKeyedMutex)) != 0;
        return std::make_shared<RecordingTexture>(desc, shared ? nextHandle_++ : 0);
    }
    std::shared_ptr<gpu::Texture> OpenSharedTexture(uint64_t handle) override {
        auto found = openable.find(handle);
        if (found == openable.end()) return nullptr;
        return std::make_shared<RecordingTexture>(found->second, handle);
    }
    std::unique_ptr<gpu::RenderTargetView> CreateRenderTargetView(
        const std::shared_ptr<gpu::Texture>&, uint32_t) override {
        return std::make_unique<RecordingView>(log_);
    }
    // Like Direct3D, refuses a view format that is still typeless (these tests use 44, 19).
    std::unique_ptr<gpu::ShaderResourceView> CreateShaderResourceView(
        const std::shared_ptr<gpu::Texture>&, uint32_t format) override {
        log_.viewFormats.push_back(format);
        if (format == 44 || format == 19) return nullptr;
        return std::make_unique<RecordingView>(log_);
    }
    bool CreateRenderStates() override {
        log_.blendStates.push_back(gpu::BlendState::Alpha);
        return true;
    }
    void SetBlendState(gpu::BlendState state) override { log_.blendStates.push_back(state); }
    void DrawEyePasses(const gpu::RenderTargetView& target, int32_t invertY,
                       const gpu::EyePass* passes, size_t count) override {
        if (duringDraw) duringDraw();
        DeviceLog::Draw draw{IdOf(target), invertY, {passes, passes + count}, {}};
        for (const gpu::EyePass& pass : draw.passes) {
            const auto* view = static_cast<const RecordingView*>(pass.source);
            draw.sourceIds.push_back(view ? view->id : -1);
        }
        log_.draws.push_back(draw);
    }
    void BindRenderTarget(const gpu::RenderTargetView& target) override {
        log_.calls.push_back("bind " + std::to_string(IdOf(target)));
    }
    void ClearRenderTarget(const gpu::RenderTargetView& target, const float rgba[4]) override {
        char text[64];
        std::snprintf(text, sizeof text, "clear %d %g %g %g %g", IdOf(target), rgba[0], rgba[1],
                      rgba[2], rgba[3]);
        log_.calls.push_back(text);
    }
    void CopyTexture(gpu::Texture&, gpu::Texture&) override { log_.calls.push_back("copy"); }
    void Flush() override { log_.calls.push_back("flush"); }
    bool UpdateTexture(gpu::Texture&, const void*, uint32_t) override { return false; }
    bool ReadTexture(gpu::Texture&, std::vector<uint8_t>&) override { return false; }

  private:
    DeviceLog& log_;
    uint64_t nextHandle_ = 0x100;
};

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
    void MakeOutputs() {
        compositor.setOutputFormat(28);
        compositor.CreateOutputTextures(2560, 1440);
    }
    void Draw(uint64_t left, uint64_t right) { compositor.RenderLayer(0, {{left, right}, {}}); }
    std::vector<int> LastSources() const { return log.draws.back().sourceIds; }

    DeviceLog log;
    RecordingDevice* recording = nullptr;
    FrameCompositor compositor;
};

TEST_F(FrameCompositorTest, OpeningAHandleTwiceKeepsTheFirstViewAndReleaseForgetsIt) {
    Openable(7, 28);
    compositor.OpenSharedTexture(7);
    compositor.OpenSharedTexture(7);
    EXPECT_EQ(compositor.SharedEntryCount(), 1u);
    EXPECT_EQ(log.viewsMade, 2);   // one view per opening...
    EXPECT_EQ(log.viewsAlive, 1);  // ...but the second is dropped at once

    MakeOutputs();  // render-target views 3 and 4
    Draw(7, 7);
    EXPECT_EQ(LastSources(), (std::vector<int>{1, 1}));

    compositor.ReleaseSharedTexture(7);
    EXPECT_FALSE(compositor.HasSharedEntry(7));
    EXPECT_EQ(log.viewsAlive, 2);
    Draw(7, 7);
    EXPECT_EQ(LastSources(), (std::vector<int>{-1, -1}));
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
        runtimeThread.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
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
    EXPECT_EQ(log.draws[0].sourceIds, (std::vector<int>{3, 3}));
}

TEST_F(FrameCompositorTest, UnknownHandlesDrawNothingAndAreNotEntered) {
    MakeOutputs();
    compositor.OpenSharedTexture(99);  // cannot be opened
    Draw(42, 43);
    compositor.ReleaseSharedTexture(44);
    EXPECT_EQ(LastSources(), (std::vector<int>{-1, -1}));
    EXPECT_EQ(compositor.SharedEntryCount(), 0u);
    EXPECT_TRUE(log.viewFormats.empty());

    // Registered after it was first drawn: the view is there from then on.
    Openable(42, 28);
    compositor.OpenSharedTexture(42);
    Draw(42, 43);
    EXPECT_EQ(LastSources(), (std::vector<int>{3, -1}));
}

TEST_F(FrameCompositorTest, TypelessTexturesAreViewedThroughTheirTypedFormat) {
    // Typeless formats with their UNORM counterpart (BGRA8's is the sRGB one); typed ones as
    // they are.
    const std::pair<uint32_t, uint32_t> cases[] = {{1, 2},   {5, 6},   {9, 11},  {27, 28},
                                                   {90, 91}, {92, 93}, {29, 29}, {87, 87}};
    std::vector<uint32_t> expected;
    for (auto [format, viewFormat] : cases) {
        Openable(format, format);
        compositor.OpenSharedTexture(format);
        expected.push_back(viewFormat);
    }
    EXPECT_EQ(log.viewFormats, expected);
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
    compositor.RenderLayer(1, {{10, 11}, {{0.0f, 0.0f, 0.5f, 1.0f}, {0.5f, 0.0f, 1.0f, 1.0f}}});

    ASSERT_EQ(log.draws.size(), 1u);
    const DeviceLog::Draw& draw = log.draws[0];
    EXPECT_EQ(std::make_tuple(draw.target, draw.invertY, draw.sourceIds),
              std::make_tuple(4, 0, std::vector<int>{1, 2}));
    ASSERT_EQ(draw.passes.size(), 2u);
    EXPECT_EQ(std::make_tuple(draw.passes[0].viewport.topLeftX, draw.passes[1].viewport.topLeftX,
                              draw.passes[1].viewport.width, draw.passes[0].bounds.uMax,
                              draw.passes[1].bounds.uMin),
              std::make_tuple(0.0f, 1280.0f, 1280.0f, 0.5f, 0.5f));
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
    }
    EXPECT_NE(compositor.OutputSharedHandle(0), 0u);
    EXPECT_NE(compositor.OutputSharedHandle(0), compositor.OutputSharedHandle(1));
    EXPECT_FALSE(compositor.invertY());

    // The first hand-over releases a mutex that was never taken: refused, nothing changes.
    EXPECT_FALSE(compositor.ReleaseOutput(0));
    EXPECT_EQ(compositor.AcquireOutput(1, gpu::kWaitInfinite), gpu::SyncResult::Ok);
    EXPECT_TRUE(compositor.ReleaseOutput(1));

    // Present helpers: opaque blend, and a clear of the chosen output to opaque black.
    compositor.BindOpaqueBlend();
    compositor.ClearOutput(1);
    EXPECT_EQ(log.blendStates,
              (std::vector<gpu::BlendState>{gpu::BlendState::Alpha, gpu::BlendState::Opaque}));
    EXPECT_EQ(log.calls, (std::vector<std::string>{"flush", "bind 2", "clear 2 0 0 0 1"}));
}

TEST_F(FrameCompositorTest, WithoutOutputTexturesNothingIsDrawnOrCleared) {
    recording->failTextureCreation = true;
    MakeOutputs();
    EXPECT_TRUE(compositor.ready());
    EXPECT_EQ(compositor.OutputSharedHandle(0), 0u);
    EXPECT_TRUE(log.blendStates.empty());  // no render states made
    Draw(1, 2);
    compositor.ClearOutput(0);
    EXPECT_TRUE(log.draws.empty());
    EXPECT_EQ(compositor.AcquireOutput(0, 0), gpu::SyncResult::Failed);
    EXPECT_EQ(compositor.CreateSwapTexture(16, 16, 29).handle, 0u);
}

TEST_F(FrameCompositorTest, SwapTexturesAreSharedWithoutKeyedMutexInTheRuntimesFormat) {
    FrameCompositor::SwapTexture swap = compositor.CreateSwapTexture(1512, 1680, 29);
    ASSERT_TRUE(swap.texture);
    EXPECT_NE(swap.handle, 0u);
    EXPECT_EQ(swap.handle, swap.texture->SharedHandle());
    const gpu::TextureDesc desc = swap.texture->Describe();
    EXPECT_EQ(std::make_tuple(desc.format, desc.bindFlags, desc.miscFlags),
              std::make_tuple(29u, 0x28u, 0x2u));
}

}  // namespace
}  // namespace quillo::test
