// The GPU device seam: the few operations the frame path needs, with two backends behind it.
//
// - d3d11/ maps every operation onto the Direct3D 11 calls the product makes (the numbers
//   below are the Direct3D/DXGI numbers, so that mapping is a plain cast).
// - software/ does the same on the CPU, with textures in named shared-memory sections and
//   keyed mutexes as cross-process locks, so that frames cross processes without a GPU.
//
// The compositor logic (shared-view table, format mapping, viewports, layer order) lives in
// FrameCompositor, not here. Everything here is called from one thread at a time per device
// (the immediate context is not thread-safe either), except Texture::AcquireSync and
// ReleaseSync, which may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "gpu/submitted_layer.h"

namespace quillo::gpu {

// Bind flags (D3D11_BIND_*).
constexpr uint32_t kBindShaderResource = 0x8;
constexpr uint32_t kBindRenderTarget = 0x20;
// Misc flags (D3D11_RESOURCE_MISC_*).
constexpr uint32_t kMiscShared = 0x2;
constexpr uint32_t kMiscSharedKeyedMutex = 0x100;

// A 2D texture with one mip level and one array slice, sample count 1, default usage.
struct TextureDesc {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t format = 0;  // DXGI_FORMAT number
    uint32_t bindFlags = 0;
    uint32_t miscFlags = 0;
};

// Result of a keyed-mutex acquire.
enum class SyncResult {
    Ok,         // the caller holds the mutex (S_OK)
    Timeout,    // not acquired within the time-out (WAIT_TIMEOUT)
    Abandoned,  // the previous holder died while holding it; the caller now holds it, but what
                // the previous holder left in the texture may be half-written (WAIT_ABANDONED)
    Failed,     // no keyed mutex, a key other than 0 on the software backend, or a system error
};
constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;  // INFINITE

class Texture {
  public:
    virtual ~Texture() = default;
    virtual TextureDesc Describe() const = 0;
    // IDXGIResource::GetSharedHandle; 0 for a texture that is not shared. The software backend
    // gives handles whose low 32 bits alone identify the texture (upper bits zero), so a
    // peer that only learns the low 32 bits can open it.
    virtual uint64_t SharedHandle() const = 0;
    virtual bool HasKeyedMutex() const = 0;
    // IDXGIKeyedMutex::AcquireSync / ReleaseSync. The mutex is owned by this texture object
    // (this opening of the texture), not by a thread. Releasing a mutex this object does not
    // hold fails and changes nothing.
    virtual SyncResult AcquireSync(uint64_t key, uint32_t timeoutMs) = 0;
    virtual bool ReleaseSync(uint64_t key) = 0;
};

// Views are opaque to everyone but the backend that made them. A view keeps its texture alive.
class RenderTargetView {
  public:
    virtual ~RenderTargetView() = default;
};
class ShaderResourceView {
  public:
    virtual ~ShaderResourceView() = default;
};

// D3D11_VIEWPORT.
struct Viewport {
    float topLeftX = 0.0f;
    float topLeftY = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
    float minDepth = 0.0f;
    float maxDepth = 1.0f;
};

enum class BlendState {
    Alpha,   // source ONE, destination INV_SRC_ALPHA (bound by CreateRenderStates)
    Opaque,  // blending off
};

// One eye of an eye pass: where to draw, what to sample (null samples zeros), which part of
// the source texture spans the viewport.
struct EyePass {
    Viewport viewport;
    const ShaderResourceView* source = nullptr;
    TextureBounds bounds;
};

class Device {
  public:
    virtual ~Device() = default;

    // "d3d11" or "software", for log lines.
    virtual const char* BackendName() const = 0;

    // ID3D11Device::CreateTexture2D (+ GetSharedHandle when shared). Null on failure.
    virtual std::shared_ptr<Texture> CreateTexture(const TextureDesc& desc) = 0;
    // ID3D11Device::OpenSharedResource + QueryInterface(ID3D11Texture2D) (+ IDXGIKeyedMutex
    // when the texture has one). Null when the handle names no texture this device can open.
    virtual std::shared_ptr<Texture> OpenSharedTexture(uint64_t handle) = 0;
    // The same for a texture opened for one frame and released before the frame ends (the
    // runtime's back buffer or sync texture). A backend may hand out an opening it keeps
    // between frames, provided the handle still names that same live texture and no one else
    // holds that opening; the software backend does, so a steady frame allocates nothing.
    virtual std::shared_ptr<Texture> OpenFrameTexture(uint64_t handle) {
        return OpenSharedTexture(handle);
    }

    // CreateRenderTargetView / CreateShaderResourceView (2D, mip 0, one level) with the given
    // view format; the caller maps typeless formats first. Null on failure, which includes a
    // format that is still typeless or does not belong to the texture's format family.
    virtual std::unique_ptr<RenderTargetView> CreateRenderTargetView(
        const std::shared_ptr<Texture>& texture, uint32_t format) = 0;
    virtual std::unique_ptr<ShaderResourceView> CreateShaderResourceView(
        const std::shared_ptr<Texture>& texture, uint32_t format) = 0;

    // Makes what every eye pass uses: the two 16-byte dynamic constant buffers, the alpha and
    // opaque blend states, the trilinear wrapping sampler; binds the alpha blend state.
    // Returns false when a blend state cannot be made (then the sampler is not made either).
    // May be called again; it replaces what it made before.
    virtual bool CreateRenderStates() = 0;
    // OMSetBlendState(state, no blend factor, 0xFFFFFFFF).
    virtual void SetBlendState(BlendState state) = 0;

    // One layer: binds `target` as the only render target, the eye-pass shaders, the sampler
    // and the parameters buffer holding `invertY`, then for each pass in order sets its
    // viewport, writes its bounds into the bounds buffer, binds its source and draws the
    // screen-covering triangle. Writes only inside the passes' viewports.
    virtual void DrawEyePasses(const RenderTargetView& target, int32_t invertY,
                               const EyePass* passes, size_t count) = 0;

    // OMSetRenderTargets with this one view and no depth view.
    virtual void BindRenderTarget(const RenderTargetView& target) = 0;
    // ClearRenderTargetView.
    virtual void ClearRenderTarget(const RenderTargetView& target, const float rgba[4]) = 0;
    // CopyResource: same size and format family; a mismatch copies nothing.
    virtual void CopyTexture(Texture& destination, Texture& source) = 0;
    // ID3D11DeviceContext::Flush.
    virtual void Flush() = 0;

    // For tests and tools. Rows are packed tightly (width x bytes per texel), top row first, in
    // the texture's own format. UpdateTexture: UpdateSubresource of the whole texture from
    // `rowPitch`-spaced rows. ReadTexture: copy to a staging texture and map it.
    virtual bool UpdateTexture(Texture& texture, const void* data, uint32_t rowPitch) = 0;
    virtual bool ReadTexture(Texture& texture, std::vector<uint8_t>& pixels) = 0;
};

}  // namespace quillo::gpu
