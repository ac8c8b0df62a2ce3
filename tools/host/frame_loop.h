// The display side of the host: what drives the headset's virtual display or direct-mode
// component once per frame, as the runtime's compositor would.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "openvr/openvr_driver.h"

namespace quillo::runtime {
class FakeRuntime;
}

namespace quillo::host {

// The headset's interfaces as GetComponent gave them; null where the headset has none.
struct HeadsetComponents {
    vr::ITrackedDeviceServerDriver* device = nullptr;
    vr::IVRDisplayComponent* display = nullptr;
    vr::IVRVirtualDisplay* virtualDisplay = nullptr;
    vr::IVRDriverDirectModeComponent* directMode = nullptr;
    // Where the frame loops read the poses the driver published; null: none.
    const runtime::FakeRuntime* poses = nullptr;
};

// Asks the headset for its components by their version strings.
HeadsetComponents QueryHeadsetComponents(vr::ITrackedDeviceServerDriver& headset);

class FrameLoop {
  public:
    virtual ~FrameLoop() = default;
    virtual const char* Name() const = 0;
    // One frame, right after the host's RunFrame. May block to pace (WaitForPresent).
    virtual void RunFrame(uint64_t frameNumber) = 0;
    // Before the provider's Cleanup: release what the loop made through the driver.
    virtual void Finish() {}
};

// The loop for --frames-mode `mode`: "none" gives no loop (null, no error). Other modes are
// chosen from the headset's components the way the runtime chooses (virtual display when
// the headset offers IVRVirtualDisplay_001, direct mode when it offers
// IVRDriverDirectModeComponent_002). An unknown mode gives null with a reason in `error`.
std::unique_ptr<FrameLoop> MakeFrameLoop(const std::string& mode,
                                         const HeadsetComponents& components, std::string& error);

}  // namespace quillo::host
