#include "gpu/d3d11/d3d11_backend.h"

#include <cfloat>
#include <cstring>
#include <utility>

#include "gpu/dxgi_format.h"
#include "gpu/gpu_backend.h"
#include "platform/log_sink.h"

namespace quillo::gpu {

std::unique_ptr<Device> CreateD3D11Device() {
    d3d11::DeviceObjects objects;
    if (!d3d11::CreateDeviceAndContext(d3d11::EnumerateAdapters(), D3D11CreateDevice, objects) ||
        !d3d11::LoadShaders(objects)) {
        return nullptr;
    }
    return std::make_unique<d3d11::D3D11Device>(std::move(objects));
}

namespace d3d11 {

namespace {

const D3D11RenderTargetView* NativeView(const RenderTargetView& view) {
    return dynamic_cast<const D3D11RenderTargetView*>(&view);
}

}  // namespace

D3D11Device::D3D11Device(DeviceObjects objects) : objects_(std::move(objects)) {
    CreateBlackView();
}

// A 1x1 texture of (0, 0, 0, 0) stands in for "no view". Binding a null shader-resource view
// samples zeros by Direct3D's rules, but under Wine binding null did not unbind the previous
// view, so a layer with an unknown handle would show the last eye's picture instead of black.
// Sampling this texture gives the same zeros everywhere (any address, any filter), which the
// pixel shader turns into opaque black, so the picture is the one the rules describe.
void D3D11Device::CreateBlackView() {
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = 1;
    desc.Height = 1;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_R8G8B8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_IMMUTABLE;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    const uint32_t transparentBlack = 0;
    D3D11_SUBRESOURCE_DATA data = {&transparentBlack, sizeof transparentBlack, 0};
    ComPtr<ID3D11Texture2D> texture;
    if (FAILED(objects_.device->CreateTexture2D(&desc, &data, texture.ReleaseAndGetAddressOf())))
        return;
    objects_.device->CreateShaderResourceView(texture.Get(), nullptr,
                                              blackView_.ReleaseAndGetAddressOf());
}

std::shared_ptr<Texture> D3D11Device::CreateTexture(const TextureDesc& desc) {
    D3D11_TEXTURE2D_DESC native = {};
    native.Width = desc.width;
    native.Height = desc.height;
    native.MipLevels = 1;
    native.ArraySize = 1;
    native.Format = static_cast<DXGI_FORMAT>(desc.format);
    native.SampleDesc.Count = 1;
    native.SampleDesc.Quality = 0;
    native.Usage = D3D11_USAGE_DEFAULT;
    native.BindFlags = desc.bindFlags;
    native.CPUAccessFlags = 0;
    native.MiscFlags = desc.miscFlags;
    ComPtr<ID3D11Texture2D> texture;
    const HRESULT hr =
        objects_.device->CreateTexture2D(&native, nullptr, texture.ReleaseAndGetAddressOf());
    textureCreation_.Record(SUCCEEDED(hr) && texture, static_cast<uint32_t>(hr));
    if (FAILED(hr) || !texture) return nullptr;

    uint64_t sharedHandle = 0;
    if (desc.miscFlags & (kMiscShared | kMiscSharedKeyedMutex)) {
        ComPtr<IDXGIResource> resource;
        HRESULT result = texture.As(&resource);
        if (SUCCEEDED(result) && resource) {
            HANDLE handle = nullptr;
            result = resource->GetSharedHandle(&handle);
            if (SUCCEEDED(result)) sharedHandle = reinterpret_cast<uintptr_t>(handle);
        }
        if (FAILED(result) || sharedHandle == 0) {
            LogOnce(noSharedHandleLogged_,
                    "driver_quillo: Direct3D 11: textures get no shared handle here "
                    "(GetSharedHandle 0x%08X); other processes cannot open them\n",
                    static_cast<unsigned>(result));
        }
    }
    ComPtr<IDXGIKeyedMutex> keyedMutex;
    if (desc.miscFlags & kMiscSharedKeyedMutex) {
        const HRESULT result = texture.As(&keyedMutex);
        if (FAILED(result) || !keyedMutex) {
            keyedMutex.Reset();
            LogOnce(noKeyedMutexLogged_,
                    "driver_quillo: Direct3D 11: textures get no keyed mutex here "
                    "(IDXGIKeyedMutex 0x%08X); their hand-over is unguarded\n",
                    static_cast<unsigned>(result));
        }
    }
    return std::make_shared<D3D11Texture>(std::move(texture), sharedHandle, std::move(keyedMutex));
}

bool D3D11Device::OpenShared(uint64_t handle, ComPtr<ID3D11Texture2D>& texture,
                             ComPtr<IDXGIKeyedMutex>& keyedMutex) {
    ComPtr<ID3D11Resource> resource;
    const HRESULT hr = objects_.device->OpenSharedResource(
        reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)),
        IID_PPV_ARGS(resource.ReleaseAndGetAddressOf()));
    sharedOpen_.Record(SUCCEEDED(hr) && resource, static_cast<uint32_t>(hr));
    if (FAILED(hr) || !resource) return false;
    // The resource reference goes at the end of this scope; the texture holds its own.
    if (FAILED(resource.As(&texture)) || !texture) return false;
    // A texture shared without a keyed mutex opens without one.
    if (FAILED(texture.As(&keyedMutex))) keyedMutex.Reset();
    return true;
}

