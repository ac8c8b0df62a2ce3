// The headset's display geometry from its settings, and its pose from the link's head pose:
// the arithmetic of the headset, kept apart from the device so it can be checked on its own.
#pragma once

#include <cstdint>

#include "link/head_pose.h"
#include "link/tracking_math.h"
#include "openvr/openvr_driver.h"

namespace quillo {

struct DisplayGeometry {
    float renderScale = 1.0f;
    int32_t renderTargetWidth = 1280;
    int32_t renderTargetHeight = 1440;
    int32_t windowWidth = 2560;
    int32_t windowHeight = 1440;
};

constexpr int32_t kMinRenderTargetWidth = 500;
constexpr int32_t kMinRenderTargetHeight = 600;

// From the settings "windowWidth", "windowHeight" (both eyes side by side, pixels) and
// "renderScale" (percent): factor = percent / 100, never below 1; per-eye width = (width / 2
// in integers) x factor and height = height x factor, both in single precision, truncated,
// at least 500 x 600; the window is two render targets wide.
DisplayGeometry ComputeDisplayGeometry(int32_t windowWidthSetting, int32_t windowHeightSetting,
                                       int32_t renderScalePercent);

// Whole degrees to single-precision radians (x 0.017453292f).
float DegreesToRadians(int32_t degrees);

// The rotation offsets from the settings: `local` turns the head in its own frame (X then Z),
// `yaw` turns the world about the vertical axis.
struct RotationOffsets {
    Quaternion local;
    Quaternion yaw;
};
RotationOffsets ComputeRotationOffsets(int32_t xDegrees, int32_t yDegrees, int32_t zDegrees);

// The headset's DriverPose_t from one snapshot of the link's head pose. Before any head pose
// has arrived it rests at (0, 1.7, 0) looking ahead, offsets ignored; afterwards its rotation
// is yaw x (orientation x local) and its tracking result follows trackingStatus.
vr::DriverPose_t BuildHeadsetPose(const HeadPose& head, const RotationOffsets& offsets);

}  // namespace quillo
