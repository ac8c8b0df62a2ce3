// The companion link end to end, with real processes: controllers and their input events, and
// the companion's request to end the runtime's monitor. (Restarts: companion_restart_soak_test.)
#include <gtest/gtest.h>

#include "integration/link/link_processes.h"

namespace quillo::test {
namespace {

// Positions of `parts` in `text`, in order; the first missing one fails the test.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& parts) {
    size_t at = 0;
    for (const std::string& part : parts) {
        const size_t found = text.find(part, at);
        ASSERT_NE(found, std::string::npos) << "'" << part << "' missing or out of order in:\n"
                                            << text;
        at = found + part.size();
    }
}

TEST(LinkEndToEnd, ControllersAppearAndSendTheirInputInOrder) {
    LinkRun run("controllers");
    ASSERT_TRUE(run.ok());
    platform::ChildProcess companion;
    ASSERT_TRUE(run.StartCompanion(companion, {"--controllers", "2", "--no-tracking"}));
    // One scripted cycle lasts 4 s from the connection, however long that takes to come.
    platform::ChildProcess host;
    ASSERT_TRUE(run.StartHost(host, {"--seconds", "120", "--no-poses", "--quiet"}));
    WaitUntil([&] { return Has(run.HostOutput(), "ButtonUnpressed: device 3 button 1"); },
              std::chrono::milliseconds(kChildTimeoutMs));
    host.Kill();
    companion.Kill();
    const std::string output = run.HostOutput();
    ExpectInOrder(output, {"device added: serial \"QuilloControllerV02ID1\", class Controller",
                           "device added: serial \"QuilloControllerV02ID2\", class Controller"});
    // Controller 1 (left, device 2): trigger touched and pulled, released, let go.
    ExpectInOrder(output,
                  {"ButtonTouched: device 2 button 33", "ButtonPressed: device 2 button 33",
                   "ButtonUnpressed: device 2 button 33", "ButtonUntouched: device 2 button 33"});
    // Controller 2 (right, device 3): touchpad touched then left, grip, then menu.
    ExpectInOrder(output,
                  {"ButtonTouched: device 3 button 32", "ButtonUntouched: device 3 button 32",
                   "ButtonPressed: device 3 button 2", "ButtonUnpressed: device 3 button 2",
                   "ButtonPressed: device 3 button 1", "ButtonUnpressed: device 3 button 1"});
    EXPECT_TRUE(Has(output, "axis: device 2 axis 1 (1.0000, 0.0000)")) << output;
}

TEST(LinkEndToEnd, TheShutdownRequestEndsTheMonitorAndNothingElse) {
    LinkRun run("shutdown");
    ASSERT_TRUE(run.ok());
    platform::ChildProcessOptions monitorOptions;
    monitorOptions.program = NativePath(QUILLO_TEST_PATH_STANDIN_VRMONITOR);
    monitorOptions.arguments = {"120"};
    platform::ChildProcessOptions lookalikeOptions;
    lookalikeOptions.program = NativePath(QUILLO_TEST_PATH_STANDIN_VRMONITOR_UPPER);
    lookalikeOptions.arguments = {"120"};
    platform::ChildProcess monitor;
    platform::ChildProcess lookalike;
    std::string error;
    ASSERT_TRUE(monitor.Start(monitorOptions, &error)) << error;
    ASSERT_TRUE(lookalike.Start(lookalikeOptions, &error)) << error;

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
    EXPECT_EQ(CountEvents(ReadEventLog(run.CompanionLog()), "sent"), 2u)
        << "the refresh rate and the shutdown request";
}

}  // namespace
}  // namespace quillo::test
