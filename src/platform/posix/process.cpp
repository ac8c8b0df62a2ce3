// Process list, identity and termination on POSIX: /proc/<pid>/comm, readlink of
// /proc/self/exe, SIGKILL.
#include <dirent.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/process.h"

namespace quillo::platform {

namespace {

bool ParsePid(const char* name, uint32_t& pid) {
    if (name[0] == '\0') {
        return false;
    }
    uint64_t value = 0;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(*c - '0');
        if (value > 0xFFFFFFFFull) {
            return false;
        }
    }
    pid = static_cast<uint32_t>(value);
    return true;
}

// The kernel's short name of the process (at most 15 characters, the image file name for a
// program started directly). False when the process ended while we looked.
bool ReadComm(uint32_t pid, std::string& name) {
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%u/comm", pid);
    FILE* file = std::fopen(path, "re");
    if (file == nullptr) {
        return false;
    }
    char buffer[256];
    size_t length = std::fread(buffer, 1, sizeof(buffer) - 1, file);
    std::fclose(file);
    while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\0')) {
        --length;
    }
    name.assign(buffer, length);
    return true;
}

}  // namespace

bool ListProcesses(std::vector<ProcessEntry>& out) {
    out.clear();
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    while (dirent* entry = readdir(proc)) {
        ProcessEntry process;
        if (!ParsePid(entry->d_name, process.pid)) {
            continue;
        }
        if (ReadComm(process.pid, process.imageName)) {
            out.push_back(std::move(process));
        }
    }
    closedir(proc);
    return !out.empty();
}

uint32_t CurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

std::string CurrentExecutablePathWithin(size_t capacity) {
    std::string buffer(capacity, '\0');
    // A link longer than the buffer is cut at its end (readlink fills it wholly); as on
    // Windows, only a failed call counts as unreadable.
    const ssize_t length = readlink("/proc/self/exe", &buffer[0], capacity);
    if (length <= 0) {
        return std::string();
    }
    buffer.resize(static_cast<size_t>(length));
    return buffer;
}

std::string CurrentExecutablePath() {
    return CurrentExecutablePathWithin(4096);
}

bool TerminateProcessById(uint32_t pid) {
    // pid 0 and values that do not fit pid_t would address process groups; never do that.
    if (pid == 0 || pid > 0x7FFFFFFFu) {
        return false;
    }
    return kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

}  // namespace quillo::platform
