#include "devices/extra/fake_sensor_driver.h"

#include "devices/component_name.h"
#include "devices/driver_log.h"
#include "devices/entry_guard.h"
#include "devices/host_interfaces.h"
#include "devices/property_write.h"

namespace quillo {

vr::DriverPose_t MakeFakeSensorPose() {
    vr::DriverPose_t pose{};
    pose.poseTimeOffset = 0.0;
    pose.qWorldFromDriverRotation = {1.0, 0.0, 0.0, 0.0};
    // Deliberately all four components zero, w included: the runtime has always been given
    // this for the tracking reference.
    pose.qDriverFromHeadRotation = {0.0, 0.0, 0.0, 0.0};
    pose.vecPosition[0] = 0.0;
    pose.vecPosition[1] = 0.0;
    pose.vecPosition[2] = 3.0;
    pose.qRotation = {1.0, 0.0, 0.0, 0.0};
    pose.result = vr::TrackingResult_Running_OK;
    pose.poseIsValid = true;
    pose.willDriftInYaw = false;
    pose.shouldApplyHeadModel = false;
    pose.deviceIsConnected = true;
    return pose;
}

CFakeSensorDriver_Quillo::CFakeSensorDriver_Quillo(vr::IVRServerDriverHost* host)
    : pose_(MakeFakeSensorPose()),
      host_(host),
      modelNumber_("Quillo fake sensor"),
      serialNumber_("0.1113") {}

vr::EVRInitError CFakeSensorDriver_Quillo::Activate(uint32_t unObjectId) {
    QUILLO_ENTRY_SITE("CFakeSensorDriver_Quillo::Activate");
    return GuardedEntry(entrySite_, vr::VRInitError_None, [&] {
        WriteDriverLog("Activate fake sensor %d \n", static_cast<int>(unObjectId));
        vr::IVRProperties* properties = Properties();
        propertyContainer_ = properties != nullptr
                                 ? properties->TrackedDeviceToPropertyContainer(unObjectId)
                                 : vr::k_ulInvalidPropertyContainer;
        const vr::PropertyContainerHandle_t c = propertyContainer_;
        WriteFloatProperty(properties, c, vr::Prop_FieldOfViewLeftDegrees_Float, 80.0f);
        WriteFloatProperty(properties, c, vr::Prop_FieldOfViewRightDegrees_Float, 80.0f);
        WriteFloatProperty(properties, c, vr::Prop_FieldOfViewTopDegrees_Float, 80.0f);
        WriteFloatProperty(properties, c, vr::Prop_FieldOfViewBottomDegrees_Float, 80.0f);
        WriteFloatProperty(properties, c, vr::Prop_TrackingRangeMinimumMeters_Float, 0.0f);
        WriteFloatProperty(properties, c, vr::Prop_TrackingRangeMaximumMeters_Float, 12.0f);
        WriteInt32Property(properties, c, vr::Prop_DeviceClass_Int32,
                           vr::TrackedDeviceClass_TrackingReference);
        WriteUint64Property(properties, c, vr::Prop_CurrentUniverseId_Uint64, 1);
        WriteStringProperty(properties, c, vr::Prop_ModelNumber_String, modelNumber_);
        WriteStringProperty(properties, c, vr::Prop_SerialNumber_String, serialNumber_);
        WriteStringProperty(properties, c, vr::Prop_RenderModelName_String, "dk2_camera");
        // Only now: the provider starts pushing the pose once every property is written.
        deviceIndex_.store(unObjectId, std::memory_order_release);
        return vr::VRInitError_None;
    });
}

void CFakeSensorDriver_Quillo::Deactivate() {
    QUILLO_ENTRY_SITE("CFakeSensorDriver_Quillo::Deactivate");
    GuardedEntry(entrySite_,
                 [&] { WriteDriverLog("Driver deactivated: %s \n", modelNumber_.c_str()); });
}

void CFakeSensorDriver_Quillo::EnterStandby() {}

void* CFakeSensorDriver_Quillo::GetComponent(const char* pchComponentNameAndVersion) {
    if (SameComponentName(pchComponentNameAndVersion, vr::ITrackedDeviceServerDriver_Version)) {
        return static_cast<vr::ITrackedDeviceServerDriver*>(this);
    }
    return nullptr;
}

void CFakeSensorDriver_Quillo::DebugRequest(const char*, char*, uint32_t) {}

#if QUILLO_MSVC_AGGREGATE_RETURN
vr::DriverPose_t* CFakeSensorDriver_Quillo::GetPose(vr::DriverPose_t* pResult) {
    if (pResult != nullptr) {
        *pResult = pose_;
    }
    return pResult;
}
#else
vr::DriverPose_t CFakeSensorDriver_Quillo::GetPose() {
    return pose_;
}
#endif

}  // namespace quillo
