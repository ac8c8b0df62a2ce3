// Process list, identity and termination on Windows: Toolhelp snapshots, GetModuleFileNameA,
// TerminateProcess.
#include <windows.h>
// tlhelp32.h needs the types windows.h declares.
#include <tlhelp32.h>

#include <cstring>

#include "platform/process.h"

namespace quillo::platform {

namespace {

std::string ToUtf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return std::string();
    }
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    result.resize(static_cast<size_t>(size - 1));
    return result;
}

}  // namespace

bool ListProcesses(std::vector<ProcessEntry>& out) {
    out.clear();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    // The wide entry keeps names outside the ANSI code page intact; ASCII names such as
    // "Quillo.exe" compare the same either way.
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool ok = Process32FirstW(snapshot, &entry) != FALSE;
    while (ok) {
        ProcessEntry process;
        process.pid = entry.th32ProcessID;
        process.imageName = ToUtf8(entry.szExeFile);
        out.push_back(std::move(process));
        ok = Process32NextW(snapshot, &entry) != FALSE;
    }
    CloseHandle(snapshot);
    return !out.empty();
}

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(GetCurrentProcessId());
}

std::string CurrentExecutablePathWithin(size_t capacity) {
    std::string buffer(capacity, '\0');
    // Only 0 is a failure. A path that does not fit returns the buffer size with the path cut
    // (NUL-terminated from Vista on, not before), hence the search for the NUL.
    const DWORD length = GetModuleFileNameA(nullptr, &buffer[0], static_cast<DWORD>(capacity));
    if (length == 0) {
        return std::string();
    }
    buffer.resize(strnlen(buffer.c_str(), length));
    return buffer;
}

std::string CurrentExecutablePath() {
    return CurrentExecutablePathWithin(MAX_PATH);
}

bool TerminateProcessById(uint32_t pid) {
    // Only the right to terminate is asked for: it is granted in cases where full access
    // would be refused, and termination is all that is done with the handle.
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (process == nullptr) {
        return false;
    }
    BOOL ended = TerminateProcess(process, 0);
    CloseHandle(process);
    return ended != FALSE;
}

}  // namespace quillo::platform
