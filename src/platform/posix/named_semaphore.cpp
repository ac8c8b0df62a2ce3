#include "platform/named_semaphore.h"

#include "platform/posix/named_semaphore_handle.h"

#include <errno.h>
#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstring>

namespace quillo::platform {

using posix::AsSemaphore;
using posix::PosixName;

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
    return posix::OpenExistingSemaphore(name, name_, native_, created_);
}

void NamedSemaphore::Close() {
    posix::CloseSemaphore(name_, native_, created_);
}

NamedSemaphore::WaitResult NamedSemaphore::Wait(uint32_t timeoutMs) {
    switch (posix::WaitForSemaphore(native_, timeoutMs)) {
        case posix::SemaphoreWait::Signaled:
            return WaitResult::Signaled;
        case posix::SemaphoreWait::TimedOut:
            return WaitResult::TimedOut;
        case posix::SemaphoreWait::Failed:
            break;
    }
    return WaitResult::Failed;
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
