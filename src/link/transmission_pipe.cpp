// The pipe channel to the companion.
//
// Threads: the connect thread (life of the channel) opens the companion's two pipes and starts
// one reader thread per connection; the reader reads whole messages and dispatches them in
// arrival order; any runtime thread may write a message. Decisions taken here:
// - running, connected and newConnection are atomics. connected is set before the reader
//   starts and newConnection after, so a present that sees newConnection also sees connected
//   and its FrameInfo is written.
// - Whole messages are built in one stack buffer and written with one call under the write
//   lock, so messages from different threads never interleave and nothing is allocated.
// - A broken connection is cleaned up before the next attempt: the reader is joined and both
//   pipe ends are closed (the old handles are never reused). A write pipe opened without its
//   read partner is closed too; the next round opens both anew.
// - Either end can break on its own. The read end shows it in the read; the write end ("In")
//   only when written to, and the driver may have nothing to write. A companion that died
//   between the two opens while a new one came up leaves a dead "In" paired with the new
//   companion's "Out": the new one waits for its "In" and never writes, the reader would wait
//   for ever. So the pair is checked right after the second open, and the reader wakes every
//   kPeerCheckMs while idle to check that "In" still has its companion.
// - Writes never keep a runtime thread for long: the write lock is waited for at most
//   kWriteLockWaitMs (then the message is not written, kBusy), the write itself at most
//   kWriteTimeoutMs. A message of which nothing went out in that time is dropped (the stream
//   is still framed); a partly written one has broken the framing, and a companion that has
//   taken nothing for kStalledLimitMs has stopped reading: then the connection is dropped and
//   made anew.
// - Teardown that must not wait (see ReleaseWhenThreadsEnd) hands the freeing to the threads:
//   liveThreads counts the connect and reader threads, and the last one to end runs the
//   release as its final act.
// - A header whose length is above 1024 or has its top bit set cannot be framed: the
//   connection is dropped with a log line and the channel reconnects, which realigns the
//   stream. A payload too short for its type (or tracking kind) is logged and skipped; the
//   stream stays aligned because the whole payload was read.
// - Rejections are logged when a run of them starts and when it ends, not one by one.
// - Stop() clears running, interrupts both pipe ends (which wakes a reader blocked in a read
//   and a writer blocked on a full pipe) and wakes the connect thread's waits; the destructor
//   joins both threads before anything they touch goes away.
#include "link/transmission_pipe.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "link/controller_record.h"
#include "link/head_tracking.h"
#include "link/message_reader.h"
#include "link/pipe_names.h"
#include "link/shutdown_request.h"
#include "link/wire_format.h"
#include "platform/log_sink.h"
#include "platform/pipe.h"

namespace quillo {

namespace {

// Connect-thread timing: the pause between opening the write pipe and the read pipe, and the
// pause between two rounds.
constexpr uint32_t kBetweenOpensMs = 150;
constexpr uint32_t kRoundPauseMs = 100;
// How often an idle reader checks that the companion still holds the other end of "In".
constexpr uint32_t kPeerCheckMs = 200;

// A run of rejected messages of one kind: logged when it starts and when it ends.
struct RejectionRun {
    bool active = false;
    uint32_t count = 0;
};

// A mutex whose waiters can give up after a time-out (TimedLockable, for std::unique_lock).
// Built on a condition variable rather than TimedLock, whose timed wait the thread
// sanitizer of the toolchain here does not follow.
class TimedLock {
  public:
    void lock() {
        std::unique_lock<std::mutex> guard(mutex_);
        free_.wait(guard, [this] { return !held_; });
        held_ = true;
    }
    bool try_lock() {
        std::lock_guard<std::mutex> guard(mutex_);
        if (held_) return false;
        held_ = true;
        return true;
    }
    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& timeout) {
        std::unique_lock<std::mutex> guard(mutex_);
        if (!free_.wait_for(guard, timeout, [this] { return !held_; })) return false;
        held_ = true;
        return true;
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            held_ = false;
        }
        free_.notify_one();
    }

