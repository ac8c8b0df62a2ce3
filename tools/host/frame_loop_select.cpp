// Choosing the frame loop for --frames-mode. Loops that present frames register here.
#include "frame_loop.h"
#include "frame_loops.h"

namespace quillo::host {

HeadsetComponents QueryHeadsetComponents(vr::ITrackedDeviceServerDriver& headset) {
    HeadsetComponents components;
    components.device = &headset;
    components.display = static_cast<vr::IVRDisplayComponent*>(
        headset.GetComponent(vr::IVRDisplayComponent_Version));
    components.virtualDisplay =
        static_cast<vr::IVRVirtualDisplay*>(headset.GetComponent(vr::IVRVirtualDisplay_Version));
    components.directMode = static_cast<vr::IVRDriverDirectModeComponent*>(
        headset.GetComponent(vr::IVRDriverDirectModeComponent_Version));
    return components;
}

std::unique_ptr<FrameLoop> MakeFrameLoop(const std::string& mode,
                                         const HeadsetComponents& components, std::string& error) {
    if (mode == "none") {
        return nullptr;
    }
    return MakePresentingFrameLoop(mode, components, error);
}

}  // namespace quillo::host
