// Loading a shared library by path and finding a symbol in it, as a runtime loads a driver.
#pragma once

#include <string>

namespace quillo::platform {

class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    // Unloads the library if one is still loaded.
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

    // Loads the library at `path` (LoadLibraryA / dlopen), unloading one loaded before.
    // On failure returns false and puts a readable reason into `error`.
    bool Load(const std::string& path, std::string& error);

    // Address of the exported symbol `name` (GetProcAddress / dlsym), or null with a
    // readable reason in `error`.
    void* FindSymbol(const char* name, std::string& error) const;

    // FreeLibrary / dlclose. Nothing happens when no library is loaded.
    void Unload();

    bool IsLoaded() const { return handle_ != nullptr; }

  private:
    void* handle_ = nullptr;
};

}  // namespace quillo::platform
