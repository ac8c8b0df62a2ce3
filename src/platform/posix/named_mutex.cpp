#include "platform/named_mutex.h"

#include <errno.h>
#include <fcntl.h>
#include <semaphore.h>
#include <time.h>

#include <cstdio>

namespace quillo::platform {

namespace {

void PosixName(const char* name, char (&out)[128]) {
    std::snprintf(out, sizeof out, "%s%s", name[0] == '/' ? "" : "/", name);
}

sem_t* AsSemaphore(void* native) {
    return static_cast<sem_t*>(native);
}

}  // namespace

NamedMutex::~NamedMutex() {
    Close();
}

bool NamedMutex::Create(const char* name) {
    Close();
    PosixName(name, name_);
    // Create exclusively first, to know whether this object is the creator (who removes the
    // name when it closes); fall back to opening the existing one.
    sem_t* semaphore = sem_open(name_, O_CREAT | O_EXCL, 0600, 1u);
    created_ = semaphore != SEM_FAILED;
    if (semaphore == SEM_FAILED && errno == EEXIST) semaphore = sem_open(name_, 0);
    if (semaphore == SEM_FAILED) return false;
    native_ = semaphore;
    return true;
}

bool NamedMutex::Open(const char* name) {
    Close();
    PosixName(name, name_);
    sem_t* semaphore = sem_open(name_, 0);
    if (semaphore == SEM_FAILED) return false;
    native_ = semaphore;
    created_ = false;
    return true;
}

void NamedMutex::Close() {
    if (native_ == 0) return;
    sem_close(AsSemaphore(native_));
    if (created_) sem_unlink(name_);
    native_ = 0;
    created_ = false;
}

bool NamedMutex::Lock(uint32_t timeoutMs) {
    if (native_ == 0) return false;
    sem_t* semaphore = AsSemaphore(native_);
    if (timeoutMs == 0xFFFFFFFFu) {
        while (sem_wait(semaphore) != 0) {
            if (errno != EINTR) return false;
        }
        return true;
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
        if (errno != EINTR) return false;
    }
    return true;
}

void NamedMutex::Unlock() {
    if (native_ == 0) return;
    // A binary semaphore: never post beyond 1.
    int value = 0;
    if (sem_getvalue(AsSemaphore(native_), &value) == 0 && value >= 1) return;
    sem_post(AsSemaphore(native_));
}

}  // namespace quillo::platform
