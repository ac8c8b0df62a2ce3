// Which GPU backend a device is made with.
#pragma once

#include <memory>

#include "gpu/gpu_device.h"

namespace quillo::gpu {

enum class Backend {
    Automatic,  // Direct3D 11 on Windows unless QUILLO_GPU_BACKEND=software; software elsewhere
    Software,
    D3D11,
};

// The backend Automatic resolves to on this system, from the build and QUILLO_GPU_BACKEND.
Backend ChooseBackend();

// Makes a device. A Direct3D 11 device that cannot be made (no usable adapter, or a build
// without the Direct3D 11 backend) falls back to the software backend, so the frame path
// always has a device; BackendName() tells which one it got. Null only if even the software
// device cannot be made.
std::unique_ptr<Device> CreateGpuDevice(Backend backend = Backend::Automatic);

// The software backend (src/gpu/software/).
std::unique_ptr<Device> CreateSoftwareDevice();

// The Direct3D 11 backend, defined in src/gpu/d3d11/ (Windows builds only). Null when no device
// can be made. Declared here so that nothing outside d3d11/ includes a Direct3D header; it is
// called only when src/gpu/d3d11/d3d11_backend.h exists in the tree.
std::unique_ptr<Device> CreateD3D11Device();

}  // namespace quillo::gpu