  private:
    std::mutex mutex_;
    std::condition_variable free_;
    bool held_ = false;
};

// See ThreadsRunningInProcess.
std::atomic<int> gThreadsRunning{0};

}  // namespace

struct TransmissionPipe::Impl {
    explicit Impl(const std::string& suffix)
        : inPath(platform::PipePath(kPipeBaseNameIn, suffix)),
          outPath(platform::PipePath(kPipeBaseNameOut, suffix)) {}

    void ConnectLoop();
    void ReaderLoop();
    void Dispatch(uint32_t type, const uint8_t* payload, uint32_t length);
    // Waits `ms` or until Stop; returns running.
    bool Pause(uint32_t ms);
    void ReleaseConnection();
    // True when the companion end of "In" is known to be gone. Skipped (false) while a writer
    // holds the write end.
    bool WriteEndGone();
    // Bookkeeping of the link's threads; the last one to end runs the pending release.
    void StartThread(std::thread& slot, void (Impl::*body)());
    void ThreadEnded();
    void Rejected(RejectionRun& run, uint32_t type, uint32_t length, wire::WireError error);
    void Accepted(RejectionRun& run, uint32_t type);

    const std::string inPath;
    const std::string outPath;

    std::vector<ITrackingUpdatedListener*> trackingListeners;
    std::vector<IFramerateUpdatedListener*> framerateListeners;
    std::vector<IControllerUpdatedListener*> controllerListeners;

    std::atomic<bool> running{true};
    std::atomic<bool> connected{false};
    std::atomic<bool> newConnection{false};

    TrackingState tracking;

    // connectionLock guards replacing the two pipe ends and starting the reader against
    // Stop(); writeLock guards writing to the write end and replacing or closing either end,
    // so a writer holding it may interrupt both. Order: connection, write.
    std::mutex connectionLock;
    TimedLock writeLock;
    // Under writeLock: since when writes have been timing out without moving a byte.
    std::optional<std::chrono::steady_clock::time_point> refusingSince;
    platform::PipeStream writeEnd;
    platform::PipeStream readEnd;
    // threadsLock guards the two thread objects, liveThreads and releaseWhenEnded.
    std::mutex threadsLock;
    std::condition_variable threadsEnded;
    int liveThreads = 0;
    std::function<void()> releaseWhenEnded;
    std::thread readerThread;
    std::thread connectThread;

    std::mutex pauseLock;
    std::condition_variable pauseWake;

    // Reader-thread state.
    wire::MessageReader messageReader;
    RejectionRun framingRejections;
    uint32_t droppedConnections = 0;
    RejectionRun trackingRejections;
    RejectionRun refreshRejections;
    RejectionRun controllerRejections;
};

bool TransmissionPipe::Impl::Pause(uint32_t ms) {
    std::unique_lock<std::mutex> lock(pauseLock);
    pauseWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !running.load(); });
    return running.load();
}

void TransmissionPipe::Impl::StartThread(std::thread& slot, void (Impl::*body)()) {
    std::lock_guard<std::mutex> lock(threadsLock);
    ++liveThreads;
    gThreadsRunning.fetch_add(1);
    slot = std::thread([this, body] {
        (this->*body)();
        ThreadEnded();  // may free this object
        gThreadsRunning.fetch_sub(1);
    });
}

void TransmissionPipe::Impl::ThreadEnded() {
    std::function<void()> release;
    {
        std::lock_guard<std::mutex> lock(threadsLock);
        if (--liveThreads == 0) {
            release = std::move(releaseWhenEnded);
            releaseWhenEnded = nullptr;
            threadsEnded.notify_all();
        }
    }
    // The last act of this thread: the release may free this object.
    if (release) release();
}

