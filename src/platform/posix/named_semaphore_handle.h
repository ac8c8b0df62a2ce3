// What the POSIX named mutex and named semaphore share: both are named POSIX semaphores, and
// the object that created a name removes it when it closes.
#pragma once

#include <fcntl.h>
#include <semaphore.h>

#include <errno.h>
#include <time.h>

#include <cstdint>
#include <cstdio>

namespace quillo::platform::posix {

// POSIX names of named objects begin with one slash.
inline void PosixName(const char* name, char (&out)[128]) {
    std::snprintf(out, sizeof out, "%s%s", name[0] == '/' ? "" : "/", name);
}

inline sem_t* AsSemaphore(void* native) {
    return static_cast<sem_t*>(native);
}

// Opens the existing semaphore `name` (not creating it); false when there is none.
inline bool OpenExistingSemaphore(const char* name, char (&posixName)[128], void*& native,
                                  bool& created) {
    PosixName(name, posixName);
    sem_t* semaphore = sem_open(posixName, 0);
    if (semaphore == SEM_FAILED) return false;
    native = semaphore;
    created = false;
    return true;
}

inline void CloseSemaphore(const char (&posixName)[128], void*& native, bool& created) {
    if (native == nullptr) return;
    sem_close(AsSemaphore(native));
    if (created) sem_unlink(posixName);
    native = nullptr;
    created = false;
}

enum class SemaphoreWait { Signaled, TimedOut, Failed };

// Waits for the semaphore; 0xFFFFFFFF waits without a time-out. The time-out is measured on the
// monotonic clock so that a change of the wall clock does not stretch it.
inline SemaphoreWait WaitForSemaphore(void* native, uint32_t timeoutMs) {
    if (native == nullptr) return SemaphoreWait::Failed;
    sem_t* semaphore = AsSemaphore(native);
    if (timeoutMs == 0xFFFFFFFFu) {
        while (sem_wait(semaphore) != 0) {
            if (errno != EINTR) return SemaphoreWait::Failed;
        }
        return SemaphoreWait::Signaled;
    }
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (sem_clockwait(semaphore, CLOCK_MONOTONIC, &deadline) != 0) {
        if (errno == ETIMEDOUT) return SemaphoreWait::TimedOut;
        if (errno != EINTR) return SemaphoreWait::Failed;
    }
    return SemaphoreWait::Signaled;
}

}  // namespace quillo::platform::posix
