// Process list, process identity and termination.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo::platform {

struct ProcessEntry {
    uint32_t pid = 0;
    // Executable image name as the system lists it: Toolhelp's szExeFile on Windows,
    // /proc/<pid>/comm on POSIX. Compared exactly (case-sensitive) by callers.
    std::string imageName;
};

// Fills `out` with the running processes in snapshot order. Returns false when the
// snapshot cannot be taken or walked (then `out` is empty).
bool ListProcesses(std::vector<ProcessEntry>& out);

uint32_t CurrentProcessId();

// Full path of the running executable, or an empty string when it cannot be read. A path
// longer than the system call's buffer (260 characters on Windows) comes back cut at the
// buffer's end: it was read, so it is not a failure.
std::string CurrentExecutablePath();
// The same with a buffer of `capacity` characters (at least 1).
std::string CurrentExecutablePathWithin(size_t capacity);

// Ends the process by force (TerminateProcess with exit code 0 / SIGKILL). Returns false when
// it cannot be opened or ended.
bool TerminateProcessById(uint32_t pid);

}  // namespace quillo::platform
