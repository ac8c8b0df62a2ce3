// A link core on a fake clock with the software GPU backend and output textures, plus a
// second software device that plays the runtime and the companion (opening the shared
// textures by handle, as they do in their own processes).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gpu/frame_compositor.h"
#include "gpu/gpu_backend.h"
#include "link/quillo_core.h"
#include "unit/core/fake_clock.h"
#include "unit/pipe/test_companion.h"

namespace quillo::test {

constexpr uint32_t kRgba8 = 28;  // DXGI_FORMAT_R8G8B8A8_UNORM

class CoreFixture : public ::testing::Test {
  protected:
    static constexpr uint32_t kWidth = 480;  // both eyes
    static constexpr uint32_t kHeight = 64;

    void SetUp() override {
        suffix = UniquePipeSuffix();
        core = std::make_unique<QuilloCore>(clock);
        core->Initialize(suffix);
        ASSERT_TRUE(core->Compositor().CreateDevice(gpu::CreateSoftwareDevice()));
        core->Compositor().setOutputFormat(kRgba8);
        core->Compositor().CreateOutputTextures(kWidth, kHeight);
        ASSERT_TRUE(core->Compositor().ready());
        peer = gpu::CreateSoftwareDevice();
        ASSERT_NE(peer, nullptr);
    }
    void TearDown() override { core.reset(); }

    // The companion's view of output texture `index`.
    std::shared_ptr<gpu::Texture> OpenOutput(int index) {
        return peer->OpenSharedTexture(core->Compositor().OutputSharedHandle(index));
    }
    // A texture the runtime shares with the driver, with a keyed mutex.
    std::shared_ptr<gpu::Texture> MakeRuntimeTexture(uint32_t width, uint32_t height) {
        return peer->CreateTexture({width, height, kRgba8,
                                    gpu::kBindShaderResource | gpu::kBindRenderTarget,
                                    gpu::kMiscSharedKeyedMutex});
    }
    std::vector<uint8_t> Read(gpu::Texture& texture) {
        std::vector<uint8_t> pixels;
        EXPECT_TRUE(peer->ReadTexture(texture, pixels));
        return pixels;
    }

    FakeClock clock;
    std::string suffix;
    std::unique_ptr<QuilloCore> core;
    std::unique_ptr<gpu::Device> peer;
};

}  // namespace quillo::test
