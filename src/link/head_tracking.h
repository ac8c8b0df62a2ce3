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
    // listeners. A payload too short for its kind changes nothing and returns the reason (the
    // caller logs it and skips the listeners).
    wire::WireError DecodeTracking(const uint8_t* payload, size_t length);

    // Applies an already decoded update (DecodeTracking without the decoding).
    void ApplyTracking(const wire::TrackingUpdate& update);

    // Replaces the recenter offset by a yaw that cancels the vertical component of the current
    // raw rotation. The published orientation changes only at the next tracking update.
    void Recenter();

    // One consistent copy of the published state; callable from any thread, never blocks.
    HeadPose Snapshot() const;

    // Reader-thread state, for the reader thread and for tests.
    const Quaternion& recenterOffset() const { return recenterOffset_; }
    const OrientationFilter& orientationFilter() const { return filter_; }
    const Quaternion& rawOrientation() const { return rawOrientation_; }
    const Quaternion& orientation() const { return orientation_; }
    const Vector3& position() const { return position_; }
    int32_t trackingStatus() const { return trackingStatus_; }
    bool poseReceived() const { return poseReceived_; }

  private:
    void Publish();

    // Written and read only on the reader thread.
    Quaternion recenterOffset_;
    OrientationFilter filter_;
    Quaternion orientation_;
    Quaternion rawOrientation_;
    Vector3 position_;
    int32_t trackingStatus_ = 0;
    bool poseReceived_ = false;

    PublishedValue<HeadPose> published_;
};

}  // namespace quillo
