// A GPU device for the compositor's own logic: it makes no pixels, it records what the
// compositor asks of it (views made and destroyed, formats, passes drawn, blend states).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gpu/gpu_device.h"

namespace quillo::test {

struct DeviceLog {
    std::vector<uint32_t> viewFormats;  // formats of the shader-resource views asked for
    int viewsAlive = 0;
    int viewsMade = 0;
    int renderStateCalls = 0;
    std::vector<gpu::BlendState> blendStates;
    struct Draw {
        int target = -1;  // id of the render-target view
        int32_t invertY = 0;
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
    bool HasKeyedMutex() const override {
        return (desc_.miscFlags & gpu::kMiscSharedKeyedMutex) != 0;
    }
    gpu::SyncResult AcquireSync(uint64_t, uint32_t) override {
        if (!HasKeyedMutex() || held_) return gpu::SyncResult::Failed;
        held_ = true;
        return gpu::SyncResult::Ok;
    }
    bool ReleaseSync(uint64_t) override {
        const bool was = held_;
        held_ = false;
        return was;
    }

  private:
    gpu::TextureDesc desc_;
    uint64_t handle_;
    bool held_ = false;
};

class RecordingView final : public gpu::ShaderResourceView, public gpu::RenderTargetView {
  public:
    RecordingView(DeviceLog& log, int id) : log_(log), id(id) { ++log_.viewsAlive; }
    ~RecordingView() override { --log_.viewsAlive; }
    DeviceLog& log_;
    const int id;
};

class RecordingDevice final : public gpu::Device {
  public:
    explicit RecordingDevice(DeviceLog& log) : log_(log) {}

    // Textures that OpenSharedTexture finds, by handle.
    std::map<uint64_t, gpu::TextureDesc> openable;
    bool failTextureCreation = false;
    bool failBlendStates = false;
    // Called at the start of every draw, on the drawing thread (to hold a draw in progress).
    std::function<void()> duringDraw;

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
        const std::shared_ptr<gpu::Texture>& texture, uint32_t format) override {
        return std::make_unique<RecordingView>(log_, ++log_.viewsMade);
    }
    // Like Direct3D, refuses a view format that is still typeless (these tests use 44, 19).
    std::unique_ptr<gpu::ShaderResourceView> CreateShaderResourceView(
        const std::shared_ptr<gpu::Texture>& texture, uint32_t format) override {
        log_.viewFormats.push_back(format);
        if (format == 44 || format == 19) return nullptr;
        return std::make_unique<RecordingView>(log_, ++log_.viewsMade);
    }
    bool CreateRenderStates() override {
        ++log_.renderStateCalls;
        if (failBlendStates) return false;
        log_.blendStates.push_back(gpu::BlendState::Alpha);
        return true;
    }
    void SetBlendState(gpu::BlendState state) override { log_.blendStates.push_back(state); }
    void DrawEyePasses(const gpu::RenderTargetView& target, int32_t invertY,
                       const gpu::EyePass* passes, size_t count) override {
        if (duringDraw) duringDraw();
        DeviceLog::Draw draw;
        draw.target = static_cast<const RecordingView&>(target).id;
        draw.invertY = invertY;
        for (size_t i = 0; i < count; ++i) {
            draw.passes.push_back(passes[i]);
            const auto* view = static_cast<const RecordingView*>(passes[i].source);
            draw.sourceIds.push_back(view ? view->id : -1);
        }
        log_.draws.push_back(draw);
    }
    void BindRenderTarget(const gpu::RenderTargetView& target) override {
        log_.calls.push_back("bind " +
                             std::to_string(static_cast<const RecordingView&>(target).id));
    }
    void ClearRenderTarget(const gpu::RenderTargetView& target, const float rgba[4]) override {
        log_.calls.push_back("clear " +
                             std::to_string(static_cast<const RecordingView&>(target).id) + " " +
                             std::to_string(rgba[0]) + " " + std::to_string(rgba[1]) + " " +
                             std::to_string(rgba[2]) + " " + std::to_string(rgba[3]));
    }
    void CopyTexture(gpu::Texture&, gpu::Texture&) override { log_.calls.push_back("copy"); }
    void Flush() override { log_.calls.push_back("flush"); }
    bool UpdateTexture(gpu::Texture&, const void*, uint32_t) override { return false; }
    bool ReadTexture(gpu::Texture&, std::vector<uint8_t>&) override { return false; }

  private:
    DeviceLog& log_;
    uint64_t nextHandle_ = 0x100;
};

}  // namespace quillo::test
