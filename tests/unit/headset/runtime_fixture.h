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

// Sets an environment variable of this test process (an empty value means the default).
inline void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// Gives this test process pipe names of its own (the link reads QUILLO_PIPE_SUFFIX when its
// pipe channel starts). Returns the suffix.
inline const std::string& UseOwnPipeNames() {
    static const std::string suffix = "_h1test_" + std::to_string(platform::CurrentProcessId());
    SetEnvironment("QUILLO_PIPE_SUFFIX", suffix);
    return suffix;
}

// Quaternions of the product's own type and of the runtime's, term by term.
template <typename Q>
void ExpectQuaternion(const Q& q, double x, double y, double z, double w) {
    EXPECT_NEAR(q.x, x, 1e-6);
    EXPECT_NEAR(q.y, y, 1e-6);
    EXPECT_NEAR(q.z, z, 1e-6);
    EXPECT_NEAR(q.w, w, 1e-6);
}

class RuntimeFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        UseOwnPipeNames();
        ClearLogTarget();
    }
    void TearDown() override { ClearLogTarget(); }

    // A fresh runtime with `settingsJson`; `attach` connects it as the provider's Init does
    // (without, the provider's Init connects it).
    runtime::FakeRuntime& MakeRuntime(const char* settingsJson = kDefaultSettings,
                                      runtime::FakeRuntimeOptions options = {},
                                      bool attach = true) {
        fake = std::make_unique<runtime::FakeRuntime>(std::move(options));
        std::string error;
        EXPECT_TRUE(settingsJson == nullptr || fake->Settings().LoadJson(settingsJson, error))
            << error;
        if (attach) {
            InitServerDriverContext(fake->Context());
            ClearLogTarget();
            SetLogTargetIfUnset(&fake->Log());
        }
        return *fake;
    }

    std::vector<runtime::RuntimeEvent> Events(runtime::EventKind kind) const {
        return fake->EventsOfKind(kind);
    }
    std::vector<std::string> Logs() const { return fake->LogLines(); }
    bool Logged(const std::string& line) const {
        const std::vector<std::string> lines = Logs();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::unique_ptr<runtime::FakeRuntime> fake;
};

}  // namespace quillo::test
