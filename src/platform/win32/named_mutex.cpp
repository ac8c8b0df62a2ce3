#include "platform/named_mutex.h"

#include <windows.h>

#include <cstdio>

namespace quillo::platform {

NamedMutex::~NamedMutex() {
    Close();
}

bool NamedMutex::Create(const char* name) {
    Close();
    std::snprintf(name_, sizeof name_, "%s", name);
    // No security attributes, not owned; an existing mutex of that name is opened.
    SetLastError(ERROR_SUCCESS);  // only ERROR_ALREADY_EXISTS is read afterwards
    HANDLE handle = CreateMutexA(nullptr, FALSE, name_);
    if (handle == nullptr) return false;
    created_ = GetLastError() != ERROR_ALREADY_EXISTS;
    native_ = handle;
    return true;
}

bool NamedMutex::Open(const char* name) {
    Close();
    std::snprintf(name_, sizeof name_, "%s", name);
    HANDLE handle = OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name_);
    if (handle == nullptr) return false;
    native_ = handle;
    created_ = false;
    return true;
}

void NamedMutex::Close() {
    if (native_ == 0) return;
    CloseHandle(static_cast<HANDLE>(native_));
    native_ = 0;
    created_ = false;
}

bool NamedMutex::Lock(uint32_t timeoutMs) {
    if (native_ == 0) return false;
    const DWORD result = WaitForSingleObject(static_cast<HANDLE>(native_), timeoutMs);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void NamedMutex::Unlock() {
    if (native_ != 0) ReleaseMutex(static_cast<HANDLE>(native_));
}

}  // namespace quillo::platform
