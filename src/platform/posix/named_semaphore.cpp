#include "platform/named_semaphore.h"

#include <errno.h>
#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstring>

namespace quillo::platform {

namespace {

// POSIX names of named objects begin with one slash.
void PosixName(const char* name, char (&out)[128]) {
    std::snprintf(out, sizeof out, "%s%s", name[0] == '/' ? "" : "/", name);
}

sem_t* AsSemaphore(void* native) {
    return static_cast<sem_t*>(native);
}

}  // namespace

NamedSemaphore::~NamedSemaphore() {
    Close();
}

bool NamedSemaphore::Create(const char* name, bool exclusive, bool* alreadyExists) {
    Close();
    if (alreadyExists) *alreadyExists = false;
    PosixName(name, name_);
    const int flags = O_CREAT | (exclusive ? O_EXCL : 0);
    sem_t* semaphore = sem_open(name_, flags, 0600, 1u);
    if (semaphore == SEM_FAILED) {
        if (errno == EEXIST && alreadyExists) *alreadyExists = true;
        return false;
    }
    native_ = semaphore;
    created_ = true;
    return true;
}

bool NamedSemaphore::Open(const char* name) {
    Close();
    PosixName(name, name_);
    sem_t* semaphore = sem_open(name_, 0);
    if (semaphore == SEM_FAILED) return false;
    native_ = semaphore;
    created_ = false;
    return true;
}

void NamedSemaphore::Close() {
    if (native_ == 0) return;
    sem_close(AsSemaphore(native_));
    if (created_) sem_unlink(name_);
    native_ = 0;
    created_ = false;
}

NamedSemaphore::WaitResult NamedSemaphore::Wait(uint32_t timeoutMs) {
    if (native_ == 0) return WaitResult::Failed;
    sem_t* semaphore = AsSemaphore(native_);
    if (timeoutMs == 0xFFFFFFFFu) {
        while (sem_wait(semaphore) != 0) {
            if (errno != EINTR) return WaitResult::Failed;
        }
        return WaitResult::Signaled;
    }
    // Measured on the monotonic clock so that a change of the wall clock does not stretch it.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (sem_clockwait(semaphore, CLOCK_MONOTONIC, &deadline) != 0) {
        if (errno == ETIMEDOUT) return WaitResult::TimedOut;
        if (errno != EINTR) return WaitResult::Failed;
    }
    return WaitResult::Signaled;
}

bool NamedSemaphore::Post() {
    return native_ != 0 && sem_post(AsSemaphore(native_)) == 0;
}

// A process that has ended but was not reaped yet (a zombie) still answers kill(pid, 0); its
// state letter in /proc tells it apart, where /proc exists.
bool IsZombie(uint32_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return false;
    char text[512];
    const size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[length] = '\0';
    // "pid (name) S ...": the name may hold spaces and parentheses, so look after the last ')'.
    const char* close = std::strrchr(text, ')');
    return close != nullptr && close[1] == ' ' && close[2] == 'Z';
}

bool ProcessIsAlive(uint32_t pid) {
    if (pid == 0) return false;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    return !IsZombie(pid);
}

}  // namespace quillo::platform
