// In-process driver tests: a fake runtime whose host interfaces the driver's process-wide
// host services are pointed at, as the provider's Init does, and pipe names of their own so
// that no companion (real or from another test) is reached.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "devices/driver_log.h"
#include "devices/host_interfaces.h"
#include "platform/process.h"
#include "runtime/fake_interfaces.h"
#include "runtime/fake_runtime.h"

namespace quillo::test {

// The settings a user sees by default.
constexpr const char* kDefaultSettings = R"({"driver_quillo": {"windowWidth": 2560,
    "windowHeight": 1440, "renderScale": 100, "hmdMode": 0, "fakeSensorEnabled": true,
    "RotationOffsetXDeg": 0, "RotationOffsetYDeg": 0, "RotationOffsetZDeg": 0}})";

// Sets, or with an empty value removes, an environment variable of this test process.
inline void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    if (value.empty()) {
        unsetenv(name);
    } else {
        setenv(name, value.c_str(), 1);
    }
#endif
}

// Gives this test process pipe names of its own (the link reads QUILLO_PIPE_SUFFIX when its
// pipe channel starts). Returns the suffix.
inline const std::string& UseOwnPipeNames() {
    static const std::string suffix = [] {
        std::string value = "_h1test_" + std::to_string(platform::CurrentProcessId());
        SetEnvironment("QUILLO_PIPE_SUFFIX", value);
        return value;
    }();
    return suffix;
}

// Makes the headsets created from now on use the software GPU backend (direct mode needs
// shared texture handles, which Wine's Direct3D 11 does not give), or the default one again.
inline void UseSoftwareGpu(bool software = true) {
    SetEnvironment("QUILLO_GPU_BACKEND", software ? "software" : "");
}

class RuntimeFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        UseOwnPipeNames();
        ClearLogTarget();
    }
    void TearDown() override { ClearLogTarget(); }

    // A fresh runtime with `settingsJson`, not yet connected to the driver (the provider's
    // Init connects it).
    runtime::FakeRuntime& MakeDetachedRuntime(const char* settingsJson = kDefaultSettings,
                                              runtime::FakeRuntimeOptions options = {}) {
        fake = std::make_unique<runtime::FakeRuntime>(std::move(options));
        if (settingsJson != nullptr) {
            std::string error;
            EXPECT_TRUE(fake->Settings().LoadJson(settingsJson, error)) << error;
        }
        return *fake;
    }

    // A fresh runtime with `settingsJson`, connected like Init connects the driver.
    runtime::FakeRuntime& MakeRuntime(const char* settingsJson = kDefaultSettings,
                                      runtime::FakeRuntimeOptions options = {}) {
        MakeDetachedRuntime(settingsJson, std::move(options));
        InitServerDriverContext(fake->Context());  // as the provider's Init does
        ClearLogTarget();
        SetLogTargetIfUnset(&fake->Log());
        return *fake;
    }

    std::vector<runtime::RuntimeEvent> Events(runtime::EventKind kind) const {
        return fake->EventsOfKind(kind);
    }
    std::vector<std::string> Logs() const { return fake->LogLines(); }
    bool Logged(const std::string& line) const {
        const std::vector<std::string> lines = fake->LogLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::unique_ptr<runtime::FakeRuntime> fake;
};

}  // namespace quillo::test
