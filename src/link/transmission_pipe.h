// The message channel to the companion: connects to its two pipes as a client, reads and
// dispatches its messages on a reader thread, holds the head-tracking state and writes the
// driver's own messages whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/head_pose.h"
#include "link/listeners.h"

namespace quillo {

class TransmissionPipe {
  public:
    // Starts the connect thread at once. The pipe names get the test suffix from
    // QUILLO_PIPE_SUFFIX, if set (see platform/pipe.h).
    TransmissionPipe();
    // For tests: the same with an explicit suffix for both pipe names.
    explicit TransmissionPipe(const std::string& pipeNameSuffix);
    // Stops both threads and joins them (waking a reader blocked in a read) before any
    // state they touch is freed.
    ~TransmissionPipe();
    TransmissionPipe(const TransmissionPipe&) = delete;
    TransmissionPipe& operator=(const TransmissionPipe&) = delete;

    // Registration happens during start-up only; listeners are called in registration order.
    void AddTrackingListener(ITrackingUpdatedListener* listener);
    void AddFramerateListener(IFramerateUpdatedListener* listener);
    void AddControllerListener(IControllerUpdatedListener* listener);

    // One consistent snapshot of orientation, position, status and poseReceived; never
    // blocks the caller behind the reader thread.
    HeadPose ReadHeadPose() const;

    bool IsConnected() const;
    // Set when a connection is made; the first present afterwards sends FrameInfo.
    bool NewConnectionPending() const;
    void ClearNewConnection();

    // Writes header and payload as one message that no other writer can interleave with.
    // Nothing is written while not connected.
    void WriteMessage(uint32_t type, const uint8_t* payload, uint32_t length);

    // Clears `running` and wakes a reader blocked in a read; the threads end on their own.
    // The destructor joins them.
    void Stop();

    // Stop, then wait until both threads have ended: afterwards no listener is called any
    // more, so the listeners may be destroyed. Idempotent; the destructor calls it too.
    void StopAndJoin();

  private:
    // Threads, handles and the head-tracking state live behind this pointer so that the
    // platform types stay out of every includer.
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillo
