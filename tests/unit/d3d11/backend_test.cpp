// The Direct3D 11 backend's textures, shared handles and keyed mutexes, and how it reports
// failures. On Windows sharing works as the hand-over to the companion needs; under Wine (no
// shared handles, no keyed mutexes) the backend still makes and draws the textures, reports
// the missing features once each, and every operation that needs them fails cleanly. A
// repeating failure gives one line when it starts and one when it ends. Windows build only.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "gpu/d3d11/failure_log.h"
#include "gpu/frame_compositor.h"
#include "gpu/gpu_backend.h"
#include "platform/log_sink.h"

namespace quillo::test {
namespace {

using namespace quillo::gpu;

std::vector<std::string> g_logLines;
void CollectLogLine(const char* line) {
    g_logLines.push_back(line);
}

size_t LinesContaining(const char* text) {
    return std::count_if(g_logLines.begin(), g_logLines.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    });
}

class D3D11Backend : public ::testing::Test {
  protected:
    void SetUp() override {
        g_logLines.clear();
        quillo::platform::SetLogSink(CollectLogLine);
        device_ = CreateD3D11Device();
        if (!device_) GTEST_SKIP() << "no Direct3D 11 device on this system";
    }
    void TearDown() override { quillo::platform::SetLogSink(nullptr); }

    std::unique_ptr<Device> device_;
};

const TextureDesc kOutputDesc{8, 4, 28, kBindRenderTarget | kBindShaderResource,
                              kMiscSharedKeyedMutex};

TEST_F(D3D11Backend, SharedTexturesAndKeyedMutexesWorkOrAreReportedOnce) {
    std::shared_ptr<Texture> first = device_->CreateTexture(kOutputDesc);
    std::shared_ptr<Texture> second = device_->CreateTexture(kOutputDesc);
    // A swap texture asks for a shared handle only.
    std::shared_ptr<Texture> swap =
        device_->CreateTexture({16, 8, 29, kBindRenderTarget | kBindShaderResource, kMiscShared});
    ASSERT_TRUE(first && second && swap);
    EXPECT_FALSE(swap->HasKeyedMutex());
    if (swap->SharedHandle() != 0) {
        std::shared_ptr<Texture> opened = device_->OpenSharedTexture(swap->SharedHandle());
        ASSERT_TRUE(opened);
        EXPECT_EQ(opened->Describe().format, 29u);
        EXPECT_FALSE(opened->HasKeyedMutex());
    }
    const TextureDesc desc = first->Describe();
    EXPECT_EQ(std::make_tuple(desc.width, desc.height, desc.format, desc.bindFlags, desc.miscFlags),
              std::make_tuple(8u, 4u, 28u, 0x28u, 0x100u));

    // Wine has neither: one line for each missing feature, however many textures are made.
    const bool shared = first->SharedHandle() != 0, mutexes = first->HasKeyedMutex();
    EXPECT_EQ(second->SharedHandle() != 0, shared);
    EXPECT_TRUE(!shared || second->SharedHandle() != first->SharedHandle());
    EXPECT_EQ(LinesContaining("no shared handle"), shared ? 0u : 1u);
    EXPECT_EQ(second->HasKeyedMutex(), mutexes);
    EXPECT_EQ(LinesContaining("no keyed mutex"), mutexes ? 0u : 1u);
    EXPECT_FALSE(first->ReleaseSync(0)) << "released a mutex that was never acquired";
    ASSERT_EQ(first->AcquireSync(0, 0), mutexes ? SyncResult::Ok : SyncResult::Failed);
    if (!mutexes) return;
    // A second opening of the same texture waits for the first to let go.
    std::shared_ptr<Texture> opened = device_->OpenSharedTexture(first->SharedHandle());
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->HasKeyedMutex());
    EXPECT_EQ(opened->SharedHandle(), first->SharedHandle());
    EXPECT_EQ(opened->Describe().width, 8u);
    EXPECT_EQ(opened->AcquireSync(0, 0), SyncResult::Timeout);
    EXPECT_TRUE(first->ReleaseSync(0));
    EXPECT_EQ(opened->AcquireSync(0, 0), SyncResult::Ok);
    EXPECT_TRUE(opened->ReleaseSync(0));
}

TEST_F(D3D11Backend, UnopenableHandlesFailQuietlyAfterOneLine) {
    // Not a shared handle of any texture (and, under Wine, no handle can be opened at all).
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(device_->OpenSharedTexture(0x7FFF0004u + attempt), nullptr);
    }
    EXPECT_EQ(LinesContaining("opening a shared texture failed"), 1u);
}

