// Starting and supervising a child process: the tools and the process-level tests start
// programs (host, companion, stand-ins) with this and must never leave one running.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillo::platform {

struct ChildProcessOptions {
    // Path of the executable. No search along PATH: tests always know where it was built.
    std::string program;
    // Arguments after the program name; each reaches the child's argv unchanged (on Windows
    // they are quoted for the C runtime's command-line parser).
    std::vector<std::string> arguments;
    // Set (or replaced) in the child's environment; the rest is the parent's environment.
    std::vector<std::pair<std::string, std::string>> environment;
    // Names removed from the child's environment.
    std::vector<std::string> unsetEnvironment;
    // When not empty, the file (created or truncated) receives the child's output. Both may
    // name the same file: then both streams share one descriptor and interleave in order.
    std::string stdoutPath;
    std::string stderrPath;
    // When not empty, the child starts in this folder.
    std::string workingDirectory;
};

// One child process; its standard input is the null device. The destructor kills the child if it is
// still running and reaps it, so a failing test cannot leave it behind. The child is also tied to
// this process: on Linux it receives SIGKILL when the thread that started it ends, on Windows it
// sits in a job object that is closed (and so killed) when this process ends.
class ChildProcess {
  public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the program. Returns false when it cannot be started (missing program, output
    // file that cannot be created); `error` then says why. A handle that still holds a running
    // child kills it first.
    bool Start(const ChildProcessOptions& options, std::string* error = nullptr);

    // True between a successful Start and the moment the child is seen to have ended.
    bool IsRunning();
    // Waits up to `timeoutMs` for the child to end. True when it has ended (then exitCode()
    // is valid); false on time-out or when nothing was started.
    bool Wait(uint32_t timeoutMs);
    // Ends the child by force (TerminateJobObject / SIGKILL) and reaps it. True when the child
    // has ended afterwards (also when it had already ended on its own).
    bool Kill();

    bool started() const;
    bool exited() const { return exited_; }
    // The child's exit code once exited(). A POSIX child ended by a signal reports
    // 128 + the signal number, as shells do; a child ended by Kill() reports 137 everywhere.
    int exitCode() const { return exitCode_; }
    uint32_t pid() const { return pid_; }

  private:
    struct Native;  // process and job handles / pid, defined by each implementation
    void Reset();

    std::unique_ptr<Native> native_;
    uint32_t pid_ = 0;
    bool exited_ = false;
    int exitCode_ = -1;
};

}  // namespace quillo::platform