void TransmissionPipe::Impl::ReleaseConnection() {
    std::thread previous;
    {
        std::lock_guard<std::mutex> lock(threadsLock);
        previous = std::move(readerThread);
    }
    if (previous.joinable()) {
        previous.join();
    }
    std::lock_guard<std::mutex> connection(connectionLock);
    std::lock_guard<TimedLock> write(writeLock);
    writeEnd.Close();
    readEnd.Close();
}

bool TransmissionPipe::Impl::WriteEndGone() {
    std::unique_lock<TimedLock> lock(writeLock, std::try_to_lock);
    return lock.owns_lock() && writeEnd.PeerGone();
}

void TransmissionPipe::Impl::ConnectLoop() {
    while (running.load()) {
        if (!connected.load()) {
            ReleaseConnection();
            platform::PipeStream write;
            if (platform::OpenPipeClient(inPath, platform::PipeAccess::kWrite, write)) {
                if (!Pause(kBetweenOpensMs)) {
                    break;
                }
                platform::PipeStream read;
                if (platform::OpenPipeClient(outPath, platform::PipeAccess::kRead, read)) {
                    if (write.PeerGone()) {
                        // The companion that owned "In" went away during the pause; this
                        // "Out" may be another one's. Both are dropped and opened anew.
                        platform::LogLine(
                            "driver_quillo: the companion closed its \"In\" pipe while the "
                            "driver was connecting; connecting anew\n");
                    } else {
                        std::lock_guard<std::mutex> connection(connectionLock);
                        if (!running.load()) {
                            break;  // Stop came first; the new ends close with `write`, `read`
                        }
                        {
                            std::lock_guard<TimedLock> lock(writeLock);
                            writeEnd = std::move(write);
                            readEnd = std::move(read);
                        }
                        connected.store(true);
                        StartThread(readerThread, &Impl::ReaderLoop);
                        newConnection.store(true);
                    }
                }
            }
        }
        if (!Pause(kRoundPauseMs)) {
            break;
        }
    }
}

void TransmissionPipe::Impl::ReaderLoop() {
    // Reads exactly what the current header or payload still needs, so a header delivered a
    // byte at a time is assembled and no read ever takes bytes of the next message.
    wire::MessageReader& reader = messageReader;
    reader.Reset();
    while (running.load()) {
        if (reader.HasMessage()) {
            if (framingRejections.active) {
                framingRejections.active = false;
                platform::LogLine(
                    "driver_quillo: companion messages are framed correctly again after %u "
                    "dropped connections\n",
                    droppedConnections);
                droppedConnections = 0;
            }
            Dispatch(reader.type(), reader.payload(), reader.length());
            reader.Next();
            continue;
        }
        if (reader.state() == wire::MessageReader::State::kFailed) {
            ++droppedConnections;
            if (!framingRejections.active) {
                framingRejections.active = true;
                platform::LogLine(
                    "driver_quillo: companion message of type %u with length %u cannot be "
                    "read (%s); dropping the connection and reconnecting\n",
                    reader.header().type, reader.header().length,
                    wire::DescribeWireError(reader.error()));
            }
            break;
        }
        bool idle = false;
        const size_t got =
            readEnd.ReadSomeWithin(reader.WriteCursor(), reader.BytesWanted(), kPeerCheckMs, idle);
        if (idle) {
            if (WriteEndGone()) {
                platform::LogLine(
                    "driver_quillo: the companion's \"In\" pipe is closed; reconnecting\n");
                break;
            }
            continue;
        }
        if (got == 0) {
            break;  // the companion closed its end, the pipe failed, or Stop interrupted it
        }
        reader.Commit(got);
    }
    connected.store(false);
    // A writer blocked on a pipe the companion no longer reads must not hold up the reconnect.
    writeEnd.Interrupt();
}

