// The companion's request to end the runtime's monitor, with real processes. (Restarts:
// companion_restart_soak_test.cpp; controllers, haptics and rates are covered in process by
// the unit tests of the controller, the link core and the headset.)
#include <gtest/gtest.h>

#include "integration/link/link_processes.h"

namespace quillo::test {
namespace {

TEST(LinkEndToEnd, TheShutdownRequestEndsTheMonitorAndNothingElse) {
    LinkRun run("shutdown");
    ASSERT_TRUE(run.ok());
    platform::ChildProcessOptions options;
    options.arguments = {"120"};
    platform::ChildProcess monitor, lookalike;
    std::string error;
    options.program = NativePath(QUILLO_TEST_PATH_STANDIN_VRMONITOR);
    ASSERT_TRUE(monitor.Start(options, &error)) << error;
    options.program = NativePath(QUILLO_TEST_PATH_STANDIN_VRMONITOR_UPPER);
    ASSERT_TRUE(lookalike.Start(options, &error)) << error;

    platform::ChildProcess companion;
    ASSERT_TRUE(run.StartCompanion(companion, {"--controllers", "0", "--at", "0.5:shutdown"}));
    platform::ChildProcess host;
    ASSERT_TRUE(run.StartHost(host, {"--seconds", "60", "--no-poses", "--quiet"}));
    const bool ended = monitor.Wait(kChildTimeoutMs);
    const bool lookalikeRuns = lookalike.IsRunning();
    const bool hostRuns = host.IsRunning();
    const bool companionRuns = companion.IsRunning();
    host.Kill();
    companion.Kill();
    lookalike.Kill();
    EXPECT_TRUE(ended) << run.CompanionOutput() << run.HostOutput();
    EXPECT_TRUE(lookalikeRuns) << "VRMonitor.exe must not be ended";
    EXPECT_TRUE(hostRuns) << "the host must not end itself";
    EXPECT_TRUE(companionRuns);
    EXPECT_EQ(CountEvents(run.CompanionLog(), "sent"), 2u)
        << "the refresh rate and the shutdown request";
}

}  // namespace
}  // namespace quillo::test
