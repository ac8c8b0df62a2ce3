#include <string>

#include "gpu/gpu_backend.h"
#include "platform/environment.h"

// Windows builds compile the Direct3D 11 backend (gpu/d3d11/); everywhere else only the
// software backend exists.
#if defined(_WIN32)
#define QUILLO_HAS_D3D11_BACKEND 1
#endif

namespace quillo::gpu {

Backend ChooseBackend() {
#if defined(QUILLO_HAS_D3D11_BACKEND)
    std::string requested;
    if (platform::ReadEnvironmentVariable("QUILLO_GPU_BACKEND", requested) &&
        requested == "software") {
        return Backend::Software;
    }
    return Backend::D3D11;
#else
    return Backend::Software;
#endif
}

std::unique_ptr<Device> CreateGpuDevice(Backend backend) {
    if (backend == Backend::Automatic) backend = ChooseBackend();
#if defined(QUILLO_HAS_D3D11_BACKEND)
    if (backend == Backend::D3D11) {
        if (std::unique_ptr<Device> device = CreateD3D11Device()) return device;
        // No Direct3D 11 device: the frame path still needs one, so it falls back to the
        // software backend (the caller logs BackendName()).
    }
#endif
    return CreateSoftwareDevice();
}

}  // namespace quillo::gpu
