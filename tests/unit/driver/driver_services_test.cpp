// The driver log and the companion check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/driver_log.h"
#include "driver/companion_check.h"
#include "platform/process.h"

namespace quillo::test {
namespace {

class RecordingLog final : public vr::IVRDriverLog {
  public:
    void Log(const char* message) override { lines.emplace_back(message); }
    std::vector<std::string> lines;
};

// The first target set gets the text unchanged until cleared; long messages are cut and keep
// their line end.
TEST(DriverLog, GoesToTheFirstTargetUntilClearedCutToTheLimit) {
    RecordingLog log, other;
    ClearLogTarget();
    WriteDriverLog("before %d\n", 1);
    SetLogTargetIfUnset(&log);
    SetLogTargetIfUnset(&other);
    WriteDriverLog("driver_quillo: IPD: %f\n", 0.065);
    WriteDriverLog("%s", "no line end");
    const std::string word(3000, 'a');
    WriteDriverLog("start %s\n", word.c_str());
    WriteDriverLog("%s", word.c_str());
    ClearLogTarget();
    WriteDriverLog("after %d\n", 3);
    EXPECT_TRUE(other.lines.empty());
    EXPECT_EQ(LogTarget(), nullptr);
    ASSERT_EQ(log.lines.size(), 4u);
    EXPECT_EQ(log.lines[0], "driver_quillo: IPD: 0.065000\n");
    EXPECT_EQ(log.lines[1], "no line end");
    EXPECT_EQ(log.lines[2], "start " + std::string(1023 - 7, 'a') + "\n");
    EXPECT_EQ(log.lines[3], std::string(1023, 'a'));
}

TEST(CompanionCheck, ImageNameMustMatchExactly) {
    const std::vector<platform::ProcessEntry> processes = {
        {1, "quillo.exe"}, {2, "Quillo.exe.bak"}, {3, "QUILLO.EXE"},
        {4, "Quillo"},     {5, "Quillo.exe"},     {6, "Quillo.exe"},
    };
    const platform::ProcessEntry* found = FindProcessByImageName(processes, kCompanionImageName);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->pid, 5u);
    EXPECT_EQ(FindProcessByImageName({processes.begin(), processes.begin() + 4}, "Quillo.exe"),
              nullptr);
}

}  // namespace
}  // namespace quillo::test
