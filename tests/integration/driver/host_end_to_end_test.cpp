// quillo-host run as a program, as a user runs it: the driver library loaded, started with a
// stand-in named Quillo.exe in the real process list, run for some frames and unloaded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/child_process.h"
#include "driver/companion_check.h"
#include "support/program_paths.h"
#include "support/temp_dir.h"
#include "support/test_files.h"
#include "support/wait_until.h"
#include "test_paths.h"

namespace quillo::test {
namespace {

// Starts the stand-in companion and waits until the process list shows it.
bool StartStandinCompanion(platform::ChildProcess& child) {
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

}  // namespace
}  // namespace quillo::test
