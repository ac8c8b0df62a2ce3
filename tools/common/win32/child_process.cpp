// Child processes on Windows: CreateProcessA inside a kill-on-close job object.
#include <windows.h>

#include <cstring>
#include <mutex>

#include "common/child_process.h"

namespace quillo::platform {

struct ChildProcess::Native {
    HANDLE process = nullptr;
    HANDLE job = nullptr;
};

namespace {

std::string LastErrorText(const char* what, const std::string& subject) {
    const DWORD code = GetLastError();
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) {
        text[--length] = '\0';
    }
    return std::string(what) + " '" + subject + "': error " + std::to_string(code) +
           (length > 0 ? std::string(" (") + text + ")" : std::string());
}

// Quotes one argument so that the C runtime's parser gives it back unchanged: backslashes
// are literal except before a quote, where they must be doubled, and the quote escaped.
void AppendQuoted(std::string& commandLine, const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        commandLine += argument;
        return;
    }
    commandLine += '"';
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            commandLine.append(backslashes * 2 + 1, '\\');
        } else {
            commandLine.append(backslashes, '\\');
        }
        backslashes = 0;
        commandLine += c;
    }
    commandLine.append(backslashes * 2, '\\');
    commandLine += '"';
}

// Environment names are case-insensitive on Windows.
bool NameMatches(const char* entry, const std::string& name) {
    return _strnicmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=';
}

bool SameName(const std::string& a, const std::string& b) {
    return _stricmp(a.c_str(), b.c_str()) == 0;
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

// The child's environment block: the parent's, minus removed and replaced names, plus the
// options', each entry NUL-terminated and the block ended by one more NUL.
std::string BuildEnvironmentBlock(const ChildProcessOptions& options) {
    std::string block;
    char* strings = GetEnvironmentStringsA();
    if (strings != nullptr) {
        for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
            bool drop = false;
            for (const auto& name : options.unsetEnvironment) {
                drop = drop || NameMatches(entry, name);
            }
            for (const auto& variable : options.environment) {
                drop = drop || NameMatches(entry, variable.first);
            }
            if (!drop) {
                block.append(entry, std::strlen(entry) + 1);
            }
        }
        FreeEnvironmentStringsA(strings);
    }
    for (size_t i = 0; i < options.environment.size(); ++i) {
        if (!SetAgainLater(options, i)) {
            block += options.environment[i].first;
            block += '=';
            block += options.environment[i].second;
            block += '\0';
        }
    }
    if (block.empty()) {
        block += '\0';
    }
    block += '\0';
    return block;
}

HANDLE OpenInheritable(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE InheritableCopy(HANDLE source) {
    HANDLE copy = nullptr;
    if (source == nullptr || source == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

void CloseIfOpen(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    handle = nullptr;
}

// Inheritable handles exist from their creation until CreateProcess returns; two starts at
// once would hand each other's output files to the wrong child. One start at a time.
std::mutex& StartMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

ChildProcess::ChildProcess() : native_(new Native) {}

ChildProcess::~ChildProcess() {
    Kill();
    if (native_) {
        CloseIfOpen(native_->process);
        CloseIfOpen(native_->job);
    }
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
        Reset();
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
        CloseIfOpen(native_->process);
        // Closing the job ends whatever the child left running in it.
        CloseIfOpen(native_->job);
    }
    pid_ = 0;
    exited_ = false;
    exitCode_ = -1;
}

bool ChildProcess::started() const {
    return native_ && native_->process != nullptr;
}

bool ChildProcess::Start(const ChildProcessOptions& options, std::string* error) {
    std::string ignored;
    std::string& message = error != nullptr ? *error : ignored;
    Kill();
    if (!native_) {
        native_.reset(new Native);
    }
    Reset();

    std::string commandLine;
    AppendQuoted(commandLine, options.program);
    for (const auto& argument : options.arguments) {
        commandLine += ' ';
        AppendQuoted(commandLine, argument);
    }
    std::string environment = BuildEnvironmentBlock(options);

    std::lock_guard<std::mutex> lock(StartMutex());
    HANDLE input = OpenInheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE output = nullptr;
    HANDLE errors = nullptr;
    auto closeAll = [&] {
        CloseIfOpen(input);
        if (errors == output) {
            errors = nullptr;
        }
        CloseIfOpen(output);
        CloseIfOpen(errors);
    };
    if (!options.stdoutPath.empty()) {
        output = OpenInheritable(options.stdoutPath, GENERIC_WRITE, CREATE_ALWAYS);
        if (output == INVALID_HANDLE_VALUE) {
            output = nullptr;
            message = LastErrorText("cannot create", options.stdoutPath);
            closeAll();
            return false;
        }
    } else {
        output = InheritableCopy(GetStdHandle(STD_OUTPUT_HANDLE));
    }
    if (!options.stderrPath.empty() && options.stderrPath == options.stdoutPath) {
        errors = output;
    } else if (!options.stderrPath.empty()) {
        errors = OpenInheritable(options.stderrPath, GENERIC_WRITE, CREATE_ALWAYS);
        if (errors == INVALID_HANDLE_VALUE) {
            errors = nullptr;
            message = LastErrorText("cannot create", options.stderrPath);
            closeAll();
            return false;
        }
    } else {
        errors = InheritableCopy(GetStdHandle(STD_ERROR_HANDLE));
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input == INVALID_HANDLE_VALUE ? nullptr : input;
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION info{};
    // Suspended until it sits in the job, so nothing it starts can escape the job.
    const BOOL created = CreateProcessA(
        options.program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
        &environment[0],
        options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startup,
        &info);
    if (!created) {
        message = LastErrorText("cannot start", options.program);
        closeAll();
        return false;
    }
    closeAll();

    // Kill-on-close job: the child (and what it starts) ends with this process at the latest.
    // Where jobs are unavailable (nested jobs on old systems) the child runs without one.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                     sizeof limits) ||
            !AssignProcessToJobObject(job, info.hProcess)) {
            CloseHandle(job);
            job = nullptr;
        }
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    native_->process = info.hProcess;
    native_->job = job;
    pid_ = info.dwProcessId;
    return true;
}

bool ChildProcess::IsRunning() {
    if (!started() || exited_) {
        return false;
    }
    if (WaitForSingleObject(native_->process, 0) != WAIT_OBJECT_0) {
        return true;
    }
    DWORD code = 0;
    exitCode_ = GetExitCodeProcess(native_->process, &code) ? static_cast<int>(code) : -1;
    exited_ = true;
    return false;
}

bool ChildProcess::Wait(uint32_t timeoutMs) {
    if (!started()) {
        return false;
    }
    if (exited_) {
        return true;
    }
    if (WaitForSingleObject(native_->process, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    return !IsRunning();
}

bool ChildProcess::Kill() {
    if (!started()) {
        return false;
    }
    if (!IsRunning()) {
        return true;
    }
    const UINT killedCode = 137;  // as a POSIX shell reports SIGKILL
    if (native_->job == nullptr || !TerminateJobObject(native_->job, killedCode)) {
        TerminateProcess(native_->process, killedCode);
    }
    // Termination is asynchronous; a child that cannot be ended within this time is beyond
    // what a test can fix.
    WaitForSingleObject(native_->process, 30000);
    return !IsRunning();
}

}  // namespace quillo::platform
