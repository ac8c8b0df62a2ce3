// Which process the runtime-shutdown request ends, from a process list in snapshot order.
#include "link/shutdown_request.h"

#include <gtest/gtest.h>

#include <string>

namespace quillo::test {
namespace {

using platform::ProcessEntry;

TEST(FindMonitorProcess, LastExactMatchAfterTheFirstEntry) {
    uint32_t pid = 0;
    EXPECT_FALSE(FindMonitorProcess({}, pid));
    EXPECT_FALSE(FindMonitorProcess({{0, "[System Process]"}, {4, "System"}}, pid));

    // Two monitors: the later one in snapshot order.
    EXPECT_TRUE(FindMonitorProcess(
        {{0, "idle"}, {10, "vrmonitor.exe"}, {11, "vrserver.exe"}, {12, "vrmonitor.exe"}}, pid));
    EXPECT_EQ(12u, pid);

    // Case and suffix must match exactly.
    pid = 0;
    EXPECT_FALSE(FindMonitorProcess({{0, "idle"},
                                     {20, "VRMonitor.exe"},
                                     {21, "vrmonitor"},
                                     {22, "vrmonitor.exe "},
                                     {23, "xvrmonitor.exe"}},
                                    pid));
    EXPECT_EQ(0u, pid);
    EXPECT_TRUE(
        FindMonitorProcess({{0, "idle"}, {30, "vrmonitor.exe"}, {31, "VRMonitor.exe"}}, pid));
    EXPECT_EQ(30u, pid);
}

TEST(FindMonitorProcess, TheFirstEntryIsNeverCompared) {
    uint32_t pid = 0;
    EXPECT_FALSE(FindMonitorProcess({{5, "vrmonitor.exe"}}, pid));
    EXPECT_TRUE(FindMonitorProcess({{5, "vrmonitor.exe"}, {6, "vrmonitor.exe"}}, pid));
    EXPECT_EQ(6u, pid);
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
