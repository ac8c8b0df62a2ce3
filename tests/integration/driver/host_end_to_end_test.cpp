// quillo-host run as a program, as a user runs it: with and without the companion process,
// with settings, and with the mistakes a user makes.
#include <gtest/gtest.h>

#include <algorithm>

#include "integration/driver/driver_process_fixture.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

namespace quillo::test {
namespace {

struct HostRun {
    int exitCode = -1;
    std::string output;  // stdout and stderr, interleaved
};

HostRun RunHost(const TempDir& dir, std::vector<std::string> arguments) {
    platform::ChildProcessOptions options;
    options.program = NativePath(QUILLO_TEST_PATH_QUILLO_HOST);
    options.arguments = std::move(arguments);
    options.stdoutPath = dir.File("host.txt");
    options.stderrPath = dir.File("host.txt");
    platform::ChildProcess host;
    HostRun run;
    std::string error;
    if (!host.Start(options, &error)) {
        ADD_FAILURE() << "cannot start quillo-host: " << error;
        return run;
    }
    if (!host.Wait(kChildTimeoutMs)) {
        ADD_FAILURE() << "quillo-host did not end";
        host.Kill();
    }
    run.exitCode = host.exitCode();
    run.output = ReadWholeFile(dir.File("host.txt"));
    return run;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const std::string Driver() {
    return NativePath(QUILLO_TEST_PATH_DRIVER_QUILLO);
}

TEST(HostEndToEnd, RunsTheDriverWithTheCompanionPresent) {
    TempDir dir("quillo-host");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(WriteWholeFile(dir.File("settings.json"),
                               R"({"driver_quillo": {"windowWidth": 2000,
                                        "windowHeight": 1000, "renderScale": 100}})"));
    platform::ChildProcess companion;
    ASSERT_TRUE(StartStandinCompanion(companion));
    const HostRun run =
        RunHost(dir, {"--settings", NativePath(dir.File("settings.json")), "--frames", "20",
                      "--rate", "200", "--pose-every", "10", Driver()});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Has(run.output, "Init: VRInitError_None (0)")) << run.output;
    EXPECT_TRUE(Has(run.output, "device added: serial \"serialNumber\", class HMD, id 0"));
    EXPECT_TRUE(Has(run.output, "device added: serial \"0.1113\", class TrackingReference, id 1"));
    EXPECT_TRUE(Has(run.output, "log: driver_quillo: Window: -1 -1 2000 1000"));
    EXPECT_TRUE(Has(run.output, "frame 10: pose 0: position (0.0000, 1.7000, 0.0000)"));
    EXPECT_TRUE(Has(run.output, "frame 10: pose 1: position (0.0000, 0.0000, 3.0000)"));
    EXPECT_TRUE(Has(run.output, "Cleanup done after 20 frames"));
    EXPECT_TRUE(Has(run.output, "device 0: serial \"serialNumber\", class HMD, active, 20 poses"));
    EXPECT_TRUE(Has(run.output, "driver unloaded"));
}

// Only a process named like the companion in another letter case runs: the real process list
// is read, and the name must match exactly.
TEST(HostEndToEnd, ReportsWhyTheDriverDidNotStart) {
    QUILLO_SKIP_IF_COMPANION_RUNS();
    platform::ChildProcess lookalike;
    platform::ChildProcessOptions options;
    options.program = NativePath(QUILLO_TEST_PATH_STANDIN_QUILLO_LOWER);
    options.arguments = {"600"};
    std::string error;
    ASSERT_TRUE(lookalike.Start(options, &error)) << error;
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<platform::ProcessEntry> processes;
        return platform::ListProcesses(processes) &&
               FindProcessByImageName(processes, "quillo.exe") != nullptr;
    }));
    TempDir dir("quillo-host");
    ASSERT_TRUE(dir.ok());
    const HostRun run = RunHost(dir, {"--frames", "5", Driver()});
    EXPECT_EQ(run.exitCode, 6) << run.output;
    EXPECT_TRUE(Has(run.output, "log: Pelmont not active")) << run.output;
    EXPECT_TRUE(Has(run.output, "Init failed: VRInitError_Init_HmdNotFound (108)")) << run.output;
    EXPECT_FALSE(Has(run.output, "Cleanup done"));
}

TEST(HostEndToEnd, ClearErrorsForBadInput) {
    TempDir dir("quillo-host");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(WriteWholeFile(dir.File("bad.json"), "{\"driver_quillo\": {\"hmdMode\": }"));
    const struct {
        std::vector<std::string> arguments;
        std::vector<int> exitCodes;  // any of them
        const char* says;
    } cases[] = {
        {{NativePath(dir.File("missing.dll"))}, {3}, "cannot load driver library"},
        // The host program is no driver: not loadable (3) or without the factory (4).
        {{"--frames", "1", NativePath(QUILLO_TEST_PATH_QUILLO_HOST)}, {3, 4}, ""},
        {{"--settings", NativePath(dir.File("bad.json")), Driver()}, {2}, "line 1"},
        {{"--frames", "x", Driver()}, {2}, "--frames"},
        {{"--help"}, {0}, "Usage: quillo-host"},
    };
    for (const auto& c : cases) {
        const HostRun run = RunHost(dir, c.arguments);
        EXPECT_NE(std::count(c.exitCodes.begin(), c.exitCodes.end(), run.exitCode), 0)
            << run.exitCode << ": " << run.output;
        EXPECT_TRUE(Has(run.output, c.says)) << run.output;
    }
}

}  // namespace
}  // namespace quillo::test