std::shared_ptr<Texture> D3D11Device::OpenSharedTexture(uint64_t handle) {
    ComPtr<ID3D11Texture2D> texture;
    ComPtr<IDXGIKeyedMutex> keyedMutex;
    if (!OpenShared(handle, texture, keyedMutex)) return nullptr;
    return std::make_shared<D3D11Texture>(std::move(texture), handle, std::move(keyedMutex));
}

std::shared_ptr<Texture> D3D11Device::OpenFrameTexture(uint64_t handle) {
    ComPtr<ID3D11Texture2D> texture;
    ComPtr<IDXGIKeyedMutex> keyedMutex;
    if (!OpenShared(handle, texture, keyedMutex)) return nullptr;
    return std::allocate_shared<D3D11Texture>(BlockAllocator<D3D11Texture>(frameBlocks_),
                                              std::move(texture), handle, std::move(keyedMutex));
}

std::unique_ptr<RenderTargetView> D3D11Device::CreateRenderTargetView(
    const std::shared_ptr<Texture>& texture, uint32_t format) {
    D3D11Texture* native = texture ? NativeTexture(*texture) : nullptr;
    if (native == nullptr) return nullptr;
    D3D11_RENDER_TARGET_VIEW_DESC desc = {};
    desc.Format = static_cast<DXGI_FORMAT>(format);
    desc.ViewDimension = D3D11_RTV_DIMENSION_TEXTURE2D;
    desc.Texture2D.MipSlice = 0;
    auto view = std::make_unique<D3D11RenderTargetView>();
    if (FAILED(objects_.device->CreateRenderTargetView(native->native(), &desc,
                                                       view->view.ReleaseAndGetAddressOf())) ||
        !view->view) {
        return nullptr;
    }
    view->texture = texture;
    return view;
}

std::unique_ptr<ShaderResourceView> D3D11Device::CreateShaderResourceView(
    const std::shared_ptr<Texture>& texture, uint32_t format) {
    D3D11Texture* native = texture ? NativeTexture(*texture) : nullptr;
    if (native == nullptr) return nullptr;
    D3D11_SHADER_RESOURCE_VIEW_DESC desc = {};
    desc.Format = static_cast<DXGI_FORMAT>(format);
    desc.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    desc.Texture2D.MostDetailedMip = 0;
    desc.Texture2D.MipLevels = 1;  // only the top level is ever sampled
    auto view = std::make_unique<D3D11ShaderResourceView>();
    if (FAILED(objects_.device->CreateShaderResourceView(native->native(), &desc,
                                                         view->view.ReleaseAndGetAddressOf())) ||
        !view->view) {
        return nullptr;
    }
    view->texture = texture;
    return view;
}

