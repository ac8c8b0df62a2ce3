// Making the Direct3D 11 device, its immediate context and the two eye-pass shaders: the
// adapters are enumerated through the first DXGI factory interface, the first one described
// exactly "NVIDIA" is preferred, otherwise the system's default adapter is used.
#pragma once

#include <d3d11.h>
#include <dxgi.h>

#include <wrl/client.h>

#include <vector>

namespace quillo::gpu::d3d11 {

// Owning COM references: MinGW-w64 and the Windows SDK both ship WRL's ComPtr.
using Microsoft::WRL::ComPtr;

struct DeviceObjects {
    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
    ComPtr<ID3D11VertexShader> vertexShader;
    ComPtr<ID3D11PixelShader> pixelShader;
};

// CreateDXGIFactory for IDXGIFactory, then EnumAdapters(0, 1, 2, ...) until
// DXGI_ERROR_NOT_FOUND. Empty when the factory cannot be made. The factory is released before
// returning; the list holds one reference per adapter, released with the list.
std::vector<ComPtr<IDXGIAdapter>> EnumerateAdapters();

// Makes device and context with `createDevice` (D3D11CreateDevice, or a stand-in in tests):
// flags 0, the runtime's default feature-level list, D3D11_SDK_VERSION.
//
// On the chosen adapter the driver type is D3D_DRIVER_TYPE_UNKNOWN, the only type Direct3D 11
// accepts together with an explicit adapter. If that fails the default adapter is tried
// (null adapter, D3D_DRIVER_TYPE_HARDWARE) and the fallback is logged: a machine whose
// preferred adapter is unusable still gets a frame path. Without any device the failure is
// logged and false returned (the caller then falls back to the software backend).
bool CreateDeviceAndContext(const std::vector<ComPtr<IDXGIAdapter>>& adapters,
                            PFN_D3D11_CREATE_DEVICE createDevice, DeviceObjects& objects);

// CreateVertexShader / CreatePixelShader from the committed eye-pass bytecode, no class
// linkage. False (and a log line) when either is refused, e.g. on a device below feature
// level 10_0, which the shaders (shader model 4.0, SV_VERTEXID) need.
bool LoadShaders(DeviceObjects& objects);

}  // namespace quillo::gpu::d3d11
