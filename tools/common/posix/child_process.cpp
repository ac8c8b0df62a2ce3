// Child processes on POSIX: fork + execve, waitpid, SIGKILL.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <cstring>

#include "common/child_process.h"

extern char** environ;

namespace quillo::platform {

struct ChildProcess::Native {
    pid_t pid = -1;
};

namespace {

std::string ErrnoText(const char* what, const std::string& subject, int error) {
    return std::string(what) + " '" + subject + "': " + std::strerror(error);
}

bool NameMatches(const char* entry, const std::string& name) {
    return std::strncmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=';
}

bool SameName(const std::string& a, const std::string& b) {
    return a == b;
}

// A name given more than once in the options: only its last value is passed.
bool SetAgainLater(const ChildProcessOptions& options, size_t index) {
    const std::string& name = options.environment[index].first;
    for (size_t later = index + 1; later < options.environment.size(); ++later) {
        if (SameName(options.environment[later].first, name)) {
            return true;
        }
    }
    return false;
}

// The child's environment: the parent's, minus removed and replaced names, plus the options'.
std::vector<std::string> BuildEnvironment(const ChildProcessOptions& options) {
    std::vector<std::string> result;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        bool drop = false;
        for (const auto& name : options.unsetEnvironment) {
            drop = drop || NameMatches(*entry, name);
        }
        for (const auto& variable : options.environment) {
            drop = drop || NameMatches(*entry, variable.first);
        }
        if (!drop) {
            result.emplace_back(*entry);
        }
    }
    for (size_t i = 0; i < options.environment.size(); ++i) {
        if (!SetAgainLater(options, i)) {
            result.push_back(options.environment[i].first + "=" + options.environment[i].second);
        }
    }
    return result;
}

std::vector<char*> PointerArray(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (auto& text : strings) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

int OpenOutputFile(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// Writes all of `size` bytes; only async-signal-safe calls (used between fork and exec).
void WriteAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

void SleepMillis(long millis) {
    timespec delay{millis / 1000, (millis % 1000) * 1000000L};
    while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

}  // namespace

ChildProcess::ChildProcess() : native_(new Native) {}

ChildProcess::~ChildProcess() {
    Kill();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : native_(std::move(other.native_)),
      pid_(other.pid_),
      exited_(other.exited_),
      exitCode_(other.exitCode_) {
    other.Reset();
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        Kill();
        native_ = std::move(other.native_);
        pid_ = other.pid_;
        exited_ = other.exited_;
        exitCode_ = other.exitCode_;
        other.Reset();
    }
    return *this;
}

void ChildProcess::Reset() {
    if (native_) {
        native_->pid = -1;
    }
    pid_ = 0;
    exited_ = false;
    exitCode_ = -1;
}

bool ChildProcess::started() const {
    return native_ && native_->pid > 0;
}

bool ChildProcess::Start(const ChildProcessOptions& options, std::string* error) {
    std::string ignored;
    std::string& message = error != nullptr ? *error : ignored;
    Kill();
    if (!native_) {
        native_.reset(new Native);
    }
    Reset();

    // Everything the child needs is prepared before fork: after it only async-signal-safe
    // calls are allowed (the parent may have other threads).
    std::vector<std::string> argStrings;
    argStrings.push_back(options.program);
    argStrings.insert(argStrings.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv = PointerArray(argStrings);
    std::vector<std::string> envStrings = BuildEnvironment(options);
    std::vector<char*> envp = PointerArray(envStrings);

    int stdinFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int stdoutFd = -1;
    int stderrFd = -1;
    auto closeFiles = [&] {
        if (stdinFd >= 0) {
            ::close(stdinFd);
        }
        if (stdoutFd >= 0) {
            ::close(stdoutFd);
        }
        if (stderrFd >= 0 && stderrFd != stdoutFd) {
            ::close(stderrFd);
        }
    };
    if (!options.stdoutPath.empty()) {
        stdoutFd = OpenOutputFile(options.stdoutPath);
        if (stdoutFd < 0) {
            message = ErrnoText("cannot create", options.stdoutPath, errno);
            return false;
        }
    }
    if (!options.stderrPath.empty()) {
        stderrFd = options.stderrPath == options.stdoutPath ? stdoutFd
                                                            : OpenOutputFile(options.stderrPath);
        if (stderrFd < 0) {
            message = ErrnoText("cannot create", options.stderrPath, errno);
            closeFiles();
            return false;
        }
    }

    // The child reports a failed exec through this pipe; a successful exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        message = ErrnoText("cannot create a pipe for", options.program, errno);
        closeFiles();
        return false;
    }

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        message = ErrnoText("cannot fork for", options.program, errno);
        ::close(report[0]);
        ::close(report[1]);
        closeFiles();
        return false;
    }
    if (pid == 0) {
#if defined(__linux__)
        // Dies with the parent even when the parent is killed without running destructors.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
#else
        (void)parent;
#endif
        int failure = 0;
        if (stdinFd >= 0 && ::dup2(stdinFd, STDIN_FILENO) < 0) {
            failure = errno;
        }
        if (failure == 0 && stdoutFd >= 0 && ::dup2(stdoutFd, STDOUT_FILENO) < 0) {
            failure = errno;
        }
        if (failure == 0 && stderrFd >= 0 && ::dup2(stderrFd, STDERR_FILENO) < 0) {
            failure = errno;
        }
        if (failure == 0 && !options.workingDirectory.empty() &&
            ::chdir(options.workingDirectory.c_str()) != 0) {
            failure = errno;
        }
        if (failure == 0) {
            ::execve(argv[0], argv.data(), envp.data());
            failure = errno;
        }
        WriteAll(report[1], &failure, sizeof failure);
        ::_exit(127);
    }

    ::close(report[1]);
    closeFiles();
    int childError = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);

    native_->pid = pid;
    pid_ = static_cast<uint32_t>(pid);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        // The child could not become the program: reap it and report why.
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        Reset();
        message = ErrnoText("cannot start", options.program, childError);
        return false;
    }
    return true;
}

bool ChildProcess::IsRunning() {
    if (!started() || exited_) {
        return false;
    }
    int status = 0;
    pid_t result = ::waitpid(native_->pid, &status, WNOHANG);
    if (result == native_->pid) {
        exited_ = true;
        exitCode_ = DecodeStatus(status);
        return false;
    }
    if (result < 0 && errno == ECHILD) {
        // Reaped elsewhere (a SIGCHLD handler set to ignore): its exit code is lost.
        exited_ = true;
        return false;
    }
    return true;
}

bool ChildProcess::Wait(uint32_t timeoutMs) {
    if (!started()) {
        return false;
    }
    // waitpid has no time-out: poll, starting fast so short-lived children return quickly.
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    long pause = 1;
    while (IsRunning()) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t elapsedMs = static_cast<int64_t>(now.tv_sec - start.tv_sec) * 1000 +
                                  (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsedMs >= static_cast<int64_t>(timeoutMs)) {
            return false;
        }
        SleepMillis(pause);
        pause = pause < 16 ? pause * 2 : 16;
    }
    return true;
}

bool ChildProcess::Kill() {
    if (!started()) {
        return false;
    }
    if (!IsRunning()) {
        return true;
    }
    ::kill(native_->pid, SIGKILL);
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(native_->pid, &status, 0);
    } while (result < 0 && errno == EINTR);
    exited_ = true;
    exitCode_ = result == native_->pid ? DecodeStatus(status) : -1;
    return true;
}

}  // namespace quillo::platform
