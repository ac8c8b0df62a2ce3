// How the companion's tracking status (of the head or of a controller) shows in a pose.
#pragma once

#include <cstdint>

#include "openvr/openvr_driver.h"

namespace quillo {

// 1: out of range, 2: not tracked; 0 and every value the companion may add later count as
// tracking normally.
inline void ApplyTrackingStatus(uint32_t status, vr::DriverPose_t& pose) {
    switch (status) {
        case 1:
            pose.result = vr::TrackingResult_Running_OutOfRange;
            pose.poseIsValid = false;
            pose.deviceIsConnected = true;
            break;
        case 2:
            pose.result = vr::TrackingResult_Uninitialized;
            pose.poseIsValid = false;
            pose.deviceIsConnected = false;
            break;
        default:
            pose.result = vr::TrackingResult_Running_OK;
            pose.poseIsValid = true;
            pose.deviceIsConnected = true;
            break;
    }
}

}  // namespace quillo
