// The head-tracking state of the companion link: turns each TrackingMessage payload into a
// rotation, a position and a status, keeps the recenter offset and the attitude filter, and
// publishes (orientation, position, trackingStatus, poseReceived) for the headset.
//
// Threads: the pipe's reader thread is the only writer and the only caller of everything except
// Snapshot(). Snapshot() may be called from any thread at any time.
//
// Publication: through PublishedValue (two sequence-guarded slots of atomic words), so the
// headset's thread never blocks behind the reader thread and never sees a torn pose.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/head_pose.h"
#include "link/published_value.h"
#include "link/tracking_math.h"
#include "link/wire_format.h"

namespace quillo {

class TrackingState {
  public:
    TrackingState();
    TrackingState(const TrackingState&) = delete;
    TrackingState& operator=(const TrackingState&) = delete;

    // Decodes one TrackingMessage payload and applies it. On success poseReceived is set and
    // the new state is published in one step; the caller then notifies its tracking
    // listeners. A payload that is too short for its kind or that ApplyTracking drops changes
    // nothing and returns the reason (the caller logs it and skips the listeners).
    wire::WireError DecodeTracking(const uint8_t* payload, size_t length);

    // Applies an already decoded update (DecodeTracking without the decoding). A sample with
    // a NaN or infinite float is dropped (kNonFiniteField), and so is one whose use would make
    // the orientation, the position, the recenter offset or the attitude filter non-finite
    // (kNonFiniteResult): one bad sample must not leave the head pose NaN for good, and the
    // filter state outlives reconnections. A dropped sample changes nothing; the last good
    // pose stays published.
    wire::WireError ApplyTracking(const wire::TrackingUpdate& update);

    // Replaces the recenter offset by a yaw that cancels the vertical component of the current
    // raw rotation. The published orientation changes only at the next tracking update.
    void Recenter();

    // One consistent copy of the published state; callable from any thread, never blocks.
    HeadPose Snapshot() const;

    // Reader-thread state, for the reader thread and for tests.
    const Quaternion& recenterOffset() const { return model_.recenterOffset; }
    const OrientationFilter& orientationFilter() const { return model_.filter; }
    const Quaternion& rawOrientation() const { return model_.rawOrientation; }
    const Quaternion& orientation() const { return model_.orientation; }
    const Vector3& position() const { return model_.position; }
    int32_t trackingStatus() const { return model_.trackingStatus; }
    bool poseReceived() const { return poseReceived_; }

  private:
    // Everything one sample may change; a sample is applied to a copy, which replaces the
    // current state only when it is wholly finite.
    struct Model {
        Quaternion recenterOffset;
        OrientationFilter filter;
        Quaternion orientation;
        Quaternion rawOrientation;
        Vector3 position{0.0f, 1.7f, 0.0f};
        int32_t trackingStatus = 0;
    };

    void Publish();

    // Written and read only on the reader thread.
    Model model_;
    bool poseReceived_ = false;

    PublishedValue<HeadPose> published_;
};

}  // namespace quillo
