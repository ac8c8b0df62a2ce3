#include "gpu/software/software_device.h"

#include <cstring>
#include <new>

#include "gpu/gpu_backend.h"
#include "gpu/software/gamma_encoder.h"
#include "gpu/software/software_texture.h"
#include "gpu/software/streaming_copy.h"
#include "gpu/software/texel_format.h"

namespace quillo::gpu::software {

namespace {

// Rows per chunk of a clear or copy shared out over the pool.
constexpr size_t kRowsPerChunk = 32;

// A view is its texture (kept alive) and the format it reads or writes the texels in.
struct SoftwareView {
    std::shared_ptr<SoftwareTexture> texture;
    uint32_t format = 0;
};

class SoftwareRenderTargetView final : public RenderTargetView {
  public:
    explicit SoftwareRenderTargetView(SoftwareView view) : view(std::move(view)) {}
    SoftwareView view;
};

class SoftwareShaderResourceView final : public ShaderResourceView {
  public:
    explicit SoftwareShaderResourceView(SoftwareView view) : view(std::move(view)) {}
    SoftwareView view;
};

// A texture of this backend, or null for a texture of another backend.
SoftwareTexture* Native(Texture& texture) {
    return dynamic_cast<SoftwareTexture*>(&texture);
}

bool MakeView(const std::shared_ptr<Texture>& texture, uint32_t format, uint32_t bindFlag,
              SoftwareView& view) {
    auto native = std::dynamic_pointer_cast<SoftwareTexture>(texture);
    if (!native || !IsViewableFormat(format)) return false;
    const TextureDesc desc = native->Describe();
    if ((desc.bindFlags & bindFlag) == 0 || FamilyOf(desc.format) != FamilyOf(format)) {
        return false;
    }
    view.texture = std::move(native);
    view.format = format;
    return true;
}

}  // namespace

SoftwareDevice::SoftwareDevice(unsigned threads, InstructionSet set)
    : pool_(threads), rasterizer_(pool_, set) {}

std::shared_ptr<Texture> SoftwareDevice::CreateTexture(const TextureDesc& desc) {
    return SoftwareTexture::Create(desc);
}

std::shared_ptr<Texture> SoftwareDevice::OpenSharedTexture(uint64_t handle) {
    return SoftwareTexture::Open(handle);
}

std::shared_ptr<Texture> SoftwareDevice::OpenFrameTexture(uint64_t handle) {
    return frameTextures_.Open(handle);
}

std::unique_ptr<RenderTargetView> SoftwareDevice::CreateRenderTargetView(
    const std::shared_ptr<Texture>& texture, uint32_t format) {
    SoftwareView view;
    if (!MakeView(texture, format, kBindRenderTarget, view)) return nullptr;
    return std::unique_ptr<RenderTargetView>(new (std::nothrow)
                                                 SoftwareRenderTargetView(std::move(view)));
}

std::unique_ptr<ShaderResourceView> SoftwareDevice::CreateShaderResourceView(
    const std::shared_ptr<Texture>& texture, uint32_t format) {
    SoftwareView view;
    if (!MakeView(texture, format, kBindShaderResource, view)) return nullptr;
    return std::unique_ptr<ShaderResourceView>(new (std::nothrow)
                                                   SoftwareShaderResourceView(std::move(view)));
}

// Nothing to allocate on the CPU but the colour table, built here so the first frame does not
// pay for it. Binds the alpha blend state, as the Direct3D backend does.
bool SoftwareDevice::CreateRenderStates() {
    GammaToUnorm8::Instance();
    blendState_ = BlendState::Alpha;
    return true;
}

// Both blend states give the same picture here: the eye pass writes alpha 1, so
// ONE/INV_SRC_ALPHA blending leaves exactly the source colour. The pass writes it directly.
void SoftwareDevice::DrawEyePasses(const RenderTargetView& target, int32_t invertY,
                                   const EyePass* passes, size_t count) {
    const auto& rtv = static_cast<const SoftwareRenderTargetView&>(target);
    boundTarget_ = &target;
    SoftwareTexture& texture = *rtv.view.texture;
    bool readsTarget = false;
    for (size_t i = 0; i < count; ++i) {
        const auto* srv = static_cast<const SoftwareShaderResourceView*>(passes[i].source);
        if (srv == nullptr) continue;
        if (srv->view.texture.get() == &texture) readsTarget = true;
        WritePendingClear(*srv->view.texture);  // sampled
    }
    if (texture.clearPending()) {
        // Every pass writes every pixel of its viewport (opaque, alpha 1), so when the passes
        // together cover the texture and none of them reads it, the clear would only be
        // overwritten.
        if (!readsTarget && CoverWholeTexture(texture.Describe(), passes, count)) {
            texture.DropPendingClear();
        } else {
            WritePendingClear(texture);
        }
    }
    for (size_t i = 0; i < count; ++i) {
        const EyePass& pass = passes[i];
        const auto* srv = static_cast<const SoftwareShaderResourceView*>(pass.source);
        rasterizer_.Draw(*rtv.view.texture, rtv.view.format, pass.viewport,
                         srv ? srv->view.texture.get() : nullptr, srv ? srv->view.format : 0,
                         pass.bounds, invertY);
    }
}

// Deferred while this opening holds the texture's keyed mutex (see SoftwareTexture::DeferClear):
// after a hand-over the next frame's eye passes replace every texel, so the clear is mostly
// never written at all.
void SoftwareDevice::ClearRenderTarget(const RenderTargetView& target, const float rgba[4]) {
    const auto& rtv = static_cast<const SoftwareRenderTargetView&>(target);
    SoftwareTexture& texture = *rtv.view.texture;
    uint8_t texel[16];
    EncodeTexel(rtv.view.format, rgba, texel);
    const uint32_t texelSize = TexelSize(rtv.view.format);
    if (texture.DeferClear(texel, texelSize)) return;
    texture.DropPendingClear();  // replaced
    Fill(texture, texel, texelSize);
}

void SoftwareDevice::Fill(const SoftwareTexture& texture, const uint8_t* texel,
                          uint32_t texelSize) {
    const TextureDesc desc = texture.Describe();
    auto fill = [&](size_t begin, size_t end, unsigned) {
        FillRect(texture, texelSize, texel, 0, static_cast<int>(desc.width),
                 static_cast<int>(begin), static_cast<int>(end));
    };
    pool_.ForEach(desc.height, kRowsPerChunk, fill);
}

void SoftwareDevice::WritePendingClear(SoftwareTexture& texture) {
    if (!texture.clearPending()) return;
    Fill(texture, texture.pendingClearTexel(), texture.pendingClearSize());
    texture.DropPendingClear();
}

bool SoftwareDevice::CoverWholeTexture(const TextureDesc& desc, const EyePass* passes,
                                       size_t count) {
    // The column ranges of the passes that span the texture's height; together they must leave
    // no column uncovered.
    struct Span {
        int x0, x1;
    };
    Span spans[8];
    size_t spanCount = 0;
    for (size_t i = 0; i < count; ++i) {
        int x0, x1, y0, y1;
        if (!EyePassRasterizer::PixelRect(passes[i].viewport, desc, x0, x1, y0, y1)) continue;
        if (y0 != 0 || y1 != static_cast<int>(desc.height)) continue;
        if (spanCount == sizeof spans / sizeof spans[0]) return false;
        spans[spanCount++] = {x0, x1};
    }
    int covered = 0;  // columns [0, covered) are covered
    for (bool grew = true; grew && covered < static_cast<int>(desc.width);) {
        grew = false;
        for (size_t i = 0; i < spanCount; ++i) {
            if (spans[i].x0 <= covered && spans[i].x1 > covered) {
                covered = spans[i].x1;
                grew = true;
            }
        }
    }
    return covered >= static_cast<int>(desc.width);
}

void SoftwareDevice::CopyTexture(Texture& destination, Texture& source) {
    SoftwareTexture* to = Native(destination);
    SoftwareTexture* from = Native(source);
    if (to == nullptr || from == nullptr || to == from) return;
    const TextureDesc toDesc = to->Describe();
    const TextureDesc fromDesc = from->Describe();
    if (toDesc.width != fromDesc.width || toDesc.height != fromDesc.height ||
        FamilyOf(toDesc.format) != FamilyOf(fromDesc.format)) {
        return;
    }
    WritePendingClear(*from);
    to->DropPendingClear();  // every texel is replaced
    const size_t rowBytes = static_cast<size_t>(toDesc.width) * TexelSize(toDesc.format);
    auto copy = [&](size_t begin, size_t end, unsigned) {
        for (size_t y = begin; y < end; ++y) {
            StreamingCopy(to->Row(static_cast<uint32_t>(y)), from->Row(static_cast<uint32_t>(y)),
                          rowBytes);
        }
    };
    pool_.ForEach(toDesc.height, kRowsPerChunk, copy);
}

bool SoftwareDevice::UpdateTexture(Texture& texture, const void* data, uint32_t rowPitch) {
    SoftwareTexture* native = Native(texture);
    if (native == nullptr || data == nullptr) return false;
    const TextureDesc desc = native->Describe();
    const size_t rowBytes = static_cast<size_t>(desc.width) * TexelSize(desc.format);
    if (rowPitch < rowBytes) return false;
    native->DropPendingClear();  // every texel is replaced
    const uint8_t* in = static_cast<const uint8_t*>(data);
    for (uint32_t y = 0; y < desc.height; ++y) {
        std::memcpy(native->Row(y), in + static_cast<size_t>(y) * rowPitch, rowBytes);
    }
    return true;
}

bool SoftwareDevice::ReadTexture(Texture& texture, std::vector<uint8_t>& pixels) {
    SoftwareTexture* native = Native(texture);
    if (native == nullptr) return false;
    WritePendingClear(*native);
    const TextureDesc desc = native->Describe();
    const size_t rowBytes = static_cast<size_t>(desc.width) * TexelSize(desc.format);
    pixels.resize(rowBytes * desc.height);
    for (uint32_t y = 0; y < desc.height; ++y) {
        std::memcpy(pixels.data() + y * rowBytes, native->Row(y), rowBytes);
    }
    return true;
}

}  // namespace quillo::gpu::software

namespace quillo::gpu {

std::unique_ptr<Device> CreateSoftwareDevice() {
    return std::unique_ptr<Device>(new (std::nothrow) software::SoftwareDevice());
}

}  // namespace quillo::gpu
