// The host's presenting frame loops: what the runtime's compositor does once per frame in
// virtual-display mode (one finished back buffer per frame) and in direct mode (swap texture
// sets from the driver, eye layers, a sync texture), each eye showing the room of
// scene_renderer.h seen from the published head pose, with the stamp and check bands of
// frame_pattern.h so that the companion can check what arrives.
//
// Mode text (--frames-mode): "auto", "virtual" or "direct", optionally followed by options,
// comma-separated:
//   hold-sync-at=<n>       direct mode: from host frame n on, keep the sync texture locked
//                          through Present (the driver should drop those frames)
//   hold-sync-frames=<k>   how many frames to hold it for (default 1 when hold-sync-at is given)
//   shared-eye-texture     direct mode: both eyes in one double-wide swap texture set, drawn
//                          with half-texture bounds, instead of one set per eye
// "auto" chooses what the headset offers, as the runtime does: the virtual display when it
// has IVRVirtualDisplay_001, else direct mode.
#pragma once

#include <memory>
#include <string>

#include "frame_loop.h"

namespace quillo::host {

// Null with a reason in `error` for an unknown mode or option, or when the headset lacks the
// component the mode needs, or when no GPU device can be made.
std::unique_ptr<FrameLoop> MakePresentingFrameLoop(const std::string& mode,
                                                   const HeadsetComponents& components,
                                                   std::string& error);

}  // namespace quillo::host
