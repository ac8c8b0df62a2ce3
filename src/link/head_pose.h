// The head-tracking state the headset reads when it builds its pose.
#pragma once

#include <cstdint>

namespace quillo {

// Quaternions are x, y, z, w floats.
struct HeadPose {
    float orientation[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    float position[3] = {0.0f, 1.7f, 0.0f};
    int32_t trackingStatus = 0;
    bool poseReceived = false;
};

}  // namespace quillo
