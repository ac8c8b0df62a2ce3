// The head-tracking state of the companion link: turns each TrackingMessage payload into a
// rotation, a position and a status, keeps the recenter offset and the attitude filter, and
// publishes (orientation, position, trackingStatus, poseReceived) for the headset.
//
// Threads: the pipe's reader thread is the only writer and the only caller of everything except
// Snapshot(). Snapshot() may be called from any thread at any time.
//
// Publication: two slots, each guarded by its own sequence counter, and an atomic index of the
// slot last completed. The writer always fills the slot the index does not point to and then
// flips the index, so a reader never waits for a write in progress, even if the writer thread
// is descheduled halfway: it reads the completed slot. A reader only retries when the writer
// has finished two further updates while it was copying one slot. Every published word is a
// std::atomic<uint32_t> (float bits), so ThreadSanitizer sees no plain data shared between the
// threads; the data stores are release and the data loads acquire, which orders the sequence
// check without standalone fences.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "link/head_pose.h"
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
    static constexpr size_t kWords = 9;  // orientation 4, position 3, status, poseReceived

    struct Slot {
        std::atomic<uint32_t> sequence{0};  // odd while the slot is being written
        std::atomic<uint32_t> words[kWords];
    };

    void Publish();

    // Written and read only on the reader thread.
    Quaternion recenterOffset_;
    OrientationFilter filter_;
    Quaternion orientation_;
    Quaternion rawOrientation_;
    Vector3 position_;
    int32_t trackingStatus_ = 0;
    bool poseReceived_ = false;

    Slot slots_[2];
    std::atomic<uint32_t> latest_{0};
};

}  // namespace quillo
