// A named binary semaphore with timed wait, the kernel object under CrossProcessLock:
// CreateSemaphoreA (maximum count 1) on Windows, sem_open elsewhere.
#pragma once

#include <cstdint>

namespace quillo::platform {

class NamedSemaphore {
  public:
    enum class WaitResult { Signaled, TimedOut, Failed };

    NamedSemaphore() = default;
    ~NamedSemaphore();  // Close()
    NamedSemaphore(const NamedSemaphore&) = delete;
    NamedSemaphore& operator=(const NamedSemaphore&) = delete;

    // Creates the semaphore with count 1. With `exclusive`, fails when one of that name
    // already exists (`*alreadyExists` tells that case apart); otherwise opens it.
    bool Create(const char* name, bool exclusive, bool* alreadyExists = nullptr);
    bool Open(const char* name);
    // Closes; on POSIX the creator also removes the name.
    void Close();
    bool valid() const { return native_ != 0; }

    // Takes one count, waiting up to `timeoutMs` (0xFFFFFFFF: forever).
    WaitResult Wait(uint32_t timeoutMs);
    // Gives one count back. On Windows this fails when the count is already 1.
    bool Post();

  private:
    void* native_ = 0;  // HANDLE or sem_t*
    bool created_ = false;
    char name_[128] = {};
};

// True while a process with this id runs (an ended, unreaped POSIX process counts as ended).
bool ProcessIsAlive(uint32_t pid);

}  // namespace quillo::platform
