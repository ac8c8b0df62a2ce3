// The built driver library loaded the way the runtime loads it, driven by the fake runtime in
// this process: Init declines when only a process named like the companion in another letter
// case runs (the real process list, not a stand-in for it). (The factory,
// activation, frames and Cleanup through the vtables are in tests/c_abi.)
#include <gtest/gtest.h>

#include <memory>

#include "common/dynamic_library.h"
#include "integration/driver/driver_process_fixture.h"
#include "runtime/driver_calls.h"
#include "runtime/fake_interfaces.h"
#include "runtime/fake_runtime.h"

namespace quillo::test {
namespace {

using HmdDriverFactoryFn = void* (*)(const char*, int*);

class DriverLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(library.Load(test::NativePath(QUILLO_TEST_PATH_DRIVER_QUILLO), error)) << error;
        factory =
            reinterpret_cast<HmdDriverFactoryFn>(library.FindSymbol("HmdDriverFactory", error));
        ASSERT_NE(factory, nullptr) << error;
    }
    void TearDown() override {
        if (provider != nullptr && initialised) {
            provider->Cleanup();
        }
        library.Unload();
    }

    vr::EVRInitError Init(const char* settings) {
        std::string error;
        EXPECT_TRUE(fake.Settings().LoadJson(settings, error)) << error;
        provider = static_cast<vr::IServerTrackedDeviceProvider*>(
            factory(vr::IServerTrackedDeviceProvider_Version, nullptr));
        EXPECT_NE(provider, nullptr);
        if (provider == nullptr) return vr::VRInitError_Unknown;
        const vr::EVRInitError result = provider->Init(fake.Context());
        initialised = result == vr::VRInitError_None;
        return result;
    }

    platform::DynamicLibrary library;
    HmdDriverFactoryFn factory = nullptr;
    runtime::FakeRuntime fake;
    vr::IServerTrackedDeviceProvider* provider = nullptr;
    bool initialised = false;
};

constexpr const char* kDefaults = R"({"driver_quillo": {"windowWidth": 2560,
    "windowHeight": 1440, "renderScale": 100, "hmdMode": 0, "fakeSensorEnabled": true}})";

TEST_F(DriverLibraryTest, CompanionNameInOtherLetterCaseDoesNotCount) {
    QUILLO_SKIP_IF_COMPANION_RUNS();
    platform::ChildProcess lookalike;
    platform::ChildProcessOptions options;
    options.program = test::NativePath(QUILLO_TEST_PATH_STANDIN_QUILLO_LOWER);
    options.arguments = {"600"};
    std::string error;
    ASSERT_TRUE(lookalike.Start(options, &error)) << error;
    // Wait until the process list shows it under its own name.
    ASSERT_TRUE(test::WaitUntil([&] {
        std::vector<platform::ProcessEntry> processes;
        return platform::ListProcesses(processes) &&
               FindProcessByImageName(processes, "quillo.exe") != nullptr;
    }));
    EXPECT_EQ(Init(kDefaults), vr::VRInitError_Init_HmdNotFound);
    EXPECT_EQ(fake.LogLines(), std::vector<std::string>{"Pelmont not active\n"});
}

}  // namespace
}  // namespace quillo::test
