// Which process the runtime-shutdown request ends, from a process list in snapshot order.
#include "link/shutdown_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillo::test {
namespace {

using platform::ProcessEntry;

// The last exact match after the first entry (the system's own, never compared); 0: none.
TEST(FindMonitorProcess, LastExactMatchAfterTheFirstEntry) {
    const struct {
        std::vector<ProcessEntry> processes;
        uint32_t expected;
    } cases[] = {
        {{}, 0},
        {{{0, "[System Process]"}, {4, "System"}}, 0},
        {{{0, "idle"}, {10, "vrmonitor.exe"}, {11, "vrserver.exe"}, {12, "vrmonitor.exe"}}, 12},
        {{{0, "idle"},
          {20, "VRMonitor.exe"},
          {21, "vrmonitor"},
          {22, "vrmonitor.exe "},
          {23, "xvrmonitor.exe"}},
         0},
        {{{0, "idle"}, {30, "vrmonitor.exe"}, {31, "VRMonitor.exe"}}, 30},
        {{{5, "vrmonitor.exe"}}, 0},
        {{{5, "vrmonitor.exe"}, {6, "vrmonitor.exe"}}, 6},
    };
    for (const auto& c : cases) {
        uint32_t pid = 0;
        EXPECT_EQ(FindMonitorProcess(c.processes, pid), c.expected != 0) << c.expected;
        EXPECT_EQ(pid, c.expected);
    }
}

// The request reads the host's path first and gives up only when that fails. A path that does
// not fit the buffer fills it (the call returns exactly the buffer size): still a path read.
TEST(HostPath, APathCutAtTheBufferEndIsStillRead) {
    const std::string full = platform::CurrentExecutablePath();
    ASSERT_GT(full.size(), 8u);
    for (size_t capacity : {size_t{8}, full.size()}) {
        const std::string cut = platform::CurrentExecutablePathWithin(capacity);
        ASSERT_FALSE(cut.empty()) << capacity;
        // Windows since Vista keeps the last character for the NUL; POSIX fills every byte.
        EXPECT_GE(cut.size(), capacity - 1) << capacity;
        EXPECT_LE(cut.size(), capacity) << capacity;
        EXPECT_EQ(full.substr(0, cut.size()), cut) << capacity;
    }
    EXPECT_EQ(full, platform::CurrentExecutablePathWithin(full.size() + 1));
}

}  // namespace
}  // namespace quillo::test
