// Process-level driver tests: a stand-in named Quillo.exe that plays the running companion,
// and the checks around it. A machine may run a process of that name that is not ours; the
// tests that need it absent skip then.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/child_process.h"
#include "driver/companion_check.h"
#include "support/program_paths.h"
#include "support/wait_until.h"
#include "test_paths.h"

namespace quillo::test {

// Starts the stand-in companion and waits until the process list shows it.
inline bool StartStandinCompanion(platform::ChildProcess& child) {
    platform::ChildProcessOptions options;
    options.program = NativePath(QUILLO_TEST_PATH_STANDIN_QUILLO);
    options.arguments = {"600"};
    std::string error;
    if (!child.Start(options, &error)) {
        ADD_FAILURE() << "cannot start the stand-in: " << error;
        return false;
    }
    return WaitUntil([] { return IsCompanionRunning(); });
}

#define QUILLO_SKIP_IF_COMPANION_RUNS()                                                       \
    if (::quillo::IsCompanionRunning()) {                                                     \
        GTEST_SKIP() << "a process named Quillo.exe that this test did not start is running"; \
    }

}  // namespace quillo::test