bool D3D11Device::CreateRenderStates() {
    // Two 16-byte dynamic constant buffers, rewritten with WRITE_DISCARD on every use.
    D3D11_BUFFER_DESC bufferDesc = {};
    bufferDesc.ByteWidth = 16;
    bufferDesc.Usage = D3D11_USAGE_DYNAMIC;
    bufferDesc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    bufferDesc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    bufferDesc.MiscFlags = 0;
    bufferDesc.StructureByteStride = 0;
    boundsBuffer_.Reset();
    objects_.device->CreateBuffer(&bufferDesc, nullptr, boundsBuffer_.ReleaseAndGetAddressOf());
    parametersBuffer_.Reset();
    objects_.device->CreateBuffer(&bufferDesc, nullptr, parametersBuffer_.ReleaseAndGetAddressOf());

    D3D11_BLEND_DESC blendDesc = {};  // render targets 1 to 7 stay all zero
    blendDesc.AlphaToCoverageEnable = FALSE;
    blendDesc.IndependentBlendEnable = FALSE;
    D3D11_RENDER_TARGET_BLEND_DESC& target = blendDesc.RenderTarget[0];
    target.BlendEnable = TRUE;
    target.SrcBlend = D3D11_BLEND_ONE;
    target.DestBlend = D3D11_BLEND_INV_SRC_ALPHA;
    target.BlendOp = D3D11_BLEND_OP_ADD;
    target.SrcBlendAlpha = D3D11_BLEND_ONE;
    target.DestBlendAlpha = D3D11_BLEND_INV_SRC_ALPHA;
    target.BlendOpAlpha = D3D11_BLEND_OP_ADD;
    target.RenderTargetWriteMask = D3D11_COLOR_WRITE_ENABLE_ALL;
    alphaBlend_.Reset();
    opaqueBlend_.Reset();
    // A blend state that cannot be made ends this before the sampler.
    if (FAILED(objects_.device->CreateBlendState(&blendDesc, alphaBlend_.ReleaseAndGetAddressOf())))
        return false;
    target.BlendEnable = FALSE;
    if (FAILED(
            objects_.device->CreateBlendState(&blendDesc, opaqueBlend_.ReleaseAndGetAddressOf())))
        return false;
    objects_.context->OMSetBlendState(alphaBlend_.Get(), nullptr, 0xFFFFFFFF);

    D3D11_SAMPLER_DESC samplerDesc = {};
    samplerDesc.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
    samplerDesc.AddressU = D3D11_TEXTURE_ADDRESS_WRAP;
    samplerDesc.AddressV = D3D11_TEXTURE_ADDRESS_WRAP;
    samplerDesc.AddressW = D3D11_TEXTURE_ADDRESS_WRAP;
    samplerDesc.MipLODBias = 0.0f;
    samplerDesc.MaxAnisotropy = 16;
    samplerDesc.ComparisonFunc = D3D11_COMPARISON_NEVER;
    samplerDesc.BorderColor[0] = samplerDesc.BorderColor[1] = 0.0f;
    samplerDesc.BorderColor[2] = samplerDesc.BorderColor[3] = 0.0f;
    samplerDesc.MinLOD = 0.0f;
    samplerDesc.MaxLOD = D3D11_FLOAT32_MAX;
    linearSampler_.Reset();
    objects_.device->CreateSamplerState(&samplerDesc, linearSampler_.ReleaseAndGetAddressOf());
    return true;
}

void D3D11Device::SetBlendState(BlendState state) {
    ID3D11BlendState* blend = state == BlendState::Opaque ? opaqueBlend_.Get() : alphaBlend_.Get();
    objects_.context->OMSetBlendState(blend, nullptr, 0xFFFFFFFF);
}

bool D3D11Device::WriteConstants(ID3D11Buffer* buffer, const void* data, size_t size) {
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    const HRESULT hr = objects_.context->Map(buffer, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped);
    const bool ok = SUCCEEDED(hr) && mapped.pData != nullptr;
    constantsMap_.Record(ok, static_cast<uint32_t>(hr));
    if (!ok) return false;
    std::memcpy(mapped.pData, data, size);
    objects_.context->Unmap(buffer, 0);
    return true;
}

void D3D11Device::DrawEyePasses(const RenderTargetView& target, int32_t invertY,
                                const EyePass* passes, size_t count) {
    const D3D11RenderTargetView* targetView = NativeView(target);
    if (targetView == nullptr) return;
    if (!boundsBuffer_ || !parametersBuffer_) {
        // Without its constant buffers the pass would read zeros for the bounds; nothing is
        // drawn instead (the buffers are missing only when CreateRenderStates failed or never
        // ran).
        LogOnce(noConstantBuffersLogged_,
                "driver_quillo: Direct3D 11: the eye pass has no constant buffers; layers are "
                "not drawn\n");
        return;
    }
    ID3D11DeviceContext* context = objects_.context.Get();
    ID3D11RenderTargetView* targets[1] = {targetView->view.Get()};
    context->OMSetRenderTargets(1, targets, nullptr);
    context->VSSetShader(objects_.vertexShader.Get(), nullptr, 0);
    context->PSSetShader(objects_.pixelShader.Get(), nullptr, 0);
    ID3D11SamplerState* samplers[1] = {linearSampler_.Get()};
    context->PSSetSamplers(0, 1, samplers);

    // Parameters: InvertY at offset 0; the 12 bytes of pad1 are never read. If the buffer
    // cannot be mapped the layer is not drawn at all: drawing with a stale InvertY would show
    // the picture upside down.
    const uint32_t parameters[4] = {static_cast<uint32_t>(invertY), 0, 0, 0};
    if (!WriteConstants(parametersBuffer_.Get(), parameters, sizeof parameters)) return;
    ID3D11Buffer* parametersBuffers[1] = {parametersBuffer_.Get()};
    context->PSSetConstantBuffers(1, 1, parametersBuffers);

    for (size_t i = 0; i < count; ++i) {
        const EyePass& pass = passes[i];
        const D3D11_VIEWPORT viewport = {pass.viewport.topLeftX, pass.viewport.topLeftY,
                                         pass.viewport.width,    pass.viewport.height,
                                         pass.viewport.minDepth, pass.viewport.maxDepth};
        context->RSSetViewports(1, &viewport);
        // texBounds in the order of the runtime's texture bounds. An eye whose bounds cannot
        // be written is skipped: stale bounds would show another eye's region.
        const float bounds[4] = {pass.bounds.uMin, pass.bounds.vMin, pass.bounds.uMax,
                                 pass.bounds.vMax};
        if (!WriteConstants(boundsBuffer_.Get(), bounds, sizeof bounds)) continue;
        ID3D11Buffer* boundsBuffers[1] = {boundsBuffer_.Get()};
        context->VSSetConstantBuffers(0, 1, boundsBuffers);
        const auto* source = dynamic_cast<const D3D11ShaderResourceView*>(pass.source);
        ID3D11ShaderResourceView* views[1] = {source != nullptr ? source->view.Get()
                                                                : blackView_.Get()};
        context->PSSetShaderResources(0, 1, views);
        context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
        context->Draw(3, 0);
    }
}

