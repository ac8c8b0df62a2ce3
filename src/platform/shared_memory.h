// Named shared-memory sections: a page-file-backed section (CreateFileMappingA +
// MapViewOfFile) on Windows, a POSIX shared-memory object (shm_open + mmap) elsewhere.
#pragma once

#include <cstddef>

namespace quillo::platform {

class SharedMemory {
  public:
    enum class Mode {
        CreateOrOpen,  // open the section if it exists, else create it
        CreateNew,     // fail (result AlreadyExists) if a section of that name exists
    };
    enum class Result { Ok, AlreadyExists, Failed };

    SharedMemory() = default;
    ~SharedMemory();  // Close()
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Creates (zero-filled) or opens the section `name` and maps `size` bytes of it read/write.
    // On POSIX a leading "/" is added to the name. Opening an existing section that is smaller
    // than `size` fails on POSIX (it is never grown from here).
    Result Create(const char* name, size_t size, Mode mode = Mode::CreateOrOpen);
    // Opens an existing section and maps all of it. Fails when there is none of that name.
    bool Open(const char* name);

    // Unmaps and closes. On POSIX the name is removed as well when this object created the
    // section, so that no new opener finds it once its creator is gone (openers that mapped
    // it keep their mapping). On Windows the section lives until its last handle is closed.
    void Close();

    bool mapped() const { return data_ != nullptr; }
    void* data() const { return data_; }
    // The mapped size: what Create was asked for, or what Open found (on Windows rounded up
    // to whole pages).
    size_t size() const { return size_; }

  private:
    void* data_ = nullptr;
    size_t size_ = 0;
    // Section handle (Windows) or file descriptor (POSIX), as a plain integer.
    long long native_ = -1;
    bool created_ = false;
    char name_[128] = {};
};

}  // namespace quillo::platform
