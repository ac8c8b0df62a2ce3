// The real companion killed and started again many times, at varied moments, while
// quillo-host runs the driver: every new companion must be served (how fast is for the
// benchmarks: a loaded machine stretches it), the host must survive all of it, and (on Linux)
// its threads and descriptors must come back to where they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "integration/link/link_processes.h"

namespace quillo::test {
namespace {

constexpr int kRestarts = 50;

#ifndef _WIN32
// Entries of /proc/<pid>/<folder>: the process's threads ("task") or descriptors ("fd").
long CountEntries(uint32_t pid, const char* folder) {
    std::error_code error;
    long count = 0;
    for (auto it = std::filesystem::directory_iterator(
             "/proc/" + std::to_string(pid) + "/" + folder, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++count;
    }
    return error ? -1 : count;
}
#endif

// A fixed sequence of pseudo-random delays, so a failure can be replayed.
uint32_t NextDelayMs(uint32_t& state, uint32_t limit) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % limit;
}

TEST(CompanionRestartSoak, EveryRestartIsServedAndTheHostKeepsItsShape) {
    LinkRun run("soak");
    ASSERT_TRUE(run.ok());
    int instance = 0;
    const std::vector<std::string> companionArguments = {"--controllers", "1", "--rate", "75"};
    auto connected = [&](int which) { return CountEvents(run.CompanionLog(which), "connected"); };
    // Starts a companion; true once the driver has connected to it.
    auto startAndConnect = [&](platform::ChildProcess& companion) {
        const int which = instance++;
        return run.StartCompanion(companion, companionArguments, which) &&
               WaitUntil([&] { return connected(which); });
    };

    platform::ChildProcess host, first;
    ASSERT_TRUE(run.StartCompanion(first, companionArguments, instance++));
    ASSERT_TRUE(run.StartHost(host, {"--seconds", "600", "--no-poses", "--quiet", "--frames-mode",
                                     "virtual", "--haptic-every", "20", "500"}));
    ASSERT_TRUE(WaitUntil([&] { return connected(0); })) << run.HostOutput();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
#ifndef _WIN32
    // Baseline: connected, every thread of the link up.
    const long threadsBefore = CountEntries(host.pid(), "task");
    const long descriptorsBefore = CountEntries(host.pid(), "fd");
#endif
    first.Kill();

    uint32_t random = 12345;
    for (int restart = 0; restart < kRestarts; ++restart) {
        SCOPED_TRACE(restart);
        if (restart % 3 == 0) {
            // Killed at a moment of its own, possibly while the driver is between its two
            // opens: the next companion must still be served.
            platform::ChildProcess early;
            ASSERT_TRUE(run.StartCompanion(early, companionArguments, instance++));
            std::this_thread::sleep_for(std::chrono::milliseconds(NextDelayMs(random, 400)));
            early.Kill();
        }
        platform::ChildProcess companion;
        ASSERT_TRUE(startAndConnect(companion)) << "never reconnected\n" << run.HostOutput();
        std::this_thread::sleep_for(std::chrono::milliseconds(NextDelayMs(random, 300)));
        ASSERT_TRUE(companion.Kill());
        ASSERT_TRUE(host.IsRunning()) << "the host ended\n" << run.HostOutput();
    }
    platform::ChildProcess last;
    ASSERT_TRUE(startAndConnect(last)) << run.HostOutput();
#ifndef _WIN32
    // The threads and descriptors of every broken connection are gone again.
    long threads = -1, descriptors = -1;
    EXPECT_TRUE(WaitUntil([&] {
        threads = CountEntries(host.pid(), "task");
        descriptors = CountEntries(host.pid(), "fd");
        return threads == threadsBefore && descriptors == descriptorsBefore;
    })) << threads
        << " threads (" << threadsBefore << " before), " << descriptors << " descriptors ("
        << descriptorsBefore << " before)";
#endif
    EXPECT_TRUE(host.IsRunning()) << run.HostOutput();
    host.Kill();
    last.Kill();
}

}  // namespace
}  // namespace quillo::test
