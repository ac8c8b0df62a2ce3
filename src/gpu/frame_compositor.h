// The driver's GPU object: owns the device, the two shared output textures the companion reads,
// the table of views of registered shared textures, and draws submitted layers into an output
// texture (left eye into the left half, right eye into the right half).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "gpu/gpu_device.h"
#include "gpu/submitted_layer.h"

namespace quillo {

class FrameCompositor {
  public:
    FrameCompositor();
    ~FrameCompositor();
    FrameCompositor(const FrameCompositor&) = delete;
    FrameCompositor& operator=(const FrameCompositor&) = delete;

    // --- device -------------------------------------------------------------------------
    // Makes the GPU device: Direct3D 11 on Windows unless QUILLO_GPU_BACKEND=software, the
    // software backend elsewhere (and as the fallback when no Direct3D 11 device can be made).
    // Logs once which backend it got and why. Returns false only when there is no device at
    // all. A second call does nothing.
    bool CreateDevice();
    // Uses the given device instead (tests, tools). Returns false for a null device.
    bool CreateDevice(std::unique_ptr<gpu::Device> device);
    // Null before CreateDevice.
    gpu::Device* device() const { return device_.get(); }

    // --- output textures ----------------------------------------------------------------
    bool ready() const { return ready_; }
    uint32_t outputFormat() const { return outputFormat_; }
    void setOutputFormat(uint32_t format) { outputFormat_ = format; }
    // Sent to the companion; nothing in the driver sets it.
    bool invertY() const { return invertY_; }

    // (Re)makes both output textures (render target + shader resource, shared with a keyed
    // mutex, format outputFormat() mapped to its typed form), their render-target views, the
    // eye viewports and the render states. Afterwards ready() is true, even when the device
    // refused a texture (the textures are then missing and everything that uses them skips).
    void CreateOutputTextures(uint32_t width, uint32_t height);

    // Shared handle of output texture `index` (0 or 1); 0 when it does not exist.
    uint64_t OutputSharedHandle(int index) const;
    // Null when it does not exist.
    gpu::Texture* OutputTexture(int index) const { return outputTextures_[index & 1].get(); }
    const gpu::Viewport& EyeViewport(int eye) const { return eyeViewports_[eye & 1]; }

    // Keyed mutex (key 0) of output texture `index`; timeoutMs may be gpu::kWaitInfinite.
    // Failed when the texture does not exist.
    gpu::SyncResult AcquireOutput(int index, uint32_t timeoutMs);
    // False when the texture does not exist or its mutex is not held by the driver (the first
    // hand-over releases a mutex it never took; that fails and changes nothing).
    bool ReleaseOutput(int index);

    // --- shared textures drawn in direct mode -------------------------------------------
    // Opens `handle` on the device and stores a view of it (typed format for a typeless
    // texture) under the handle. A handle that already has an entry keeps its first view. A
    // texture whose view cannot be made (typeless without typed counterpart) is stored with a
    // null view; a handle that cannot be opened gets no entry.
    void OpenSharedTexture(uint64_t handle);
    // Releases the view stored under `handle` and forgets the handle. An unknown handle, or
    // one stored with a null view, changes nothing.
    void ReleaseSharedTexture(uint64_t handle);

    // Draws one layer into output texture `outputIndex` (0 or 1): handles[0] with bounds[0]
    // into the left eye viewport, then handles[1] with bounds[1] into the right one. A handle
    // with no view (never opened, released, or stored null) paints its half opaque black.
    //
    // Looking a handle up never creates an entry: a handle drawn (or released) before it is
    // opened still gets its view when OpenSharedTexture comes later. (Entering absent handles
    // with a null view would make the insert rule keep that null view for good.)
    void RenderLayer(int outputIndex, const uint64_t handles[2], const TextureBounds bounds[2]);
    void RenderLayer(int outputIndex, const SubmittedLayer& layer) {
        RenderLayer(outputIndex, layer.handles, layer.bounds);
    }

    // Table inspection (tests).
    size_t SharedEntryCount() const;
    bool HasSharedEntry(uint64_t handle) const;
    bool HasSharedView(uint64_t handle) const;

    // --- present paths ------------------------------------------------------------------
    // Binds the opaque blend state (before the layers of a direct-mode frame).
    void BindOpaqueBlend();
    // Binds output `index`'s render-target view as the only target and clears it to opaque
    // black (0, 0, 0, 1).
    void ClearOutput(int index);
    // Opens a texture the runtime shares (back buffer, sync texture) for one frame. The
    // reference releases the texture when it goes out of scope; its keyed mutex is reached
    // through HasKeyedMutex / AcquireSync / ReleaseSync. Null when the handle cannot be opened.
    std::shared_ptr<gpu::Texture> OpenRuntimeTexture(uint64_t handle);
    // CopyResource from `source` into output texture `index`.
    void CopyIntoOutput(int index, gpu::Texture& source);

    // --- direct-mode swap textures ------------------------------------------------------
    struct SwapTexture {
        uint64_t handle = 0;                    // 0 when the texture could not be made
        std::shared_ptr<gpu::Texture> texture;  // the creator's own reference
    };
    // A texture the runtime renders into: `format` unchanged, shader resource + render target,
    // shared (no keyed mutex).
    SwapTexture CreateSwapTexture(uint32_t width, uint32_t height, uint32_t format);

  private:
    void CreateRenderStates();
    std::unique_ptr<gpu::ShaderResourceView> CreateTextureView(
        const std::shared_ptr<gpu::Texture>& texture, uint32_t format);
    // Caller holds sharedViewsLock_.
    const std::shared_ptr<gpu::ShaderResourceView>* LookupView(uint64_t handle) const;
    void DrawEyes(int outputIndex, const gpu::ShaderResourceView* const views[2],
                  const TextureBounds bounds[2]);

    std::unique_ptr<gpu::Device> device_;
    std::shared_ptr<gpu::Texture> outputTextures_[2];
    std::unique_ptr<gpu::RenderTargetView> renderTargetViews_[2];
    gpu::Viewport eyeViewports_[2];
    bool renderStatesMade_ = false;

    // The runtime may register and release swap textures on one thread while it presents on
    // another. The lock guards the table only: a draw takes its own references to the views it
    // samples and draws without the lock, so registering or releasing never waits for a frame,
    // and a view released meanwhile lives until that draw lets go of it.
    mutable std::mutex sharedViewsLock_;
    std::unordered_map<uint64_t, std::shared_ptr<gpu::ShaderResourceView>> sharedViews_;

    bool invertY_ = false;
    bool ready_ = false;
    uint32_t outputFormat_ = 0;
};

}  // namespace quillo
