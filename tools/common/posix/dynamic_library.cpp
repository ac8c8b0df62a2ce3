// Shared libraries on POSIX: dlopen, dlsym, dlclose.
#include <dlfcn.h>

#include "common/dynamic_library.h"

namespace quillo::platform {

namespace {

std::string LastDlError(const char* fallback) {
    const char* text = dlerror();
    return text != nullptr ? std::string(text) : std::string(fallback);
}

}  // namespace

bool DynamicLibrary::Load(const std::string& path, std::string& error) {
    Unload();
    dlerror();
    // RTLD_LOCAL keeps the library's symbols to itself, as a runtime loading several
    // drivers would; RTLD_NOW reports a missing dependency here rather than at first call.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error = LastDlError("dlopen failed");
        return false;
    }
    return true;
}

void* DynamicLibrary::FindSymbol(const char* name, std::string& error) const {
    if (handle_ == nullptr) {
        error = "no library loaded";
        return nullptr;
    }
    dlerror();
    void* symbol = dlsym(handle_, name);
    if (symbol == nullptr) {
        error = LastDlError("symbol not found");
    }
    return symbol;
}

void DynamicLibrary::Unload() {
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

}  // namespace quillo::platform
