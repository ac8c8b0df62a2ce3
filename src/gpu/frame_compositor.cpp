#include "gpu/frame_compositor.h"

#include <utility>

#include "gpu/dxgi_format.h"
#include "gpu/gpu_backend.h"
#include "platform/log_sink.h"

namespace quillo {

FrameCompositor::FrameCompositor() = default;

// Members go in reverse order: the table's views and the output textures' views and textures
// are released before the device.
FrameCompositor::~FrameCompositor() = default;

bool FrameCompositor::CreateDevice() {
    if (device_) return true;
    gpu::CreatedDevice created = gpu::CreateGpuDeviceWithReason();
    device_ = std::move(created.device);
    if (device_) platform::LogLine("%s", gpu::BackendLogLine(created.reason));
    return device_ != nullptr;
}

bool FrameCompositor::CreateDevice(std::unique_ptr<gpu::Device> device) {
    if (!device) return false;
    device_ = std::move(device);
    return true;
}

void FrameCompositor::CreateOutputTextures(uint32_t width, uint32_t height) {
    ready_ = false;
    renderTargetViews_[0].reset();
    renderTargetViews_[1].reset();
    outputTextures_[0].reset();
    outputTextures_[1].reset();
    if (IsTypelessFormat(outputFormat_)) outputFormat_ = TypedFormatFor(outputFormat_);
    if (device_) {
        gpu::TextureDesc desc;
        desc.width = width;
        desc.height = height;
        desc.format = outputFormat_;
        desc.bindFlags = gpu::kBindRenderTarget | gpu::kBindShaderResource;
        desc.miscFlags = gpu::kMiscSharedKeyedMutex;
        outputTextures_[0] = device_->CreateTexture(desc);
        outputTextures_[1] = device_->CreateTexture(desc);
        device_->Flush();
    }
    ready_ = true;
    CreateRenderStates();
}

void FrameCompositor::CreateRenderStates() {
    if (!device_ || !outputTextures_[0]) return;
    const gpu::TextureDesc desc = outputTextures_[0]->Describe();
    for (int i = 0; i < 2; ++i) {
        renderTargetViews_[i].reset();
        if (outputTextures_[i]) {
            renderTargetViews_[i] =
                device_->CreateRenderTargetView(outputTextures_[i], desc.format);
        }
    }
    // Integer halving: with an odd width both eyes are (W - 1) / 2 wide and the last column
    // is never drawn.
    const float half = static_cast<float>(desc.width >> 1);
    const float height = static_cast<float>(desc.height);
    eyeViewports_[0] = gpu::Viewport{0.0f, 0.0f, half, height, 0.0f, 1.0f};
    eyeViewports_[1] = gpu::Viewport{half, 0.0f, half, height, 0.0f, 1.0f};
    renderStatesMade_ = device_->CreateRenderStates();
}

uint64_t FrameCompositor::OutputSharedHandle(int index) const {
    const gpu::Texture* texture = outputTextures_[index & 1].get();
    return texture ? texture->SharedHandle() : 0;
}

gpu::SyncResult FrameCompositor::AcquireOutput(int index, uint32_t timeoutMs) {
    gpu::Texture* texture = outputTextures_[index & 1].get();
    if (!texture) return gpu::SyncResult::Failed;
    return texture->AcquireSync(0, timeoutMs);
}

bool FrameCompositor::ReleaseOutput(int index) {
    gpu::Texture* texture = outputTextures_[index & 1].get();
    return texture && texture->ReleaseSync(0);
}

std::unique_ptr<gpu::ShaderResourceView> FrameCompositor::CreateTextureView(
    const std::shared_ptr<gpu::Texture>& texture, uint32_t format) {
    if (IsTypelessFormat(format)) format = TypedFormatFor(format);
    return device_->CreateShaderResourceView(texture, format);
}

void FrameCompositor::OpenSharedTexture(uint64_t handle) {
    if (!device_) return;
    std::shared_ptr<gpu::Texture> texture = device_->OpenSharedTexture(handle);
    if (!texture) return;
    // The view holds its own reference to the texture; ours goes at the end of this scope.
    std::unique_ptr<gpu::ShaderResourceView> view =
        CreateTextureView(texture, texture->Describe().format);
    std::lock_guard<std::mutex> lock(sharedViewsLock_);
    // emplace keeps an existing entry and drops the new view.
    sharedViews_.emplace(handle, std::move(view));
}

void FrameCompositor::ReleaseSharedTexture(uint64_t handle) {
    std::shared_ptr<gpu::ShaderResourceView> released;
    {
        std::lock_guard<std::mutex> lock(sharedViewsLock_);
        auto found = sharedViews_.find(handle);
        if (found == sharedViews_.end() || !found->second) return;
        released = std::move(found->second);
        sharedViews_.erase(found);
    }
    // The view (and with it, perhaps, the last reference to the texture) goes here, outside
    // the lock.
}

// Looking up never enters the handle: an absent handle stays absent, so the insert rule of
// OpenSharedTexture (first entry wins) cannot be blocked by an empty entry that a draw or a
// release of a not-yet-registered handle would otherwise leave behind.
const std::shared_ptr<gpu::ShaderResourceView>* FrameCompositor::LookupView(uint64_t handle) const {
    auto found = sharedViews_.find(handle);
    return found == sharedViews_.end() ? nullptr : &found->second;
}

size_t FrameCompositor::SharedEntryCount() const {
    std::lock_guard<std::mutex> lock(sharedViewsLock_);
    return sharedViews_.size();
}

bool FrameCompositor::HasSharedEntry(uint64_t handle) const {
    std::lock_guard<std::mutex> lock(sharedViewsLock_);
    return sharedViews_.count(handle) != 0;
}

bool FrameCompositor::HasSharedView(uint64_t handle) const {
    std::lock_guard<std::mutex> lock(sharedViewsLock_);
    const std::shared_ptr<gpu::ShaderResourceView>* view = LookupView(handle);
    return view != nullptr && *view != nullptr;
}

void FrameCompositor::RenderLayer(int outputIndex, const uint64_t handles[2],
                                  const TextureBounds bounds[2]) {
    // References of our own (no allocation: the count goes up), so that the lock is held only
    // for the look-up and a concurrent release cannot free a view being sampled.
    std::shared_ptr<gpu::ShaderResourceView> held[2];
    {
        std::lock_guard<std::mutex> lock(sharedViewsLock_);
        for (int eye = 0; eye < 2; ++eye) {
            if (const auto* view = LookupView(handles[eye])) held[eye] = *view;
        }
    }
    const gpu::ShaderResourceView* views[2] = {held[0].get(), held[1].get()};
    DrawEyes(outputIndex, views, bounds);
}

void FrameCompositor::DrawEyes(int outputIndex, const gpu::ShaderResourceView* const views[2],
                               const TextureBounds bounds[2]) {
    const gpu::RenderTargetView* target = renderTargetViews_[outputIndex & 1].get();
    if (!device_ || !target) return;
    // Left eye first, then right; each pass replaces the pixels of its viewport.
    const gpu::EyePass passes[2] = {
        gpu::EyePass{eyeViewports_[0], views[0], bounds[0]},
        gpu::EyePass{eyeViewports_[1], views[1], bounds[1]},
    };
    device_->DrawEyePasses(*target, invertY_ ? 1 : 0, passes, 2);
}

void FrameCompositor::BindOpaqueBlend() {
    if (device_ && renderStatesMade_) device_->SetBlendState(gpu::BlendState::Opaque);
}

void FrameCompositor::ClearOutput(int index) {
    const gpu::RenderTargetView* target = renderTargetViews_[index & 1].get();
    if (!device_ || !target) return;
    static constexpr float kOpaqueBlack[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    device_->BindRenderTarget(*target);
    device_->ClearRenderTarget(*target, kOpaqueBlack);
}

std::shared_ptr<gpu::Texture> FrameCompositor::OpenRuntimeTexture(uint64_t handle) {
    if (!device_ || handle == 0) return nullptr;
    return device_->OpenFrameTexture(handle);
}

void FrameCompositor::CopyIntoOutput(int index, gpu::Texture& source) {
    gpu::Texture* destination = outputTextures_[index & 1].get();
    if (device_ && destination) device_->CopyTexture(*destination, source);
}

FrameCompositor::SwapTexture FrameCompositor::CreateSwapTexture(uint32_t width, uint32_t height,
                                                                uint32_t format) {
    SwapTexture result;
    if (!device_) return result;
    gpu::TextureDesc desc;
    desc.width = width;
    desc.height = height;
    desc.format = format;
    desc.bindFlags = gpu::kBindShaderResource | gpu::kBindRenderTarget;
    desc.miscFlags = gpu::kMiscShared;
    result.texture = device_->CreateTexture(desc);
    if (result.texture) result.handle = result.texture->SharedHandle();
    return result;
}

}  // namespace quillo