void D3D11Device::BindRenderTarget(const RenderTargetView& target) {
    const D3D11RenderTargetView* view = NativeView(target);
    if (view == nullptr) return;
    ID3D11RenderTargetView* targets[1] = {view->view.Get()};
    objects_.context->OMSetRenderTargets(1, targets, nullptr);
}

void D3D11Device::ClearRenderTarget(const RenderTargetView& target, const float rgba[4]) {
    const D3D11RenderTargetView* view = NativeView(target);
    if (view == nullptr) return;
    objects_.context->ClearRenderTargetView(view->view.Get(), rgba);
}

void D3D11Device::CopyTexture(Texture& destination, Texture& source) {
    D3D11Texture* to = NativeTexture(destination);
    D3D11Texture* from = NativeTexture(source);
    if (to == nullptr || from == nullptr || to == from) return;
    // CopyResource needs equal sizes (and formats of one family, which Direct3D itself
    // checks); a mismatch copies nothing.
    const TextureDesc toDesc = to->Describe();
    const TextureDesc fromDesc = from->Describe();
    if (toDesc.width != fromDesc.width || toDesc.height != fromDesc.height) return;
    objects_.context->CopyResource(to->native(), from->native());
}

void D3D11Device::Flush() {
    objects_.context->Flush();
}

bool D3D11Device::UpdateTexture(Texture& texture, const void* data, uint32_t rowPitch) {
    D3D11Texture* native = NativeTexture(texture);
    if (native == nullptr || data == nullptr) return false;
    const TextureDesc desc = native->Describe();
    const uint32_t texelSize = quillo::BytesPerTexel(desc.format);
    if (texelSize == 0 || rowPitch < static_cast<uint64_t>(desc.width) * texelSize) return false;
    objects_.context->UpdateSubresource(native->native(), 0, nullptr, data, rowPitch, 0);
    return true;
}

bool D3D11Device::ReadTexture(Texture& texture, std::vector<uint8_t>& pixels) {
    D3D11Texture* native = NativeTexture(texture);
    if (native == nullptr) return false;
    D3D11_TEXTURE2D_DESC desc = {};
    native->native()->GetDesc(&desc);
    const uint32_t texelSize = quillo::BytesPerTexel(static_cast<uint32_t>(desc.Format));
    if (texelSize == 0) return false;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    ComPtr<ID3D11Texture2D> staging;
    if (FAILED(
            objects_.device->CreateTexture2D(&desc, nullptr, staging.ReleaseAndGetAddressOf())) ||
        !staging) {
        return false;
    }
    objects_.context->CopyResource(staging.Get(), native->native());
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    if (FAILED(objects_.context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped))) return false;
    const size_t rowBytes = static_cast<size_t>(desc.Width) * texelSize;
    pixels.resize(rowBytes * desc.Height);
    for (uint32_t y = 0; y < desc.Height; ++y) {
        std::memcpy(
            pixels.data() + rowBytes * y,
            static_cast<const uint8_t*>(mapped.pData) + static_cast<size_t>(y) * mapped.RowPitch,
            rowBytes);
    }
    objects_.context->Unmap(staging.Get(), 0);
    return true;
}

}  // namespace d3d11
}  // namespace quillo::gpu
