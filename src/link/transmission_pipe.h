// The message channel to the companion: connects to its two pipes as a client, reads and
// dispatches its messages on a reader thread, holds the head-tracking state and writes the
// driver's own messages whole.
#pragma once

#include <cstdint>
#include <functional>
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

    // What the reader thread does with every whole message: decode it, update the tracking
    // state and call the listeners (bad payloads are logged and dropped). Public so that the
    // fuzz targets drive this very dispatch at millions of messages a second, which the pipe's
    // threads and handles could not; the driver itself only calls it from the reader thread.
    void DispatchMessage(uint32_t type, const uint8_t* payload, uint32_t length);

    bool IsConnected() const;
    // Set when a connection is made; the first present afterwards sends FrameInfo.
    bool NewConnectionPending() const;
    void ClearNewConnection();
    // Raises the flag again, for a FrameInfo that could not be written.
    void MarkNewConnection();

    enum class WriteResult {
        kWritten,
        kNotConnected,
        // Another thread was writing for longer than the caller may wait, or the companion
        // took none of it within the write bound: not written, the connection stays.
        kBusy,
        // The companion took only part of the message within the write bound, has taken
        // nothing for kStalledLimitMs, or its pipe failed: the connection is dropped so the
        // channel reconnects. Also a payload too long to frame (logged; the connection
        // stays).
        kBroken,
    };
    // Writes header and payload as one message that no other writer can interleave with.
    // Never keeps the calling thread longer than kWriteLockWaitMs + kWriteTimeoutMs.
    WriteResult WriteMessage(uint32_t type, const uint8_t* payload, uint32_t length);
    static constexpr uint32_t kWriteLockWaitMs = 2;
    static constexpr uint32_t kWriteTimeoutMs = 5;
    static constexpr uint32_t kStalledLimitMs = 500;

    // Clears `running` and wakes a reader blocked in a read; the threads end on their own.
    // The destructor joins them.
    void Stop();

    // Stop, then wait until both threads have ended: afterwards no listener is called any
    // more, so the listeners may be destroyed. Idempotent; the destructor calls it too.
    void StopAndJoin();

    // After Stop: waits at most `timeoutMs` for the link's threads to finish their work (a
    // listener call under way included). True when no thread will touch the channel or a
    // listener any more.
    bool WaitForThreadsToEnd(uint32_t timeoutMs);
    // After Stop, for teardown that must not wait: `release` (which may destroy this channel
    // and the listeners) runs once no link thread touches them any more: at once on the
    // calling thread when they have finished, otherwise on the last of them as its final act.
    // The threads are detached, never joined, so nothing here waits for a thread.
    void ReleaseWhenThreadsEnd(std::function<void()> release);

    // Link threads of every channel in the process that have not finished yet, a release
    // they run included (diagnostics and tests).
    static int ThreadsRunningInProcess();

  private:
    // Threads, handles and the head-tracking state live behind this pointer so that the
    // platform types stay out of every includer.
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillo
