// The driver log, the cached host interfaces and the companion check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/driver_log.h"
#include "devices/host_interfaces.h"
#include "driver/companion_check.h"
#include "platform/process.h"
#include "runtime/fake_interfaces.h"
#include "runtime/fake_runtime.h"

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

// A driver context that answers only the versions it is given, and remembers what it was
// asked for, in order.
class ScriptedContext final : public vr::IVRDriverContext {
  public:
    explicit ScriptedContext(runtime::FakeRuntime& runtime) : runtime_(runtime) {}
    void* GetGenericInterface(const char* version, vr::EVRInitError* error) override {
        requested.emplace_back(version);
        if (version == refused) {
            if (error != nullptr) *error = vr::VRInitError_Init_InterfaceNotFound;
            return nullptr;
        }
        return runtime_.Context()->GetGenericInterface(version, error);
    }
    vr::DriverHandle_t GetDriverHandle() override { return 1; }

    std::string refused;
    std::vector<std::string> requested;

  private:
    runtime::FakeRuntime& runtime_;
};

TEST(HostInterfaces, FetchedInOrderCachedStoppedAtTheFirstMissingOneAndReplaced) {
    runtime::FakeRuntime fake;
    ScriptedContext context(fake);
    ASSERT_EQ(InitServerDriverContext(&context), vr::VRInitError_None);
    EXPECT_EQ(ServerDriverHost(), static_cast<vr::IVRServerDriverHost*>(&fake.Host()));
    EXPECT_EQ(Settings(), static_cast<vr::IVRSettings*>(&fake.Settings()));
    EXPECT_EQ(Properties(), static_cast<vr::IVRProperties*>(&fake.Properties()));
    EXPECT_EQ(DriverLogInterface(), static_cast<vr::IVRDriverLog*>(&fake.Log()));
    // In this order, and the accessors did not ask again.
    EXPECT_EQ(context.requested,
              (std::vector<std::string>{"IVRServerDriverHost_004", "IVRSettings_002",
                                        "IVRProperties_001", "IVRDriverLog_001"}));

    context.requested.clear();
    context.refused = "IVRSettings_002";
    EXPECT_EQ(InitServerDriverContext(&context), vr::VRInitError_Init_InterfaceNotFound);
    EXPECT_EQ(context.requested,
              (std::vector<std::string>{"IVRServerDriverHost_004", "IVRSettings_002"}));
    // An accessor fetches what Init did not get to.
    EXPECT_EQ(Properties(), static_cast<vr::IVRProperties*>(&fake.Properties()));
    EXPECT_EQ(Settings(), nullptr);

    runtime::FakeRuntime second;
    ASSERT_EQ(InitServerDriverContext(second.Context()), vr::VRInitError_None);
    EXPECT_EQ(ServerDriverHost(), static_cast<vr::IVRServerDriverHost*>(&second.Host()));
    EXPECT_EQ(Properties(), static_cast<vr::IVRProperties*>(&second.Properties()));
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
