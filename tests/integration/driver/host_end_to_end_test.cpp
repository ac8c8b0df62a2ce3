// quillo-host run as a program, as a user runs it: the driver library loaded, started with a
// stand-in named Quillo.exe in the real process list, run for some frames and unloaded.
#include <gtest/gtest.h>

#include <string>

#include "common/child_process.h"
#include "driver/companion_check.h"
#include "support/program_paths.h"
#include "support/temp_dir.h"
#include "support/test_files.h"
#include "support/wait_until.h"
#include "test_paths.h"

namespace quillo::test {
namespace {

TEST(HostEndToEnd, RunsTheDriverWithTheCompanionPresent) {
    TempDir dir("quillo-host");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(WriteWholeFile(dir.File("settings.json"),
                               R"({"driver_quillo": {"windowWidth": 2000,
                                        "windowHeight": 1000, "renderScale": 100}})"));
    platform::ChildProcessOptions options;
    options.program = NativePath(QUILLO_TEST_PATH_STANDIN_QUILLO);
    options.arguments = {"600"};
    platform::ChildProcess companion, host;
    std::string error;
    ASSERT_TRUE(companion.Start(options, &error)) << error;
    ASSERT_TRUE(WaitUntil([] { return IsCompanionRunning(); }));
    options.program = NativePath(QUILLO_TEST_PATH_QUILLO_HOST);
    options.arguments = {"--settings",
                         NativePath(dir.File("settings.json")),
                         "--frames",
                         "20",
                         "--rate",
                         "200",
                         "--pose-every",
                         "10",
                         NativePath(QUILLO_TEST_PATH_DRIVER_QUILLO)};
    options.stdoutPath = options.stderrPath = dir.File("host.txt");
    ASSERT_TRUE(host.Start(options, &error)) << error;
    ASSERT_TRUE(host.Wait(kChildTimeoutMs)) << "quillo-host did not end";
    const std::string output = ReadWholeFile(dir.File("host.txt"));
    EXPECT_EQ(host.exitCode(), 0) << output;
    for (const char* line :
         {"Init: VRInitError_None (0)", "device added: serial \"serialNumber\", class HMD, id 0",
          "device added: serial \"0.1113\", class TrackingReference, id 1",
          "log: driver_quillo: Window: -1 -1 2000 1000",
          "frame 10: pose 0: position (0.0000, 1.7000, 0.0000)",
          "frame 10: pose 1: position (0.0000, 0.0000, 3.0000)", "Cleanup done after 20 frames",
          "device 0: serial \"serialNumber\", class HMD, active, 20 poses", "driver unloaded"}) {
        EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
    }
}

}  // namespace
}  // namespace quillo::test
