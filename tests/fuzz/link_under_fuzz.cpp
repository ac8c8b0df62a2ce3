#include "fuzz/link_under_fuzz.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "devices/extra/controller_device.h"
#include "devices/headset/hmd_driver.h"
#include "link/controller_record.h"
#include "link/quillo_core.h"
#include "link/transmission_pipe.h"
#include "link/wire_format.h"
#include "platform/process.h"
#include "runtime/driver_calls.h"
#include "runtime/fake_interfaces.h"

namespace quillo::fuzz {

namespace {

// Rotation offsets with every term non-zero, so that the headset's products are exercised.
constexpr const char* kSettings = R"({
    "driver_quillo": {
        "windowWidth": 1000, "windowHeight": 600, "renderScale": 100, "hmdMode": 0,
        "fakeSensorEnabled": false,
        "RotationOffsetXDeg": 17, "RotationOffsetYDeg": -123, "RotationOffsetZDeg": 71
    }
})";

bool PoseFinite(const vr::DriverPose_t& pose) {
    const double values[] = {pose.qRotation.w,   pose.qRotation.x,    pose.qRotation.y,
                             pose.qRotation.z,   pose.vecPosition[0], pose.vecPosition[1],
                             pose.vecPosition[2]};
    return std::all_of(std::begin(values), std::end(values),
                       [](double v) { return std::isfinite(v); });
}

}  // namespace

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "link invariant broken: %s\n", what);
        std::abort();
    }
}

LinkUnderFuzz::LinkUnderFuzz()
    : runtime_([] {
          runtime::FakeRuntimeOptions options;
          options.activation = runtime::ActivationPolicy::Inline;
          options.recordPerFrameEvents = false;
          return options;
      }()) {
    // The headset's own pipe channel looks for a companion under names nobody else uses.
    const std::string suffix = "_fuzz_" + std::to_string(platform::CurrentProcessId());
    setenv("QUILLO_PIPE_SUFFIX", suffix.c_str(), 1);
    std::string error;
    Require(runtime_.Settings().LoadJson(kSettings, error), "settings load");
    provider_.SetCompanionCheck(+[] { return true; });
    Require(provider_.Init(runtime_.Context()) == vr::VRInitError_None, "provider starts");
    Require(provider_.hmd() != nullptr, "headset made");
    EndInput();
}

LinkUnderFuzz::~LinkUnderFuzz() {
    provider_.Cleanup();
}

void LinkUnderFuzz::Dispatch(uint32_t type, const uint8_t* payload, uint32_t length) {
    if (type == wire::kShutdownRuntimeMessage) return;
    HMDDriver* hmd = provider_.hmd();
    hmd->Core().Pipe().DispatchMessage(type, payload, length);
    ControllerRecord record;
    if (type == wire::kControllerMessage &&
        wire::DecodeControllerRecord(payload, length, record) == wire::WireError::kNone) {
        lastControllerId_ = record.controllerId;
    }
    // What the runtime's frame does: the headset publishes the pose it has now.
    provider_.RunFrame();
    CheckPublishedState();
}

void LinkUnderFuzz::CheckPublishedState() {
    HMDDriver* hmd = provider_.hmd();
    Require(PoseFinite(runtime::CallGetPose(*hmd)), "head pose finite");
    if (ControllerDevice* controller = provider_.controller(lastControllerId_)) {
        Require(PoseFinite(controller->CurrentPose()), "controller pose finite");
    }
    Require(provider_.controllerCount() <= ControllerAdmission::kMaxControllers,
            "controllers capped");
    const double interval = hmd->Core().frameIntervalMs();
    Require(std::isfinite(interval) && interval > 0.0, "frame interval finite and positive");
}

void LinkUnderFuzz::EndInput() {
    runtime_.ClearEvents();
}

}  // namespace quillo::fuzz
