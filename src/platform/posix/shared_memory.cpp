#include "platform/shared_memory.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace quillo::platform {

namespace {

// Mapping every page up front costs one call instead of a page fault per page on first touch:
// sections here (textures) are read or written whole right after they are mapped.
#if defined(MAP_POPULATE)
constexpr int kMapFlags = MAP_SHARED | MAP_POPULATE;
#else
constexpr int kMapFlags = MAP_SHARED;
#endif

void PosixName(const char* name, char (&out)[128]) {
    std::snprintf(out, sizeof out, "%s%s", name[0] == '/' ? "" : "/", name);
}

}  // namespace

SharedMemory::~SharedMemory() {
    Close();
}

SharedMemory::Result SharedMemory::Create(const char* name, size_t size, Mode mode) {
    Close();
    if (size == 0) return Result::Failed;
    PosixName(name, name_);
    int fd = shm_open(name_, O_RDWR | O_CREAT | O_EXCL, 0600);
    bool created = fd >= 0;
    if (fd < 0) {
        if (errno != EEXIST) return Result::Failed;
        if (mode == Mode::CreateNew) return Result::AlreadyExists;
        fd = shm_open(name_, O_RDWR, 0600);
        if (fd < 0) return Result::Failed;
    }
    struct stat info {};
    bool ok = true;
    if (created) {
        ok = ftruncate(fd, static_cast<off_t>(size)) == 0;  // new bytes read as zero
    } else {
        ok = fstat(fd, &info) == 0 && static_cast<size_t>(info.st_size) >= size;
    }
    void* data = ok ? mmap(nullptr, size, PROT_READ | PROT_WRITE, kMapFlags, fd, 0) : MAP_FAILED;
    if (data == MAP_FAILED) {
        close(fd);
        if (created) shm_unlink(name_);
        return Result::Failed;
    }
    data_ = data;
    size_ = size;
    native_ = fd;
    created_ = created;
    return Result::Ok;
}

bool SharedMemory::Open(const char* name) {
    Close();
    PosixName(name, name_);
    const int fd = shm_open(name_, O_RDWR, 0600);
    if (fd < 0) return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size <= 0) {
        close(fd);
        return false;
    }
    const size_t size = static_cast<size_t>(info.st_size);
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, kMapFlags, fd, 0);
    if (data == MAP_FAILED) {
        close(fd);
        return false;
    }
    data_ = data;
    size_ = size;
    native_ = fd;
    created_ = false;
    return true;
}

void SharedMemory::Close() {
    if (data_ != nullptr) munmap(data_, size_);
    if (native_ >= 0) close(static_cast<int>(native_));
    if (created_) shm_unlink(name_);
    data_ = nullptr;
    size_ = 0;
    native_ = -1;
    created_ = false;
}

}  // namespace quillo::platform
