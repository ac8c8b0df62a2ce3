// A lock shared by processes and threads, with timed acquire, used as the software backend's
// keyed mutex.
//
// It is a named binary semaphore plus an owner word that every party maps (in the shared
// section of the texture it guards). The owner word names which opening of the lock holds it
// (process id in the high 32 bits, a per-process number in the low 32), so that:
// - Release by an opening that does not hold the lock fails and changes nothing (a semaphore
//   alone would be over-released);
// - a holder whose process died is noticed by the waiters (they look at the owner every
//   100 ms while they wait) and the lock is taken over, reported as Abandoned.
// The one window not covered: a process that dies between taking the semaphore and writing the
// owner word (or between clearing the word and posting) leaves the lock taken with no owner.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/named_semaphore.h"

namespace quillo::platform {

class CrossProcessLock {
  public:
    enum class Result { Acquired, TimedOut, Abandoned, Failed };
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

    CrossProcessLock();
    // Releases the lock if this opening holds it, then closes.
    ~CrossProcessLock();
    CrossProcessLock(const CrossProcessLock&) = delete;
    CrossProcessLock& operator=(const CrossProcessLock&) = delete;

    // `ownerWord` must stay mapped while this object exists; it must read 0 when the lock is
    // first created. Create with `exclusive` fails when the name is taken (see
    // NamedSemaphore::Create).
    bool Create(const char* name, std::atomic<uint64_t>* ownerWord, bool exclusive,
                bool* alreadyExists = nullptr);
    bool Open(const char* name, std::atomic<uint64_t>* ownerWord);
    void Close();
    bool valid() const { return ownerWord_ != nullptr && semaphore_.valid(); }

    // Waits up to `timeoutMs` (0xFFFFFFFF: forever). Acquired and Abandoned mean this opening
    // now holds the lock. An opening that already holds it gets Failed at once (waiting for
    // itself could never end).
    Result Acquire(uint32_t timeoutMs);
    // False when this opening does not hold the lock.
    bool Release();
    bool held() const;

  private:
    NamedSemaphore semaphore_;
    std::atomic<uint64_t>* ownerWord_ = nullptr;
    uint64_t token_ = 0;
};

}  // namespace quillo::platform
