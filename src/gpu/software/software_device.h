// The software backend's device: textures in shared memory, the eye pass on the CPU. Eye
// passes, clears and copies are shared out over the device's own worker threads (one per core,
// made with the device), so the frame path keeps up with the display without a GPU.
#pragma once

#include <memory>

#include "gpu/gpu_device.h"
#include "gpu/software/eye_pass_rasterizer.h"
#include "gpu/software/frame_texture_openings.h"
#include "gpu/software/worker_pool.h"

namespace quillo::gpu::software {

class SoftwareDevice final : public Device {
  public:
    // `threads`: how many threads share a pass, the calling one included; `set`: the vector
    // instructions the 8-bit eye pass uses (the best the processor has, unless a test asks).
    explicit SoftwareDevice(unsigned threads = WorkerPool::DefaultThreadCount(),
                            InstructionSet set = BestInstructionSet());

    const char* BackendName() const override { return "software"; }
    std::shared_ptr<Texture> CreateTexture(const TextureDesc& desc) override;
    std::shared_ptr<Texture> OpenSharedTexture(uint64_t handle) override;
    std::shared_ptr<Texture> OpenFrameTexture(uint64_t handle) override;
    std::unique_ptr<RenderTargetView> CreateRenderTargetView(
        const std::shared_ptr<Texture>& texture, uint32_t format) override;
    std::unique_ptr<ShaderResourceView> CreateShaderResourceView(
        const std::shared_ptr<Texture>& texture, uint32_t format) override;
    bool CreateRenderStates() override;
    void SetBlendState(BlendState state) override { blendState_ = state; }
    void DrawEyePasses(const RenderTargetView& target, int32_t invertY, const EyePass* passes,
                       size_t count) override;
    void BindRenderTarget(const RenderTargetView& target) override { boundTarget_ = &target; }
    void ClearRenderTarget(const RenderTargetView& target, const float rgba[4]) override;
    void CopyTexture(Texture& destination, Texture& source) override;
    void Flush() override {}
    bool UpdateTexture(Texture& texture, const void* data, uint32_t rowPitch) override;
    bool ReadTexture(Texture& texture, std::vector<uint8_t>& pixels) override;

    BlendState blendState() const { return blendState_; }

    unsigned threadCount() const { return pool_.size(); }

  private:
    // Every texel of `texture`, shared out over the pool.
    void Fill(const SoftwareTexture& texture, const uint8_t* texel, uint32_t texelSize);
    void WritePendingClear(SoftwareTexture& texture);
    // Whether the passes write every pixel of a target described by `desc`.
    static bool CoverWholeTexture(const TextureDesc& desc, const EyePass* passes, size_t count);

    // The pool goes last: the rasterizer uses it.
    WorkerPool pool_;
    EyePassRasterizer rasterizer_;
    FrameTextureOpenings frameTextures_;
    BlendState blendState_ = BlendState::Alpha;
    const RenderTargetView* boundTarget_ = nullptr;
};

}  // namespace quillo::gpu::software
