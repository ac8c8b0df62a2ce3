// Shared libraries on Windows: LoadLibraryA, GetProcAddress, FreeLibrary.
#include <windows.h>

#include <cstdio>

#include "common/dynamic_library.h"

namespace quillo::platform {

namespace {

// "error <code>: <system text>" for the calling thread's last error.
std::string LastErrorText() {
    DWORD code = GetLastError();
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof(text), nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        text[--length] = '\0';
    }
    char prefix[32];
    std::snprintf(prefix, sizeof(prefix), "error %lu", static_cast<unsigned long>(code));
    return length > 0 ? std::string(prefix) + ": " + text : std::string(prefix);
}

}  // namespace

bool DynamicLibrary::Load(const std::string& path, std::string& error) {
    Unload();
    handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (handle_ == nullptr) {
        error = LastErrorText();
        return false;
    }
    return true;
}

void* DynamicLibrary::FindSymbol(const char* name, std::string& error) const {
    if (handle_ == nullptr) {
        error = "no library loaded";
        return nullptr;
    }
    FARPROC symbol = GetProcAddress(reinterpret_cast<HMODULE>(handle_), name);
    if (symbol == nullptr) {
        error = LastErrorText();
        return nullptr;
    }
    return reinterpret_cast<void*>(symbol);
}

void DynamicLibrary::Unload() {
    if (handle_ != nullptr) {
        FreeLibrary(reinterpret_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

}  // namespace quillo::platform
