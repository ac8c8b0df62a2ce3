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

// Why a device has the backend it has, for the one log line that says so.
enum class BackendReason {
    D3D11Made,          // Direct3D 11 device made
    SoftwareRequested,  // QUILLO_GPU_BACKEND=software, or the software backend asked for
    NoD3D11InBuild,     // this build has no Direct3D 11 backend (every non-Windows build)
    D3D11Failed,        // Windows: no Direct3D 11 device could be made, software used instead
};

struct CreatedDevice {
    std::unique_ptr<Device> device;  // null only if not even the software device could be made
    BackendReason reason = BackendReason::SoftwareRequested;
};

// The log line for a made device (with its line end). A fallback from Direct3D 11 to the
// software backend on Windows reads as the failure it is: neither the runtime nor the
// companion can open the software backend's textures there, so no frame reaches the companion.
const char* BackendLogLine(BackendReason reason);

// As CreateGpuDevice, also telling why.
CreatedDevice CreateGpuDeviceWithReason(Backend backend = Backend::Automatic);

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
