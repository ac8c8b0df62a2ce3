#include "driver_calls.h"

namespace quillo::runtime {

vr::DriverPose_t CallGetPose(vr::ITrackedDeviceServerDriver& device) {
#if QUILLO_MSVC_AGGREGATE_RETURN
    vr::DriverPose_t pose{};
    device.GetPose(&pose);
    return pose;
#else
    return device.GetPose();
#endif
}

vr::DistortionCoordinates_t CallComputeDistortion(vr::IVRDisplayComponent& display, vr::EVREye eye,
                                                  float u, float v) {
#if QUILLO_MSVC_AGGREGATE_RETURN
    vr::DistortionCoordinates_t coordinates{};
    display.ComputeDistortion(&coordinates, eye, u, v);
    return coordinates;
#else
    return display.ComputeDistortion(eye, u, v);
#endif
}

vr::VRControllerState_t CallGetControllerState(vr::IVRControllerComponent& controller) {
#if QUILLO_MSVC_AGGREGATE_RETURN
    vr::VRControllerState_t state{};
    controller.GetControllerState(&state);
    return state;
#else
    return controller.GetControllerState();
#endif
}

const char* InitErrorName(vr::EVRInitError error) {
    switch (error) {
        case vr::VRInitError_None:
            return "VRInitError_None";
        case vr::VRInitError_Unknown:
            return "VRInitError_Unknown";
        case vr::VRInitError_Init_InterfaceNotFound:
            return "VRInitError_Init_InterfaceNotFound";
        case vr::VRInitError_Init_HmdNotFound:
            return "VRInitError_Init_HmdNotFound";
        case vr::VRInitError_Driver_Failed:
            return "VRInitError_Driver_Failed";
    }
    return "unknown EVRInitError";
}

const char* DeviceClassName(vr::ETrackedDeviceClass deviceClass) {
    switch (deviceClass) {
        case vr::TrackedDeviceClass_Invalid:
            return "Invalid";
        case vr::TrackedDeviceClass_HMD:
            return "HMD";
        case vr::TrackedDeviceClass_Controller:
            return "Controller";
        case vr::TrackedDeviceClass_GenericTracker:
            return "GenericTracker";
        case vr::TrackedDeviceClass_TrackingReference:
            return "TrackingReference";
        case vr::TrackedDeviceClass_DisplayRedirect:
            return "DisplayRedirect";
    }
    return "unknown class";
}

const char* PropertyName(vr::ETrackedDeviceProperty prop) {
    switch (prop) {
        case vr::Prop_Invalid:
            return "Prop_Invalid";
        case vr::Prop_ModelNumber_String:
            return "Prop_ModelNumber_String";
        case vr::Prop_SerialNumber_String:
            return "Prop_SerialNumber_String";
        case vr::Prop_RenderModelName_String:
            return "Prop_RenderModelName_String";
        case vr::Prop_WillDriftInYaw_Bool:
            return "Prop_WillDriftInYaw_Bool";
        case vr::Prop_ContainsProximitySensor_Bool:
            return "Prop_ContainsProximitySensor_Bool";
        case vr::Prop_DeviceClass_Int32:
            return "Prop_DeviceClass_Int32";
        case vr::Prop_ReportsTimeSinceVSync_Bool:
            return "Prop_ReportsTimeSinceVSync_Bool";
        case vr::Prop_SecondsFromVsyncToPhotons_Float:
            return "Prop_SecondsFromVsyncToPhotons_Float";
        case vr::Prop_DisplayFrequency_Float:
            return "Prop_DisplayFrequency_Float";
        case vr::Prop_UserIpdMeters_Float:
            return "Prop_UserIpdMeters_Float";
        case vr::Prop_CurrentUniverseId_Uint64:
            return "Prop_CurrentUniverseId_Uint64";
        case vr::Prop_IsOnDesktop_Bool:
            return "Prop_IsOnDesktop_Bool";
        case vr::Prop_UserHeadToEyeDepthMeters_Float:
            return "Prop_UserHeadToEyeDepthMeters_Float";
        case vr::Prop_SupportedButtons_Uint64:
            return "Prop_SupportedButtons_Uint64";
        case vr::Prop_Axis0Type_Int32:
            return "Prop_Axis0Type_Int32";
        case vr::Prop_Axis1Type_Int32:
            return "Prop_Axis1Type_Int32";
        case vr::Prop_Axis2Type_Int32:
            return "Prop_Axis2Type_Int32";
        case vr::Prop_FieldOfViewLeftDegrees_Float:
            return "Prop_FieldOfViewLeftDegrees_Float";
        case vr::Prop_FieldOfViewRightDegrees_Float:
            return "Prop_FieldOfViewRightDegrees_Float";
        case vr::Prop_FieldOfViewTopDegrees_Float:
            return "Prop_FieldOfViewTopDegrees_Float";
        case vr::Prop_FieldOfViewBottomDegrees_Float:
            return "Prop_FieldOfViewBottomDegrees_Float";
        case vr::Prop_TrackingRangeMinimumMeters_Float:
            return "Prop_TrackingRangeMinimumMeters_Float";
        case vr::Prop_TrackingRangeMaximumMeters_Float:
            return "Prop_TrackingRangeMaximumMeters_Float";
    }
    return nullptr;
}

}  // namespace quillo::runtime
