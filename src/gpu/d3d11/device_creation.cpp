#include "gpu/d3d11/device_creation.h"

#include <optional>

#include "gpu/adapter_choice.h"
#include "gpu/shaders/generated/eye_pass_ps.h"
#include "gpu/shaders/generated/eye_pass_vs.h"
#include "platform/log_sink.h"

namespace quillo::gpu::d3d11 {

std::vector<ComPtr<IDXGIAdapter>> EnumerateAdapters() {
    std::vector<ComPtr<IDXGIAdapter>> adapters;
    ComPtr<IDXGIFactory> factory;
    if (FAILED(CreateDXGIFactory(IID_PPV_ARGS(factory.ReleaseAndGetAddressOf()))) || !factory) {
        return adapters;
    }
    for (UINT index = 0;; ++index) {
        ComPtr<IDXGIAdapter> adapter;
        const HRESULT hr = factory->EnumAdapters(index, adapter.ReleaseAndGetAddressOf());
        if (hr == DXGI_ERROR_NOT_FOUND) break;
        // Any other failure is not expected; it ends the walk rather than spin on it.
        if (FAILED(hr) || !adapter) break;
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

namespace {

AdapterDescription Describe(IDXGIAdapter* adapter) {
    AdapterDescription description;
    DXGI_ADAPTER_DESC desc = {};
    if (SUCCEEDED(adapter->GetDesc(&desc))) {
        static_assert(sizeof desc.Description / sizeof desc.Description[0] ==
                      kAdapterDescriptionLength);
        for (size_t i = 0; i < kAdapterDescriptionLength; ++i) {
            description.text[i] = static_cast<char16_t>(desc.Description[i]);
        }
    }
    return description;
}

HRESULT CreateOn(PFN_D3D11_CREATE_DEVICE createDevice, IDXGIAdapter* adapter,
                 DeviceObjects& objects) {
    objects.device.Reset();
    objects.context.Reset();
    const D3D_DRIVER_TYPE driverType =
        adapter != nullptr ? D3D_DRIVER_TYPE_UNKNOWN : D3D_DRIVER_TYPE_HARDWARE;
    const HRESULT hr = createDevice(adapter, driverType, nullptr, 0, nullptr, 0, D3D11_SDK_VERSION,
                                    objects.device.ReleaseAndGetAddressOf(), nullptr,
                                    objects.context.ReleaseAndGetAddressOf());
    if (FAILED(hr) || !objects.device || !objects.context) {
        objects.device.Reset();
        objects.context.Reset();
        return FAILED(hr) ? hr : E_FAIL;
    }
    return hr;
}

}  // namespace

bool CreateDeviceAndContext(const std::vector<ComPtr<IDXGIAdapter>>& adapters,
                            PFN_D3D11_CREATE_DEVICE createDevice, DeviceObjects& objects) {
    std::vector<AdapterDescription> descriptions;
    descriptions.reserve(adapters.size());
    for (const ComPtr<IDXGIAdapter>& adapter : adapters)
        descriptions.push_back(Describe(adapter.Get()));
    const std::optional<size_t> chosen = ChooseAdapter(descriptions);

    if (chosen) {
        const HRESULT hr = CreateOn(createDevice, adapters[*chosen].Get(), objects);
        if (SUCCEEDED(hr)) return true;
        platform::LogLine(
            "driver_quillo: Direct3D 11 device on adapter %u \"NVIDIA\" failed (0x%08X); "
            "using the default adapter\n",
            static_cast<unsigned>(*chosen), static_cast<unsigned>(hr));
    }
    const HRESULT hr = CreateOn(createDevice, nullptr, objects);
    if (SUCCEEDED(hr)) return true;
    platform::LogLine("driver_quillo: Direct3D 11 device on the default adapter failed (0x%08X)\n",
                      static_cast<unsigned>(hr));
    return false;
}

bool LoadShaders(DeviceObjects& objects) {
    objects.vertexShader.Reset();
    objects.pixelShader.Reset();
    HRESULT hr =
        objects.device->CreateVertexShader(kEyePassVertexShader, kEyePassVertexShaderSize, nullptr,
                                           objects.vertexShader.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr)) {
        hr =
            objects.device->CreatePixelShader(kEyePassPixelShader, kEyePassPixelShaderSize, nullptr,
                                              objects.pixelShader.ReleaseAndGetAddressOf());
    }
    if (FAILED(hr) || !objects.vertexShader || !objects.pixelShader) {
        platform::LogLine(
            "driver_quillo: Direct3D 11 eye-pass shaders refused (0x%08X, feature level "
            "0x%X)\n",
            static_cast<unsigned>(hr), static_cast<unsigned>(objects.device->GetFeatureLevel()));
        objects.vertexShader.Reset();
        objects.pixelShader.Reset();
        return false;
    }
    return true;
}

}  // namespace quillo::gpu::d3d11
