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

const char* BackendLogLine(BackendReason reason) {
    switch (reason) {
        case BackendReason::D3D11Made:
            return "driver_quillo: GPU backend: d3d11 (Direct3D 11 device made)\n";
        case BackendReason::SoftwareRequested:
            return "driver_quillo: GPU backend: software (requested by "
                   "QUILLO_GPU_BACKEND=software; "
                   "only programs on the same backend can open the frames)\n";
        case BackendReason::NoD3D11InBuild:
            return "driver_quillo: GPU backend: software (this build has no Direct3D 11 "
                   "backend)\n";
        case BackendReason::D3D11Failed:
            return "driver_quillo: ERROR: no Direct3D 11 device could be made, fell back to the "
                   "software GPU backend: neither the runtime nor the companion can open its "
                   "textures, so no frame will reach the companion\n";
    }
    return "driver_quillo: GPU backend: unknown\n";
}

CreatedDevice CreateGpuDeviceWithReason(Backend backend) {
    [[maybe_unused]] const Backend asked = backend;
    if (backend == Backend::Automatic) backend = ChooseBackend();
    CreatedDevice created;
#if defined(QUILLO_HAS_D3D11_BACKEND)
    if (backend == Backend::D3D11) {
        created.device = CreateD3D11Device();
        if (created.device) {
            created.reason = BackendReason::D3D11Made;
            return created;
        }
        // No Direct3D 11 device: the frame path still needs one, so it falls back to the
        // software backend.
        created.reason = BackendReason::D3D11Failed;
    } else {
        created.reason = BackendReason::SoftwareRequested;
    }
#else
    created.reason = asked == Backend::Software ? BackendReason::SoftwareRequested
                                                : BackendReason::NoD3D11InBuild;
#endif
    created.device = CreateSoftwareDevice();
    return created;
}

std::unique_ptr<Device> CreateGpuDevice(Backend backend) {
    return CreateGpuDeviceWithReason(backend).device;
}

}  // namespace quillo::gpu
