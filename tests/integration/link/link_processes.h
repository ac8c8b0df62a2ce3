// Process-level tests of the companion link: the real companion (Quillo.exe), quillo-host and
// the driver library, each test on pipe names of its own (QUILLO_PIPE_SUFFIX), so a companion
// running on the machine, or another test, is never reached.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/child_process.h"
#include "platform/process.h"
#include "support/program_paths.h"
#include "support/temp_dir.h"
#include "support/test_files.h"
#include "support/wait_until.h"
#include "test_paths.h"

namespace quillo::test {

// How many events named `name` the companion's JSON-lines log at `path` holds so far.
inline size_t CountEvents(const std::string& path, const std::string& name) {
    const std::string text = ReadWholeFile(path);
    size_t count = 0;
    // The last line may still be being written: only lines with their end count.
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const auto event = nlohmann::json::parse(text.substr(start, end - start), nullptr, false);
        count += event.is_object() && event.value("event", "") == name;
    }
    return count;
}

// A companion, a host and the files they write, all on this test's pipe names.
class LinkRun {
  public:
    explicit LinkRun(const std::string& label)
        : dir_("quillo-link"),
          suffix_("_it_" + label + "_" + std::to_string(platform::CurrentProcessId())) {}

    bool ok() const { return dir_.ok(); }
    std::string CompanionLog(int instance = 0) const {
        return dir_.File("companion" + std::to_string(instance) + ".jsonl");
    }
    std::string CompanionOutput(int instance = 0) const {
        return ReadWholeFile(dir_.File("companion" + std::to_string(instance) + ".txt"));
    }

    // Starts Quillo.exe with `arguments` (the log and a run-time limit are added) and waits
    // until its pipes exist.
    bool StartCompanion(platform::ChildProcess& child, std::vector<std::string> arguments,
                        int instance = 0) {
        // A companion left behind by a broken test ends anyway.
        arguments.insert(arguments.end(),
                         {"--log", NativePath(CompanionLog(instance)), "--seconds", "120"});
        if (!Start(child, QUILLO_TEST_PATH_QUILLO_COMPANION, arguments,
                   "companion" + std::to_string(instance) + ".txt")) {
            return false;
        }
        if (!WaitUntil([&] {
                return CountEvents(CompanionLog(instance), "listening") > 0 || !child.IsRunning();
            }) ||
            !child.IsRunning()) {
            ADD_FAILURE() << "the companion did not start listening:\n"
                          << CompanionOutput(instance);
            return false;
        }
        return true;
    }

    // Starts quillo-host on the driver with `arguments` before the driver path.
    bool StartHost(platform::ChildProcess& host, std::vector<std::string> arguments) {
        arguments.push_back(NativePath(QUILLO_TEST_PATH_DRIVER_QUILLO));
        return Start(host, QUILLO_TEST_PATH_QUILLO_HOST, arguments, "host.txt");
    }

    std::string HostOutput() const { return ReadWholeFile(dir_.File("host.txt")); }

  private:
    bool Start(platform::ChildProcess& child, const char* program,
               const std::vector<std::string>& arguments, const std::string& output) {
        platform::ChildProcessOptions options;
        options.program = NativePath(program);
        options.arguments = arguments;
        // The children's pipe names; on POSIX their sockets also go into this test's folder, so
        // a companion that is killed leaves no socket file behind. The link does not depend on
        // the GPU path; the software backend keeps start-up short (a Direct3D 11 device takes
        // about a second under Wine) and matches the companion.
        options.environment = {{"QUILLO_PIPE_SUFFIX", suffix_}, {"QUILLO_GPU_BACKEND", "software"}};
#if !defined(_WIN32)
        options.environment.push_back({"XDG_RUNTIME_DIR", dir_.path()});
#endif
        options.stdoutPath = options.stderrPath = dir_.File(output);
        std::string error;
        if (child.Start(options, &error)) return true;
        ADD_FAILURE() << "cannot start " << program << ": " << error;
        return false;
    }

    TempDir dir_;
    std::string suffix_;
};

}  // namespace quillo::test
