#include "devices/headset/headset_geometry.h"

#include <cstdint>
#include <limits>

#include "devices/tracking_status.h"

namespace quillo {

namespace {

// Truncates toward zero, kept within [minimum, maximum]. Huge settings would otherwise make
// the float-to-int conversion undefined; the upper bound keeps twice the width in range.
int32_t TruncateWithin(float value, int32_t minimum, int32_t maximum) {
    if (!(value >= static_cast<float>(minimum))) {
        return minimum;
    }
    if (value >= static_cast<float>(maximum)) {
        return maximum;
    }
    int32_t truncated = static_cast<int32_t>(value);
    return truncated < minimum ? minimum : truncated;
}

constexpr int32_t kMaxHalfWidth = std::numeric_limits<int32_t>::max() / 2 - 64;
constexpr int32_t kMaxHeight = std::numeric_limits<int32_t>::max() - 128;

}  // namespace

DisplayGeometry ComputeDisplayGeometry(int32_t windowWidthSetting, int32_t windowHeightSetting,
                                       int32_t renderScalePercent) {
    DisplayGeometry geometry;
    geometry.renderScale = static_cast<float>(renderScalePercent / 100.0);
    if (geometry.renderScale < 1.0f) {
        geometry.renderScale = 1.0f;
    }
    const int32_t halfWidth = windowWidthSetting / 2;
    geometry.renderTargetWidth = TruncateWithin(
        static_cast<float>(halfWidth) * geometry.renderScale, kMinRenderTargetWidth, kMaxHalfWidth);
    geometry.renderTargetHeight =
        TruncateWithin(static_cast<float>(windowHeightSetting) * geometry.renderScale,
                       kMinRenderTargetHeight, kMaxHeight);
    geometry.windowWidth = 2 * geometry.renderTargetWidth;
    geometry.windowHeight = geometry.renderTargetHeight;
    return geometry;
}

float DegreesToRadians(int32_t degrees) {
    return static_cast<float>(degrees) * 0.017453292f;
}

RotationOffsets ComputeRotationOffsets(int32_t xDegrees, int32_t yDegrees, int32_t zDegrees) {
    RotationOffsets offsets;
    offsets.local = EulerToQuaternion(DegreesToRadians(xDegrees), 0.0f, DegreesToRadians(zDegrees));
    offsets.yaw = EulerToQuaternion(0.0f, DegreesToRadians(yDegrees), 0.0f);
    return offsets;
}

vr::DriverPose_t BuildHeadsetPose(const HeadPose& head, const RotationOffsets& offsets) {
    vr::DriverPose_t pose{};
    pose.poseTimeOffset = 0.0;
    pose.qWorldFromDriverRotation = {1.0, 0.0, 0.0, 0.0};
    pose.qDriverFromHeadRotation = {1.0, 0.0, 0.0, 0.0};
    pose.result = vr::TrackingResult_Running_OK;
    pose.poseIsValid = true;
    pose.willDriftInYaw = true;
    pose.shouldApplyHeadModel = false;
    pose.deviceIsConnected = true;

    if (!head.poseReceived) {
        pose.qRotation = {1.0, 0.0, 0.0, 0.0};
        pose.vecPosition[0] = 0.0;
        pose.vecPosition[1] = static_cast<double>(1.7f);
        pose.vecPosition[2] = 0.0;
        return pose;
    }

    Quaternion orientation;
    orientation.x = head.orientation[0];
    orientation.y = head.orientation[1];
    orientation.z = head.orientation[2];
    orientation.w = head.orientation[3];
    // The X/Z offset turns the head in its own frame, the yaw offset turns the world.
    const Quaternion headFrame = HamiltonProduct(orientation, offsets.local);
    const Quaternion rotation = HamiltonProduct(offsets.yaw, headFrame);
    pose.qRotation.w = static_cast<double>(rotation.w);
    pose.qRotation.x = static_cast<double>(rotation.x);
    pose.qRotation.y = static_cast<double>(rotation.y);
    pose.qRotation.z = static_cast<double>(rotation.z);

    pose.vecPosition[0] = static_cast<double>(head.position[0]);
    pose.vecPosition[1] = static_cast<double>(head.position[1]);
    pose.vecPosition[2] = static_cast<double>(head.position[2]);

    ApplyTrackingStatus(static_cast<uint32_t>(head.trackingStatus), pose);
    return pose;
}

}  // namespace quillo
