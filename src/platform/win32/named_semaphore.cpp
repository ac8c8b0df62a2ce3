#include "platform/named_semaphore.h"

#include <windows.h>

#include <cstdio>

namespace quillo::platform {

NamedSemaphore::~NamedSemaphore() {
    Close();
}

bool NamedSemaphore::Create(const char* name, bool exclusive, bool* alreadyExists) {
    Close();
    if (alreadyExists) *alreadyExists = false;
    std::snprintf(name_, sizeof name_, "%s", name);
    SetLastError(ERROR_SUCCESS);  // only ERROR_ALREADY_EXISTS is read afterwards
    HANDLE handle = CreateSemaphoreA(nullptr, 1, 1, name_);
    if (handle == nullptr) return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS && exclusive) {
        CloseHandle(handle);
        if (alreadyExists) *alreadyExists = true;
        return false;
    }
    native_ = handle;
    created_ = true;
    return true;
}

bool NamedSemaphore::Open(const char* name) {
    Close();
    std::snprintf(name_, sizeof name_, "%s", name);
    HANDLE handle = OpenSemaphoreA(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, name_);
    if (handle == nullptr) return false;
    native_ = handle;
    created_ = false;
    return true;
}

// The semaphore goes away with its last handle; there is no name to remove.
void NamedSemaphore::Close() {
    if (native_ == 0) return;
    CloseHandle(static_cast<HANDLE>(native_));
    native_ = 0;
    created_ = false;
}

NamedSemaphore::WaitResult NamedSemaphore::Wait(uint32_t timeoutMs) {
    if (native_ == 0) return WaitResult::Failed;
    switch (WaitForSingleObject(static_cast<HANDLE>(native_), timeoutMs)) {
        case WAIT_OBJECT_0:
            return WaitResult::Signaled;
        case WAIT_TIMEOUT:
            return WaitResult::TimedOut;
        default:
            return WaitResult::Failed;
    }
}

// With a maximum count of 1 a second post fails (ERROR_TOO_MANY_POSTS) and changes nothing.
bool NamedSemaphore::Post() {
    return native_ != 0 && ReleaseSemaphore(static_cast<HANDLE>(native_), 1, nullptr) != 0;
}

bool ProcessIsAlive(uint32_t pid) {
    if (pid == 0) return false;
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
}

}  // namespace quillo::platform
