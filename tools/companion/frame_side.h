// The hook through which the frame side of the companion (opening the driver's output
// textures, reading frames under the keyed-mutex rule, saving PNG files, frame statistics)
// joins the main loop. The pipe side (companion_app) knows nothing about textures.
//
// The companion makes its one frame side (MakeFrameReceiver, frame_receiver.h) at start-up
// when --frames (or --png-dir, --frame-stats) was given.
//
// All calls come from the companion's main loop thread, in this order per connection:
// OnFrameInfo (the first FrameInfo of a connection and any later one), Tick (about every
// millisecond while running, connected or not), OnDisconnected; Finish once before exit.
// Tick shares the loop with the tracking and controller messages: it must not block for long
// (use short keyed-mutex time-outs, or run a thread of its own started in OnFrameInfo).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "companion_options.h"
#include "companion_output.h"
#include "link/wire_format.h"

namespace quillo::companion {

class FrameSide {
  public:
    virtual ~FrameSide() = default;
    virtual void OnFrameInfo(const wire::FrameInfo& info, uint32_t connection) = 0;
    virtual void OnDisconnected(uint32_t connection) = 0;
    virtual void Tick() = 0;
    // A few words for the live status line ("frames 1234, 89.9/s"); may be empty.
    virtual std::string StatusText() = 0;
    // Before exit: write statistics, release textures. Output goes through `output`.
    virtual void Finish() = 0;
};

}  // namespace quillo::companion
