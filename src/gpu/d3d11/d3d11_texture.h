// Direct3D 11 textures and views behind the GPU device seam.
#pragma once

#include <d3d11.h>
#include <dxgi.h>

#include <wrl/client.h>

#include <memory>

#include "gpu/gpu_device.h"

namespace quillo::gpu::d3d11 {

// Owning COM references: MinGW-w64 and the Windows SDK both ship WRL's ComPtr.
using Microsoft::WRL::ComPtr;

class D3D11Texture final : public Texture {
  public:
    // `keyedMutex` may be empty (a texture without one, or a system without keyed mutexes);
    // `sharedHandle` is 0 for a texture that is not shared.
    D3D11Texture(ComPtr<ID3D11Texture2D> texture, uint64_t sharedHandle,
                 ComPtr<IDXGIKeyedMutex> keyedMutex);

    TextureDesc Describe() const override;
    uint64_t SharedHandle() const override { return sharedHandle_; }
    bool HasKeyedMutex() const override { return static_cast<bool>(keyedMutex_); }
    SyncResult AcquireSync(uint64_t key, uint32_t timeoutMs) override;
    bool ReleaseSync(uint64_t key) override;

    ID3D11Texture2D* native() const { return texture_.Get(); }

  private:
    ComPtr<ID3D11Texture2D> texture_;
    uint64_t sharedHandle_;
    ComPtr<IDXGIKeyedMutex> keyedMutex_;
};

// The Direct3D texture behind a seam texture, or null for a texture of another backend.
D3D11Texture* NativeTexture(Texture& texture);

struct D3D11RenderTargetView final : RenderTargetView {
    ComPtr<ID3D11RenderTargetView> view;
    std::shared_ptr<Texture> texture;  // the view keeps its texture alive
};

struct D3D11ShaderResourceView final : ShaderResourceView {
    ComPtr<ID3D11ShaderResourceView> view;
    std::shared_ptr<Texture> texture;
};

}  // namespace quillo::gpu::d3d11