TEST_F(D3D11Backend, CompositorOnD3D11DrawsClearsAndCopiesWithWhatTheSystemHas) {
    FrameCompositor compositor;
    ASSERT_TRUE(compositor.CreateDevice(std::move(device_)));
    Device& device = *compositor.device();
    compositor.setOutputFormat(27);  // typeless: made as 28
    compositor.CreateOutputTextures(8, 4);
    ASSERT_TRUE(compositor.ready());
    ASSERT_TRUE(compositor.OutputTexture(0) && compositor.OutputTexture(1));
    EXPECT_EQ(compositor.OutputTexture(0)->Describe().format, 28u);
    // With keyed mutexes (Windows) the driver holds output 0 while it draws, as the first
    // hand-over leaves it; without them (Wine) there is nothing to hold.
    const bool guarded = compositor.OutputTexture(0)->HasKeyedMutex();
    ASSERT_EQ(compositor.AcquireOutput(0, 1000), guarded ? SyncResult::Ok : SyncResult::Failed);

    auto output = [&] {
        std::vector<uint8_t> pixels;
        EXPECT_TRUE(device.ReadTexture(*compositor.OutputTexture(0), pixels));
        return pixels;
    };
    std::vector<uint8_t> opaqueBlack(8 * 4 * 4, 0);
    for (size_t i = 3; i < opaqueBlack.size(); i += 4) opaqueBlack[i] = 255;
    compositor.BindOpaqueBlend();
    const uint64_t unknown[2] = {0x1234, 0x5678};
    const TextureBounds bounds[2];
    compositor.RenderLayer(0, unknown, bounds);
    EXPECT_EQ(output(), opaqueBlack);

    // A back buffer of the output's size, copied in whole.
    std::shared_ptr<Texture> backBuffer =
        device.CreateTexture({8, 4, 28, kBindRenderTarget | kBindShaderResource, 0});
    ASSERT_TRUE(backBuffer);
    std::vector<uint8_t> bytes(8 * 4 * 4);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 5 + 3);
    ASSERT_TRUE(device.UpdateTexture(*backBuffer, bytes.data(), 8 * 4));
    compositor.CopyIntoOutput(0, *backBuffer);
    EXPECT_EQ(output(), bytes);
    compositor.ClearOutput(0);
    EXPECT_EQ(output(), opaqueBlack);
    EXPECT_EQ(compositor.ReleaseOutput(0), guarded);
}

TEST(D3D11FailureLog, RepeatedFailureLogsWhereARunOfFailuresStartsAndEnds) {
    g_logLines.clear();
    quillo::platform::SetLogSink(CollectLogLine);
    d3d11::RepeatedFailure failure("mapping a buffer");
    failure.Record(true, 0);  // success without earlier failure: nothing to say
    failure.Record(false, 0x887A0005);
    failure.Record(false, 0x887A0005);
    failure.Record(false, 0x887A0001);
    EXPECT_TRUE(failure.failing());
    failure.Record(true, 0);
    failure.Record(true, 0);
    failure.Record(false, 0x80004005);
    quillo::platform::SetLogSink(nullptr);
    ASSERT_EQ(g_logLines.size(), 3u);
    EXPECT_EQ(g_logLines[0], "driver_quillo: Direct3D 11: mapping a buffer failed (0x887A0005)\n");
    EXPECT_EQ(g_logLines[1], "driver_quillo: Direct3D 11: mapping a buffer works again\n");
    EXPECT_EQ(g_logLines[2], "driver_quillo: Direct3D 11: mapping a buffer failed (0x80004005)\n");
}

TEST_F(D3D11Backend, DrawBeforeRenderStatesLeavesTheTargetAsItWas) {
    std::shared_ptr<Texture> target =
        device_->CreateTexture({4, 2, 28, kBindRenderTarget | kBindShaderResource, 0});
    ASSERT_TRUE(target);
    const std::vector<uint8_t> filled(4 * 2 * 4, 0x5A);
    ASSERT_TRUE(device_->UpdateTexture(*target, filled.data(), 16));
    std::unique_ptr<RenderTargetView> view = device_->CreateRenderTargetView(target, 28);
    ASSERT_TRUE(view);

    const EyePass pass{Viewport{0, 0, 4, 2, 0, 1}, nullptr, TextureBounds{}};
    device_->DrawEyePasses(*view, 0, &pass, 1);
    device_->DrawEyePasses(*view, 0, &pass, 1);
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(device_->ReadTexture(*target, pixels));
    EXPECT_EQ(pixels, filled);
    EXPECT_EQ(LinesContaining("no constant buffers"), 1u);
}

}  // namespace
}  // namespace quillo::test

#endif  // _WIN32
