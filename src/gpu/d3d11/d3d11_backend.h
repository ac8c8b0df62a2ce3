// The Direct3D 11 backend of the GPU device seam: the product's frame path on Windows. Every
// seam operation is the Direct3D 11 / DXGI call the frame path is specified with; see
// gpu/gpu_device.h for what each one promises.
//
// Where shared handles or keyed mutexes are missing (Wine has neither: QueryInterface for
// IDXGIKeyedMutex fails, GetSharedHandle and OpenSharedResource return E_NOTIMPL) textures are
// still made and drawn, with shared handle 0 and no keyed mutex, and one log line says so.
// Frames then cannot cross processes; such systems use the software backend for that.
#pragma once

#include <atomic>
#include <memory>

#include "gpu/d3d11/d3d11_texture.h"
#include "gpu/d3d11/device_creation.h"
#include "gpu/d3d11/failure_log.h"
#include "gpu/gpu_device.h"
#include "gpu/recycled_blocks.h"

namespace quillo::gpu::d3d11 {

class D3D11Device final : public Device {
  public:
    // Takes a device, context and shaders made by CreateDeviceAndContext and LoadShaders.
    explicit D3D11Device(DeviceObjects objects);

    const char* BackendName() const override { return "d3d11"; }

    std::shared_ptr<Texture> CreateTexture(const TextureDesc& desc) override;
    std::shared_ptr<Texture> OpenSharedTexture(uint64_t handle) override;
    // OpenSharedResource in every frame, as the present paths require; the texture object
    // itself lives in recycled blocks, so a steady frame makes no heap allocation of ours.
    std::shared_ptr<Texture> OpenFrameTexture(uint64_t handle) override;
    std::unique_ptr<RenderTargetView> CreateRenderTargetView(
        const std::shared_ptr<Texture>& texture, uint32_t format) override;
    std::unique_ptr<ShaderResourceView> CreateShaderResourceView(
        const std::shared_ptr<Texture>& texture, uint32_t format) override;

    bool CreateRenderStates() override;
    void SetBlendState(BlendState state) override;
    void DrawEyePasses(const RenderTargetView& target, int32_t invertY, const EyePass* passes,
                       size_t count) override;

    void BindRenderTarget(const RenderTargetView& target) override;
    void ClearRenderTarget(const RenderTargetView& target, const float rgba[4]) override;
    void CopyTexture(Texture& destination, Texture& source) override;
    void Flush() override;

    bool UpdateTexture(Texture& texture, const void* data, uint32_t rowPitch) override;
    bool ReadTexture(Texture& texture, std::vector<uint8_t>& pixels) override;

    ID3D11Device* native() const { return objects_.device.Get(); }
    ID3D11DeviceContext* context() const { return objects_.context.Get(); }

  private:
    // Map(WRITE_DISCARD), copy `size` bytes, Unmap. False when the map fails.
    bool WriteConstants(ID3D11Buffer* buffer, const void* data, size_t size);
    void CreateBlackView();
    // OpenSharedResource + ID3D11Texture2D + IDXGIKeyedMutex. False when the handle does not open.
    bool OpenShared(uint64_t handle, ComPtr<ID3D11Texture2D>& texture,
                    ComPtr<IDXGIKeyedMutex>& keyedMutex);

    DeviceObjects objects_;
    ComPtr<ID3D11Buffer> boundsBuffer_;      // VSConstBuffer, b0 of the vertex stage
    ComPtr<ID3D11Buffer> parametersBuffer_;  // Parameters, b1 of the pixel stage
    ComPtr<ID3D11BlendState> alphaBlend_;
    ComPtr<ID3D11BlendState> opaqueBlend_;
    ComPtr<ID3D11SamplerState> linearSampler_;
    // Bound instead of a null view: see CreateBlackView.
    ComPtr<ID3D11ShaderResourceView> blackView_;

    std::atomic<bool> noSharedHandleLogged_{false};
    std::atomic<bool> noKeyedMutexLogged_{false};
    std::atomic<bool> noConstantBuffersLogged_{false};
    RepeatedFailure textureCreation_{"creating a texture"};
    RepeatedFailure sharedOpen_{"opening a shared texture"};
    RepeatedFailure constantsMap_{"mapping an eye-pass constant buffer"};
    std::shared_ptr<RecycledBlocks> frameBlocks_ = std::make_shared<RecycledBlocks>();
};

}  // namespace quillo::gpu::d3d11
