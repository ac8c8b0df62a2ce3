// Calls into a driver's aggregate-returning methods through the same declarations the driver
// was built with (the MSVC form on GCC-for-Windows), plus names for the runtime's enums.
#pragma once

#include "openvr/openvr_driver.h"

namespace quillo::runtime {

vr::DriverPose_t CallGetPose(vr::ITrackedDeviceServerDriver& device);
vr::DistortionCoordinates_t CallComputeDistortion(vr::IVRDisplayComponent& display, vr::EVREye eye,
                                                  float u, float v);
vr::VRControllerState_t CallGetControllerState(vr::IVRControllerComponent& controller);

// "VRInitError_Init_HmdNotFound", ...; "VRInitError_Unknown_<n>" style text is not produced:
// unknown values give "unknown EVRInitError".
const char* InitErrorName(vr::EVRInitError error);
const char* DeviceClassName(vr::ETrackedDeviceClass deviceClass);
// "Prop_ModelNumber_String", ... for the properties the driver writes; null for others.
const char* PropertyName(vr::ETrackedDeviceProperty prop);

}  // namespace quillo::runtime
