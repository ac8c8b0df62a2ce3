#include "platform/named_mutex.h"

#include "platform/posix/named_semaphore_handle.h"

#include <errno.h>
#include <fcntl.h>
#include <semaphore.h>
#include <time.h>

#include <cstdio>

namespace quillo::platform {

using posix::AsSemaphore;
using posix::PosixName;

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
    return posix::OpenExistingSemaphore(name, name_, native_, created_);
}

void NamedMutex::Close() {
    posix::CloseSemaphore(name_, native_, created_);
}

bool NamedMutex::Lock(uint32_t timeoutMs) {
    return posix::WaitForSemaphore(native_, timeoutMs) == posix::SemaphoreWait::Signaled;
}

void NamedMutex::Unlock() {
    if (native_ == 0) return;
    // A binary semaphore: never post beyond 1.
    int value = 0;
    if (sem_getvalue(AsSemaphore(native_), &value) == 0 && value >= 1) return;
    sem_post(AsSemaphore(native_));
}

}  // namespace quillo::platform