void TransmissionPipe::Impl::Rejected(RejectionRun& run, uint32_t type, uint32_t length,
                                      wire::WireError error) {
    ++run.count;
    if (!run.active) {
        run.active = true;
        platform::LogLine(
            "driver_quillo: companion %s (type %u, %u bytes) dropped: %s; further ones are "
            "dropped silently until one is accepted\n",
            wire::MessageTypeName(type), type, length, wire::DescribeWireError(error));
    }
}

void TransmissionPipe::Impl::Accepted(RejectionRun& run, uint32_t type) {
    if (run.active) {
        platform::LogLine("driver_quillo: companion %s accepted again after %u dropped\n",
                          wire::MessageTypeName(type), run.count);
        run = RejectionRun{};
    }
}

void TransmissionPipe::Impl::Dispatch(uint32_t type, const uint8_t* payload, uint32_t length) {
    switch (type) {
        case wire::kTrackingMessage: {
            const wire::WireError error = tracking.DecodeTracking(payload, length);
            if (error != wire::WireError::kNone) {
                Rejected(trackingRejections, type, length, error);
                return;
            }
            Accepted(trackingRejections, type);
            for (ITrackingUpdatedListener* listener : trackingListeners) {
                listener->OnTrackingUpdated();
            }
            return;
        }
        case wire::kRecenterMessage:
            tracking.Recenter();
            return;
        case wire::kRefreshRateMessage: {
            int32_t hz = 0;
            const wire::WireError error = wire::DecodeRefreshRate(payload, length, hz);
            if (error != wire::WireError::kNone) {
                Rejected(refreshRejections, type, length, error);
                return;
            }
            Accepted(refreshRejections, type);
            for (IFramerateUpdatedListener* listener : framerateListeners) {
                listener->OnFramerateUpdated(hz);
            }
            return;
        }
        case wire::kControllerMessage: {
            ControllerRecord record;
            const wire::WireError error = wire::DecodeControllerRecord(payload, length, record);
            if (error != wire::WireError::kNone) {
                Rejected(controllerRejections, type, length, error);
                return;
            }
            Accepted(controllerRejections, type);
            for (IControllerUpdatedListener* listener : controllerListeners) {
                // Each listener gets its own copy, valid for the duration of the call.
                const ControllerRecord copy = record;
                listener->OnControllerUpdated(copy);
            }
            return;
        }
        case wire::kShutdownRuntimeMessage:
            ShutdownRuntime();
            return;
        default:
            return;  // read completely and skipped
    }
}

void TransmissionPipe::DispatchMessage(uint32_t type, const uint8_t* payload, uint32_t length) {
    impl_->Dispatch(type, payload, length);
}

TransmissionPipe::TransmissionPipe() : TransmissionPipe(platform::PipeSuffixFromEnvironment()) {}

TransmissionPipe::TransmissionPipe(const std::string& pipeNameSuffix)
    : impl_(new Impl(pipeNameSuffix)) {
    impl_->StartThread(impl_->connectThread, &Impl::ConnectLoop);
}

TransmissionPipe::~TransmissionPipe() {
    StopAndJoin();
}

void TransmissionPipe::StopAndJoin() {
    Stop();
    if (impl_->connectThread.joinable()) {
        impl_->connectThread.join();
    }
    // The connect thread has ended, so nobody else touches the reader's handle now.
    if (impl_->readerThread.joinable()) {
        impl_->readerThread.join();
    }
}

bool TransmissionPipe::WaitForThreadsToEnd(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(impl_->threadsLock);
    return impl_->threadsEnded.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                        [this] { return impl_->liveThreads == 0; });
}

int TransmissionPipe::ThreadsRunningInProcess() {
    return gThreadsRunning.load();
}

void TransmissionPipe::ReleaseWhenThreadsEnd(std::function<void()> release) {
    Stop();
    std::unique_lock<std::mutex> lock(impl_->threadsLock);
    // Detached, not joined: a thread that has finished its work may still be ending in the
    // system (on Windows that needs the loader lock, which a library being unloaded holds).
    if (impl_->connectThread.joinable()) impl_->connectThread.detach();
    if (impl_->readerThread.joinable()) impl_->readerThread.detach();
    if (impl_->liveThreads > 0) {
        impl_->releaseWhenEnded = std::move(release);
        return;
    }
    lock.unlock();
    release();
}

