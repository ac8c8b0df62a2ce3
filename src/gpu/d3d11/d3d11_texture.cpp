#include "gpu/d3d11/d3d11_texture.h"

#include <utility>

namespace quillo::gpu::d3d11 {

D3D11Texture::D3D11Texture(ComPtr<ID3D11Texture2D> texture, uint64_t sharedHandle,
                           ComPtr<IDXGIKeyedMutex> keyedMutex)
    : texture_(std::move(texture)),
      sharedHandle_(sharedHandle),
      keyedMutex_(std::move(keyedMutex)) {}

TextureDesc D3D11Texture::Describe() const {
    D3D11_TEXTURE2D_DESC desc = {};
    texture_->GetDesc(&desc);
    TextureDesc result;
    result.width = desc.Width;
    result.height = desc.Height;
    result.format = static_cast<uint32_t>(desc.Format);
    result.bindFlags = desc.BindFlags;
    result.miscFlags = desc.MiscFlags;
    return result;
}

SyncResult D3D11Texture::AcquireSync(uint64_t key, uint32_t timeoutMs) {
    if (!keyedMutex_) return SyncResult::Failed;
    // WAIT_TIMEOUT and WAIT_ABANDONED come back as success codes, so compare exactly.
    const HRESULT hr = keyedMutex_->AcquireSync(key, timeoutMs);
    if (hr == S_OK) return SyncResult::Ok;
    if (hr == static_cast<HRESULT>(WAIT_TIMEOUT)) return SyncResult::Timeout;
    if (hr == static_cast<HRESULT>(WAIT_ABANDONED)) return SyncResult::Abandoned;
    return SyncResult::Failed;
}

bool D3D11Texture::ReleaseSync(uint64_t key) {
    return keyedMutex_ && keyedMutex_->ReleaseSync(key) == S_OK;
}

D3D11Texture* NativeTexture(Texture& texture) {
    return dynamic_cast<D3D11Texture*>(&texture);
}

}  // namespace quillo::gpu::d3d11
