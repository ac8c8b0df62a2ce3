// A link core on a fake clock with the software GPU backend and output textures, plus a
// second software device that plays the runtime and the companion (opening the shared
// textures by handle, as they do in their own processes).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gpu/frame_compositor.h"
#include "gpu/gpu_backend.h"
#include "link/quillo_core.h"
#include "platform/log_sink.h"
#include "platform/process.h"
#include "unit/core/fake_clock.h"

namespace quillo::test {

// Pipe names no companion and no other test run uses.
inline std::string UniquePipeSuffix() {
    static std::atomic<int> next{0};
    return "_h5core_" + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(next++);
}

// Collects link log lines while alive.
class LogCapture {
  public:
    LogCapture() {
        Lines().clear();
        quillo::platform::SetLogSink(&LogCapture::Sink);
    }
    ~LogCapture() { quillo::platform::SetLogSink(nullptr); }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(Mutex());
        return Lines();
    }
    size_t Count(const std::string& fragment) const {
        size_t n = 0;
        for (const std::string& line : lines()) n += line.find(fragment) != std::string::npos;
        return n;
    }

  private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<std::string>& Lines() {
        static std::vector<std::string> lines;
        return lines;
    }
    static void Sink(const char* line) {
        std::lock_guard<std::mutex> lock(Mutex());
        Lines().push_back(line);
    }
};

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
        gpu::TextureDesc desc;
        desc.width = width;
        desc.height = height;
        desc.format = kRgba8;
        desc.bindFlags = gpu::kBindShaderResource | gpu::kBindRenderTarget;
        desc.miscFlags = gpu::kMiscSharedKeyedMutex;
        return peer->CreateTexture(desc);
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