void TransmissionPipe::AddTrackingListener(ITrackingUpdatedListener* listener) {
    impl_->trackingListeners.push_back(listener);
}

void TransmissionPipe::AddFramerateListener(IFramerateUpdatedListener* listener) {
    impl_->framerateListeners.push_back(listener);
}

void TransmissionPipe::AddControllerListener(IControllerUpdatedListener* listener) {
    impl_->controllerListeners.push_back(listener);
}

HeadPose TransmissionPipe::ReadHeadPose() const {
    return impl_->tracking.Snapshot();
}

bool TransmissionPipe::IsConnected() const {
    return impl_->connected.load();
}

bool TransmissionPipe::NewConnectionPending() const {
    return impl_->newConnection.load();
}

void TransmissionPipe::ClearNewConnection() {
    impl_->newConnection.store(false);
}

void TransmissionPipe::MarkNewConnection() {
    if (impl_->connected.load()) impl_->newConnection.store(true);
}

TransmissionPipe::WriteResult TransmissionPipe::WriteMessage(uint32_t type, const uint8_t* payload,
                                                             uint32_t length) {
    if (!impl_->connected.load()) {
        return WriteResult::kNotConnected;
    }
    uint8_t message[wire::kHeaderSize + wire::kMaxPayloadLength];
    const size_t size = wire::EncodeMessage(type, payload, length, message, sizeof message);
    if (size == 0) {
        platform::LogLine("driver_quillo: message of type %u with %u bytes is too long to send\n",
                          type, length);
        return WriteResult::kBroken;
    }
    std::unique_lock<TimedLock> lock(impl_->writeLock, std::defer_lock);
    if (!lock.try_lock_for(std::chrono::milliseconds(kWriteLockWaitMs))) {
        return WriteResult::kBusy;
    }
    if (!impl_->connected.load()) {
        return WriteResult::kNotConnected;
    }
    size_t written = 0;
    const auto now = std::chrono::steady_clock::now();
    if (impl_->writeEnd.WriteAllWithin(message, size, kWriteTimeoutMs, written)) {
        impl_->refusingSince.reset();
        return WriteResult::kWritten;
    }
    if (written == 0 && !impl_->writeEnd.PeerGone()) {
        // Nothing of it went out, so the stream is still framed: a companion that is only
        // slow for a moment (a loaded machine) costs this message, not the connection. One
        // that refuses for kStalledLimitMs has stopped reading.
        if (!impl_->refusingSince) impl_->refusingSince = now;
        if (now - *impl_->refusingSince < std::chrono::milliseconds(kStalledLimitMs)) {
            return WriteResult::kBusy;
        }
    }
    impl_->refusingSince.reset();
    // Both ends go: the reader wakes, ends the connection and the channel reconnects.
    // Later writers see the connection gone at once.
    impl_->connected.store(false);
    impl_->writeEnd.Interrupt();
    impl_->readEnd.Interrupt();
    platform::LogLine(
        "driver_quillo: the companion stopped taking messages (one of type %u could not be "
        "written); dropping the connection and reconnecting\n",
        type);
    return WriteResult::kBroken;
}

void TransmissionPipe::Stop() {
    impl_->running.store(false);
    {
        std::lock_guard<std::mutex> connection(impl_->connectionLock);
        impl_->readEnd.Interrupt();
        impl_->writeEnd.Interrupt();
    }
    {
        // Taking the lock orders the notification after a waiter's check of `running`.
        std::lock_guard<std::mutex> lock(impl_->pauseLock);
    }
    impl_->pauseWake.notify_all();
}

}  // namespace quillo
