// ChildProcess against a real child (child_probe): what the child receives, where its output
// goes, how it ends, and that no handle ever leaves it running.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "platform/named_semaphore.h"
#include "support/program_paths.h"
#include "support/temp_dir.h"
#include "support/test_files.h"
#include "support/wait_until.h"
#include "test_paths.h"

namespace quillo {
namespace {

using platform::ChildProcess;
using platform::ChildProcessOptions;

class ChildProcessTest : public ::testing::Test {
  protected:
    ChildProcessOptions Probe(std::vector<std::string> commands) {
        ChildProcessOptions options;
        options.program = test::NativePath(QUILLO_TEST_PATH_QUILLO_CHILD_PROBE);
        options.arguments = std::move(commands);
        options.stdoutPath = dir_.File("out.txt");
        options.stderrPath = dir_.File("err.txt");
        return options;
    }

    // Runs the probe to its end and returns its standard output.
    std::string RunProbe(const ChildProcessOptions& options, int expectedExit = 0) {
        ChildProcess child;
        std::string error;
        EXPECT_TRUE(child.Start(options, &error)) << error;
        EXPECT_TRUE(child.Wait(test::kChildTimeoutMs));
        EXPECT_EQ(child.exitCode(), expectedExit) << test::ReadTextFile(options.stderrPath);
        return test::ReadTextFile(options.stdoutPath);
    }

