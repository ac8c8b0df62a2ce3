// Named cross-process mutexes: CreateMutexA on Windows, a named POSIX semaphore (initial count
// 1) elsewhere. The driver creates its link mutexes for the companion and never waits on them;
// Lock/Unlock are there for the companion side and for tests.
#pragma once

#include <cstdint>

namespace quillo::platform {

class NamedMutex {
  public:
    NamedMutex() = default;
    ~NamedMutex();  // Close()
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Creates the mutex unowned, or opens it when it exists. On POSIX a leading "/" is added.
    bool Create(const char* name);
    // Opens an existing mutex; false when there is none of that name.
    bool Open(const char* name);
    // Closes the handle. On POSIX the creator also removes the name.
    void Close();
    bool valid() const { return native_ != 0; }

    // Waits up to `timeoutMs` (0xFFFFFFFF: forever). On Windows the mutex belongs to the
    // locking thread and an abandoned mutex counts as locked; on POSIX it is a plain binary
    // semaphore.
    bool Lock(uint32_t timeoutMs);
    void Unlock();

  private:
    void* native_ = 0;  // HANDLE or sem_t*
    bool created_ = false;
    char name_[128] = {};
};

}  // namespace quillo::platform
