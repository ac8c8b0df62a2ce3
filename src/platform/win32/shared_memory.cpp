#include "platform/shared_memory.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace quillo::platform {

SharedMemory::~SharedMemory() {
    Close();
}

SharedMemory::Result SharedMemory::Create(const char* name, size_t size, Mode mode) {
    Close();
    if (size == 0) return Result::Failed;
    std::snprintf(name_, sizeof name_, "%s", name);
    const uint64_t size64 = size;
    // Page-file backed, read/write; a new section reads as zeros.
    SetLastError(ERROR_SUCCESS);  // only ERROR_ALREADY_EXISTS is read afterwards
    HANDLE section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                           static_cast<DWORD>(size64 >> 32), static_cast<DWORD>(size64), name_);
    if (section == nullptr) return Result::Failed;
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (existed && mode == Mode::CreateNew) {
        CloseHandle(section);
        return Result::AlreadyExists;
    }
    void* data = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (data == nullptr) {
        CloseHandle(section);
        return Result::Failed;
    }
    data_ = data;
    size_ = size;
    native_ = reinterpret_cast<intptr_t>(section);
    created_ = !existed;
    return Result::Ok;
}

bool SharedMemory::Open(const char* name) {
    Close();
    std::snprintf(name_, sizeof name_, "%s", name);
    HANDLE section = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name_);
    if (section == nullptr) return false;
    void* data = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    MEMORY_BASIC_INFORMATION info{};
    if (data == nullptr || VirtualQuery(data, &info, sizeof info) == 0) {
        if (data != nullptr) UnmapViewOfFile(data);
        CloseHandle(section);
        return false;
    }
    data_ = data;
    size_ = info.RegionSize;
    native_ = reinterpret_cast<intptr_t>(section);
    created_ = false;
    return true;
}

// The section itself lives until the last handle to it, in any process, is closed.
void SharedMemory::Close() {
    if (data_ != nullptr) UnmapViewOfFile(data_);
    if (native_ != -1) CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(native_)));
    data_ = nullptr;
    size_ = 0;
    native_ = -1;
    created_ = false;
}

}  // namespace quillo::platform