    test::TempDir dir_{"child-process"};
};

// Arguments must arrive byte for byte, including the cases the Windows command-line quoting
// gets wrong easily: spaces, quotes, backslashes before quotes and at the end, empty ones.
TEST_F(ChildProcessTest, ArgumentsArriveUnchanged) {
    ASSERT_TRUE(dir_.ok());
    const std::vector<std::string> tricky = {"plain",
                                             "two words",
                                             "",
                                             "quote\"inside",
                                             "back\\slash",
                                             "trailing\\",
                                             "two trailing\\\\",
                                             "\\\"escaped quote",
                                             "tab\there",
                                             "--flag=value with space"};
    std::vector<std::string> commands = {"args"};
    commands.insert(commands.end(), tricky.begin(), tricky.end());
    std::string expected;
    for (const auto& argument : tricky) {
        expected += "[" + argument + "]\n";
    }
    EXPECT_EQ(RunProbe(Probe(commands)), expected);
}

TEST_F(ChildProcessTest, ExitCodeIsPassedThrough) {
    ASSERT_TRUE(dir_.ok());
    EXPECT_EQ(RunProbe(Probe({"out", "before", "exit", "42", "out", "never"}), 42), "before\n");
}

TEST_F(ChildProcessTest, EnvironmentIsAddedReplacedAndRemoved) {
    ASSERT_TRUE(dir_.ok());
    ChildProcessOptions options = Probe({"env", "QUILLO_PROBE_A", "env", "QUILLO_PROBE_B", "env",
                                         "QUILLO_PROBE_GONE", "env", "PATH"});
    options.environment = {{"QUILLO_PROBE_A", "value with spaces"},
                           {"QUILLO_PROBE_B", "first"},
                           {"QUILLO_PROBE_B", "second"}};
    options.unsetEnvironment = {"QUILLO_PROBE_GONE", "PATH"};
    const std::string output = RunProbe(options);
    EXPECT_NE(output.find("QUILLO_PROBE_A=value with spaces\n"), std::string::npos) << output;
    EXPECT_NE(output.find("QUILLO_PROBE_GONE unset\n"), std::string::npos) << output;
    EXPECT_NE(output.find("PATH unset\n"), std::string::npos) << output;
    // A name given twice: the later value wins.
    EXPECT_NE(output.find("QUILLO_PROBE_B=second\n"), std::string::npos) << output;
}

TEST_F(ChildProcessTest, InheritsTheParentEnvironment) {
    ASSERT_TRUE(dir_.ok());
    // PATH is set for every test process on both systems (Wine sets it for Windows programs).
    const std::string output = RunProbe(Probe({"env", "PATH"}));
    EXPECT_EQ(output.rfind("PATH=", 0), 0u) << output;
}

TEST_F(ChildProcessTest, OutputStreamsGoToSeparateOrSharedFiles) {
    ASSERT_TRUE(dir_.ok());
    ChildProcessOptions separate = Probe({"out", "to-out", "err", "to-err", "out", "again"});
    EXPECT_EQ(RunProbe(separate), "to-out\nagain\n");
    EXPECT_EQ(test::ReadTextFile(separate.stderrPath), "to-err\n");

    ChildProcessOptions shared = Probe({"out", "one", "err", "two", "out", "three"});
    shared.stdoutPath = dir_.File("both.txt");
    shared.stderrPath = shared.stdoutPath;
    // The probe flushes after every command, so the order in the shared file is the order
    // of the commands.
    EXPECT_EQ(RunProbe(shared), "one\ntwo\nthree\n");
}

TEST_F(ChildProcessTest, StandardInputIsEmpty) {
    ASSERT_TRUE(dir_.ok());
    EXPECT_EQ(RunProbe(Probe({"stdin"})), "stdin:0\n");
}

TEST_F(ChildProcessTest, StartsInTheGivenWorkingFolder) {
    ASSERT_TRUE(dir_.ok());
    ChildProcessOptions options = Probe({"cwd"});
    options.workingDirectory = dir_.path();
    std::string output = RunProbe(options);
    ASSERT_FALSE(output.empty());
    output.pop_back();  // line break
    std::error_code error;
    EXPECT_TRUE(std::filesystem::equivalent(output, dir_.path(), error))
        << output << " vs " << dir_.path();
}

TEST_F(ChildProcessTest, WaitTimesOutOnARunningChildAndKillEndsIt) {
    ASSERT_TRUE(dir_.ok());
    ChildProcess child;
    ASSERT_TRUE(child.Start(Probe({"out", "up", "hang"})));
    ASSERT_TRUE(
        test::WaitUntil([&] { return test::ReadTextFile(dir_.File("out.txt")) == "up\n"; }));
    EXPECT_FALSE(child.Wait(50));
    EXPECT_TRUE(child.IsRunning());
    EXPECT_FALSE(child.exited());

    EXPECT_TRUE(child.Kill());
    EXPECT_TRUE(child.exited());
    EXPECT_FALSE(child.IsRunning());
    EXPECT_EQ(child.exitCode(), 137);
    EXPECT_TRUE(child.Wait(0));
    // Killing an ended child changes nothing.
    EXPECT_TRUE(child.Kill());
    EXPECT_EQ(child.exitCode(), 137);
}

TEST_F(ChildProcessTest, DestructorEndsARunningChild) {
    ASSERT_TRUE(dir_.ok());
    uint32_t pid = 0;
    {
        ChildProcess child;
        ASSERT_TRUE(child.Start(Probe({"hang"})));
        pid = child.pid();
        ASSERT_NE(pid, 0u);
        EXPECT_TRUE(platform::ProcessIsAlive(pid));
    }
    EXPECT_TRUE(test::WaitUntil([&] { return !platform::ProcessIsAlive(pid); }));
}

TEST_F(ChildProcessTest, MovingHandsOverTheChild) {
    ASSERT_TRUE(dir_.ok());
    ChildProcess first;
    ASSERT_TRUE(first.Start(Probe({"hang"})));
    const uint32_t pid = first.pid();

    ChildProcess second(std::move(first));
    EXPECT_FALSE(first.started());
    EXPECT_FALSE(first.Kill());
    EXPECT_TRUE(second.started());
    EXPECT_EQ(second.pid(), pid);
    EXPECT_TRUE(second.IsRunning());

    // Assigning over a handle with a running child ends that child first.
    ChildProcess third;
    ASSERT_TRUE(third.Start(Probe({"hang"})));
    const uint32_t replaced = third.pid();
    third = std::move(second);
    EXPECT_TRUE(test::WaitUntil([&] { return !platform::ProcessIsAlive(replaced); }));
    EXPECT_EQ(third.pid(), pid);
    EXPECT_TRUE(third.Kill());
}

TEST_F(ChildProcessTest, StartFailuresAreReportedNotThrown) {
    ASSERT_TRUE(dir_.ok());
    ChildProcess child;
    std::string error;
    ChildProcessOptions missing = Probe({});
    missing.program = test::NativePath(dir_.File("no-such-program"));
    EXPECT_FALSE(child.Start(missing, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(child.started());
    EXPECT_FALSE(child.Wait(0));

    error.clear();
    ChildProcessOptions unwritable = Probe({"out", "x"});
    unwritable.stdoutPath = dir_.File("missing-folder/out.txt");
    EXPECT_FALSE(child.Start(unwritable, &error));
    EXPECT_NE(error.find("missing-folder"), std::string::npos) << error;
    EXPECT_FALSE(child.started());

    // The same handle still starts a good program afterwards.
    EXPECT_TRUE(child.Start(Probe({"exit", "3"}), &error)) << error;
    EXPECT_TRUE(child.Wait(test::kChildTimeoutMs));
    EXPECT_EQ(child.exitCode(), 3);
}

}  // namespace
}  // namespace quillo
