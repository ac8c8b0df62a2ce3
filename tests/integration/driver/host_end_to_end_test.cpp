// quillo-host run as a program, as a user runs it: with and without the companion process,
// with settings, and with the mistakes a user makes.
#include <gtest/gtest.h>

#include "integration/driver/driver_process_fixture.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

namespace quillo::test {
namespace {

struct HostRun {
    int exitCode = -1;
    std::string output;  // stdout and stderr, interleaved
};

HostRun RunHost(const test::TempDir& dir, std::vector<std::string> arguments) {
    platform::ChildProcessOptions options;
    options.program = test::NativePath(QUILLO_TEST_PATH_QUILLO_HOST);
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
    if (!host.Wait(test::kChildTimeoutMs)) {
        ADD_FAILURE() << "quillo-host did not end";
        host.Kill();
    }
    run.exitCode = host.exitCode();
    run.output = test::ReadWholeFile(dir.File("host.txt"));
    return run;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const std::string Driver() {
    return test::NativePath(QUILLO_TEST_PATH_DRIVER_QUILLO);
}

TEST(HostEndToEnd, RunsTheDriverWithTheCompanionPresent) {
    test::TempDir dir("quillo-host");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(test::WriteWholeFile(dir.File("settings.json"),
                                     R"({"driver_quillo": {"windowWidth": 2000,
                                        "windowHeight": 1000, "renderScale": 100}})"));
    platform::ChildProcess companion;
    ASSERT_TRUE(test::StartStandinCompanion(companion));
    const HostRun run =
        RunHost(dir, {"--settings", test::NativePath(dir.File("settings.json")), "--frames", "20",
                      "--rate", "200", "--pose-every", "10", Driver()});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Has(run.output, "Init: VRInitError_None (0)")) << run.output;
    EXPECT_TRUE(Has(run.output, "device added: serial \"serialNumber\", class HMD, id 0"));
    EXPECT_TRUE(Has(run.output, "device added: serial \"0.1113\", class TrackingReference, id 1"));
    EXPECT_TRUE(Has(run.output, "log: driver_quillo: Window: -1 -1 2000 1000"));
    EXPECT_TRUE(Has(run.output, "property: device 0 Prop_SerialNumber_String = string \"0.8\""));
    EXPECT_TRUE(Has(run.output, "frame 10: pose 0: position (0.0000, 1.7000, 0.0000)"));
    EXPECT_TRUE(Has(run.output, "frame 10: pose 1: position (0.0000, 0.0000, 3.0000)"));
    EXPECT_TRUE(Has(run.output, "Cleanup done after 20 frames"));
    EXPECT_TRUE(Has(run.output, "device 0: serial \"serialNumber\", class HMD, active, 20 poses"));
    EXPECT_TRUE(Has(run.output, "driver unloaded"));
}

TEST(HostEndToEnd, ReportsWhyTheDriverDidNotStart) {
    QUILLO_SKIP_IF_COMPANION_RUNS();
    test::TempDir dir("quillo-host");
    ASSERT_TRUE(dir.ok());
    const HostRun run = RunHost(dir, {"--frames", "5", Driver()});
    EXPECT_EQ(run.exitCode, 6) << run.output;
    EXPECT_TRUE(Has(run.output, "log: Pelmont not active")) << run.output;
    EXPECT_TRUE(Has(run.output, "Init failed: VRInitError_Init_HmdNotFound (108)")) << run.output;
    EXPECT_FALSE(Has(run.output, "Cleanup done"));
}

TEST(HostEndToEnd, ClearErrorsForBadInput) {
    test::TempDir dir("quillo-host");
    ASSERT_TRUE(dir.ok());

    HostRun run = RunHost(dir, {test::NativePath(dir.File("missing.dll"))});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(Has(run.output, "cannot load driver library")) << run.output;

    // A library without the factory: the stand-in program is no driver.
    run = RunHost(dir, {"--frames", "1", test::NativePath(QUILLO_TEST_PATH_QUILLO_HOST)});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.exitCode == 3 || run.exitCode == 4) << run.output;

    ASSERT_TRUE(test::WriteWholeFile(dir.File("bad.json"), "{\"driver_quillo\": {\"hmdMode\": }"));
    run = RunHost(dir, {"--settings", test::NativePath(dir.File("bad.json")), Driver()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(Has(run.output, "line 1")) << run.output;

    run = RunHost(dir, {"--frames", "x", Driver()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(Has(run.output, "--frames")) << run.output;

    run = RunHost(dir, {"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Has(run.output, "Usage: quillo-host")) << run.output;
}

}  // namespace
}  // namespace quillo::test
