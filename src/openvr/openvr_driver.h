// Declarations of the OpenVR driver ABI (SDK release 1.0.10) that driver_quillo implements
// and calls. Names follow the SDK so the code reads like any other OpenVR driver; layouts,
// sizes and vtable slot orders are the ABI and are checked by static_asserts below.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The runtime on Windows is built with MSVC, which returns every class-type value from a
// member function through a hidden pointer passed after `this`. GCC and Clang targeting
// Windows put that pointer before `this` (or return small values in RAX), so for them the
// three aggregate-returning methods are spelled out in MSVC's form: the caller's result
// pointer is an explicit first argument that is filled and returned.
#if defined(_WIN32) && (defined(__GNUC__) || defined(__clang__))
#define QUILLO_MSVC_AGGREGATE_RETURN 1
#else
#define QUILLO_MSVC_AGGREGATE_RETURN 0
#endif

#if defined(_WIN32)
#define QUILLO_EXPORT extern "C" __declspec(dllexport)
#else
#define QUILLO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace vr {

typedef uint32_t TrackedDeviceIndex_t;
static const TrackedDeviceIndex_t k_unTrackedDeviceIndex_Hmd = 0;
static const TrackedDeviceIndex_t k_unTrackedDeviceIndexInvalid = 0xFFFFFFFF;
static const uint32_t k_unMaxTrackedDeviceCount = 16;

typedef uint64_t PropertyContainerHandle_t;
static const PropertyContainerHandle_t k_ulInvalidPropertyContainer = 0;
typedef uint32_t PropertyTypeTag_t;
static const PropertyTypeTag_t k_unInvalidPropertyTag = 0;
static const PropertyTypeTag_t k_unFloatPropertyTag = 1;
static const PropertyTypeTag_t k_unInt32PropertyTag = 2;
static const PropertyTypeTag_t k_unUint64PropertyTag = 3;
static const PropertyTypeTag_t k_unBoolPropertyTag = 4;
static const PropertyTypeTag_t k_unStringPropertyTag = 5;
static const PropertyTypeTag_t k_unHmdMatrix34PropertyTag = 20;
static const PropertyTypeTag_t k_unHmdMatrix44PropertyTag = 21;
static const PropertyTypeTag_t k_unHmdVector3PropertyTag = 22;
static const PropertyTypeTag_t k_unHmdVector4PropertyTag = 23;

typedef uint64_t SharedTextureHandle_t;
typedef uint64_t DriverHandle_t;
static const uint32_t k_unControllerStateAxisCount = 5;

enum EVRInitError {
    VRInitError_None = 0,
    VRInitError_Unknown = 1,
    VRInitError_Init_InterfaceNotFound = 105,
    VRInitError_Init_HmdNotFound = 108,
    VRInitError_Driver_Failed = 200,
};

enum ETrackedDeviceClass {
    TrackedDeviceClass_Invalid = 0,
    TrackedDeviceClass_HMD = 1,
    TrackedDeviceClass_Controller = 2,
    TrackedDeviceClass_GenericTracker = 3,
    TrackedDeviceClass_TrackingReference = 4,
    TrackedDeviceClass_DisplayRedirect = 5,
};

enum ETrackingResult {
    TrackingResult_Uninitialized = 1,
    TrackingResult_Calibrating_InProgress = 100,
    TrackingResult_Calibrating_OutOfRange = 101,
    TrackingResult_Running_OK = 200,
    TrackingResult_Running_OutOfRange = 201,
};

enum EVREye { Eye_Left = 0, Eye_Right = 1 };

enum EVRButtonId {
    k_EButton_System = 0,
    k_EButton_ApplicationMenu = 1,
    k_EButton_Grip = 2,
    k_EButton_DPad_Left = 3,
    k_EButton_DPad_Up = 4,
    k_EButton_DPad_Right = 5,
    k_EButton_DPad_Down = 6,
    k_EButton_A = 7,
    k_EButton_ProximitySensor = 31,
    k_EButton_Axis0 = 32,
    k_EButton_Axis1 = 33,
    k_EButton_Axis2 = 34,
    k_EButton_Axis3 = 35,
    k_EButton_Axis4 = 36,
    k_EButton_Max = 64,
};

enum EVRControllerAxisType {
    k_eControllerAxis_None = 0,
    k_eControllerAxis_TrackPad = 1,
    k_eControllerAxis_Joystick = 2,
    k_eControllerAxis_Trigger = 3,
};

enum EPropertyWriteType {
    PropertyWrite_Set = 0,
    PropertyWrite_Erase = 1,
    PropertyWrite_SetError = 2,
};

enum ETrackedPropertyError {
    TrackedProp_Success = 0,
    TrackedProp_WrongDataType = 1,
    TrackedProp_WrongDeviceClass = 2,
    TrackedProp_BufferTooSmall = 3,
    TrackedProp_UnknownProperty = 4,
    TrackedProp_InvalidDevice = 5,
    TrackedProp_CouldNotContactServer = 6,
    TrackedProp_ValueNotProvidedByDevice = 7,
    TrackedProp_StringExceedsMaximumLength = 8,
    TrackedProp_NotYetAvailable = 9,
    TrackedProp_PermissionDenied = 10,
    TrackedProp_InvalidOperation = 11,
};

enum EVRSettingsError {
    VRSettingsError_None = 0,
    VRSettingsError_IPCFailed = 1,
    VRSettingsError_WriteFailed = 2,
    VRSettingsError_ReadFailed = 3,
    VRSettingsError_JsonParseFailed = 4,
    VRSettingsError_UnsetSettingHasNoDefault = 5,
};

// Only the ids the driver publishes.
enum ETrackedDeviceProperty {
    Prop_Invalid = 0,
    Prop_ModelNumber_String = 1001,
    Prop_SerialNumber_String = 1002,
    Prop_RenderModelName_String = 1003,
    Prop_WillDriftInYaw_Bool = 1004,
    Prop_ContainsProximitySensor_Bool = 1025,
    Prop_DeviceClass_Int32 = 1029,
    Prop_ReportsTimeSinceVSync_Bool = 2000,
    Prop_SecondsFromVsyncToPhotons_Float = 2001,
    Prop_DisplayFrequency_Float = 2002,
    Prop_UserIpdMeters_Float = 2003,
    Prop_CurrentUniverseId_Uint64 = 2004,
    Prop_IsOnDesktop_Bool = 2007,
    Prop_UserHeadToEyeDepthMeters_Float = 2026,
    Prop_SupportedButtons_Uint64 = 3001,
    Prop_Axis0Type_Int32 = 3002,
    Prop_Axis1Type_Int32 = 3003,
    Prop_Axis2Type_Int32 = 3004,
    Prop_FieldOfViewLeftDegrees_Float = 4000,
    Prop_FieldOfViewRightDegrees_Float = 4001,
    Prop_FieldOfViewTopDegrees_Float = 4002,
    Prop_FieldOfViewBottomDegrees_Float = 4003,
    Prop_TrackingRangeMinimumMeters_Float = 4004,
    Prop_TrackingRangeMaximumMeters_Float = 4005,
};

// Only passed through by the driver.
enum EVREventType { VREvent_None = 0 };

#pragma pack(push, 8)

struct HmdMatrix34_t {
    float m[3][4];
};

struct HmdQuaternion_t {
    double w, x, y, z;
};

struct HmdVector3_t {
    float v[3];
};

struct HmdVector3d_t {
    double v[3];
};

struct HmdVector2_t {
    float v[2];
};

struct DistortionCoordinates_t {
    float rfRed[2];
    float rfGreen[2];
    float rfBlue[2];
};

struct VRTextureBounds_t {
    float uMin, vMin;
    float uMax, vMax;
};

struct VRControllerAxis_t {
    float x;
    float y;
};

struct DriverPose_t {
    double poseTimeOffset;
    HmdQuaternion_t qWorldFromDriverRotation;
    double vecWorldFromDriverTranslation[3];
    HmdQuaternion_t qDriverFromHeadRotation;
    double vecDriverFromHeadTranslation[3];
    double vecPosition[3];
    double vecVelocity[3];
    double vecAcceleration[3];
    HmdQuaternion_t qRotation;
    double vecAngularVelocity[3];
    double vecAngularAcceleration[3];
    ETrackingResult result;
    bool poseIsValid;
    bool willDriftInYaw;
    bool shouldApplyHeadModel;
    bool deviceIsConnected;
};

struct PropertyWrite_t {
    ETrackedDeviceProperty prop;
    EPropertyWriteType writeType;
    ETrackedPropertyError eSetError;
    void* pvBuffer;
    uint32_t unBufferSize;
    PropertyTypeTag_t unTag;
    ETrackedPropertyError eError;
};

struct PropertyRead_t {
    ETrackedDeviceProperty prop;
    void* pvBuffer;
    uint32_t unBufferSize;
    PropertyTypeTag_t unTag;
    uint32_t unRequiredBufferSize;
    ETrackedPropertyError eError;
};

struct TrackedDevicePose_t {
    HmdMatrix34_t mDeviceToAbsoluteTracking;
    HmdVector3_t vVelocity;
    HmdVector3_t vAngularVelocity;
    ETrackingResult eTrackingResult;
    bool bPoseIsValid;
    bool bDeviceIsConnected;
};

#pragma pack(pop)

// Kept at 4-byte packing on Linux and macOS, a historical mis-packing of the SDK.
#if defined(_WIN32)
#pragma pack(push, 8)
#else
#pragma pack(push, 4)
#endif
struct VRControllerState_t {
    uint32_t unPacketNum;
    uint64_t ulButtonPressed;
    uint64_t ulButtonTouched;
    VRControllerAxis_t rAxis[k_unControllerStateAxisCount];
};
#pragma pack(pop)

struct VREvent_Data_t;
struct VREvent_t;

// ---- Interfaces implemented by the runtime ----

class IVRDriverContext {
  public:
    virtual void* GetGenericInterface(const char* pchInterfaceVersion,
                                      EVRInitError* peError = nullptr) = 0;
    virtual DriverHandle_t GetDriverHandle() = 0;
};

class IVRServerDriverHost;
class ITrackedDeviceServerDriver;

static const char* const IVRServerDriverHost_Version = "IVRServerDriverHost_004";
class IVRServerDriverHost {
  public:
    virtual bool TrackedDeviceAdded(const char* pchDeviceSerialNumber,
                                    ETrackedDeviceClass eDeviceClass,
                                    ITrackedDeviceServerDriver* pDriver) = 0;
    virtual void TrackedDevicePoseUpdated(uint32_t unWhichDevice, const DriverPose_t& newPose,
                                          uint32_t unPoseStructSize) = 0;
    virtual void VsyncEvent(double vsyncTimeOffsetSeconds) = 0;
    virtual void TrackedDeviceButtonPressed(uint32_t unWhichDevice, EVRButtonId eButtonId,
                                            double eventTimeOffset) = 0;
    virtual void TrackedDeviceButtonUnpressed(uint32_t unWhichDevice, EVRButtonId eButtonId,
                                              double eventTimeOffset) = 0;
    virtual void TrackedDeviceButtonTouched(uint32_t unWhichDevice, EVRButtonId eButtonId,
                                            double eventTimeOffset) = 0;
    virtual void TrackedDeviceButtonUntouched(uint32_t unWhichDevice, EVRButtonId eButtonId,
                                              double eventTimeOffset) = 0;
    virtual void TrackedDeviceAxisUpdated(uint32_t unWhichDevice, uint32_t unWhichAxis,
                                          const VRControllerAxis_t& axisState) = 0;
    virtual void ProximitySensorState(uint32_t unWhichDevice, bool bProximitySensorTriggered) = 0;
    virtual void VendorSpecificEvent(uint32_t unWhichDevice, EVREventType eventType,
                                     const VREvent_Data_t& eventData, double eventTimeOffset) = 0;
    virtual bool IsExiting() = 0;
    virtual bool PollNextEvent(VREvent_t* pEvent, uint32_t uncbVREvent) = 0;
    virtual void GetRawTrackedDevicePoses(float fPredictedSecondsFromNow,
                                          TrackedDevicePose_t* pTrackedDevicePoseArray,
                                          uint32_t unTrackedDevicePoseArrayCount) = 0;
    virtual void TrackedDeviceDisplayTransformUpdated(uint32_t unWhichDevice,
                                                      HmdMatrix34_t eyeToHeadLeft,
                                                      HmdMatrix34_t eyeToHeadRight) = 0;
};

static const char* const IVRSettings_Version = "IVRSettings_002";
class IVRSettings {
  public:
    virtual const char* GetSettingsErrorNameFromEnum(EVRSettingsError eError) = 0;
    virtual bool Sync(bool bForce = false, EVRSettingsError* peError = nullptr) = 0;
    virtual void SetBool(const char* pchSection, const char* pchSettingsKey, bool bValue,
                         EVRSettingsError* peError = nullptr) = 0;
    virtual void SetInt32(const char* pchSection, const char* pchSettingsKey, int32_t nValue,
                          EVRSettingsError* peError = nullptr) = 0;
    virtual void SetFloat(const char* pchSection, const char* pchSettingsKey, float flValue,
                          EVRSettingsError* peError = nullptr) = 0;
    virtual void SetString(const char* pchSection, const char* pchSettingsKey, const char* pchValue,
                           EVRSettingsError* peError = nullptr) = 0;
    virtual bool GetBool(const char* pchSection, const char* pchSettingsKey,
                         EVRSettingsError* peError = nullptr) = 0;
    virtual int32_t GetInt32(const char* pchSection, const char* pchSettingsKey,
                             EVRSettingsError* peError = nullptr) = 0;
    virtual float GetFloat(const char* pchSection, const char* pchSettingsKey,
                           EVRSettingsError* peError = nullptr) = 0;
    virtual void GetString(const char* pchSection, const char* pchSettingsKey, char* pchValue,
                           uint32_t unValueLen, EVRSettingsError* peError = nullptr) = 0;
    virtual void RemoveSection(const char* pchSection, EVRSettingsError* peError = nullptr) = 0;
    virtual void RemoveKeyInSection(const char* pchSection, const char* pchSettingsKey,
                                    EVRSettingsError* peError = nullptr) = 0;
};

static const char* const IVRProperties_Version = "IVRProperties_001";
class IVRProperties {
  public:
    virtual ETrackedPropertyError ReadPropertyBatch(PropertyContainerHandle_t ulContainerHandle,
                                                    PropertyRead_t* pBatch,
                                                    uint32_t unBatchEntryCount) = 0;
    virtual ETrackedPropertyError WritePropertyBatch(PropertyContainerHandle_t ulContainerHandle,
                                                     PropertyWrite_t* pBatch,
                                                     uint32_t unBatchEntryCount) = 0;
    virtual const char* GetPropErrorNameFromEnum(ETrackedPropertyError error) = 0;
    virtual PropertyContainerHandle_t TrackedDeviceToPropertyContainer(
        TrackedDeviceIndex_t nDevice) = 0;
};

static const char* const IVRDriverLog_Version = "IVRDriverLog_001";
class IVRDriverLog {
  public:
    virtual void Log(const char* pchLogMessage) = 0;
};

// ---- Interfaces implemented by the driver ----

static const char* const IServerTrackedDeviceProvider_Version = "IServerTrackedDeviceProvider_004";
class IServerTrackedDeviceProvider {
  public:
    virtual EVRInitError Init(IVRDriverContext* pDriverContext) = 0;
    virtual void Cleanup() = 0;
    virtual const char* const* GetInterfaceVersions() = 0;
    virtual void RunFrame() = 0;
    virtual bool ShouldBlockStandbyMode() = 0;
    virtual void EnterStandby() = 0;
    virtual void LeaveStandby() = 0;
};

static const char* const ITrackedDeviceServerDriver_Version = "ITrackedDeviceServerDriver_005";
class ITrackedDeviceServerDriver {
  public:
    virtual EVRInitError Activate(uint32_t unObjectId) = 0;
    virtual void Deactivate() = 0;
    virtual void EnterStandby() = 0;
    virtual void* GetComponent(const char* pchComponentNameAndVersion) = 0;
    virtual void DebugRequest(const char* pchRequest, char* pchResponseBuffer,
                              uint32_t unResponseBufferSize) = 0;
#if QUILLO_MSVC_AGGREGATE_RETURN
    virtual DriverPose_t* GetPose(DriverPose_t* pResult) = 0;
#else
    virtual DriverPose_t GetPose() = 0;
#endif
};

static const char* const IVRDisplayComponent_Version = "IVRDisplayComponent_002";
class IVRDisplayComponent {
  public:
    virtual void GetWindowBounds(int32_t* pnX, int32_t* pnY, uint32_t* pnWidth,
                                 uint32_t* pnHeight) = 0;
    virtual bool IsDisplayOnDesktop() = 0;
    virtual bool IsDisplayRealDisplay() = 0;
    virtual void GetRecommendedRenderTargetSize(uint32_t* pnWidth, uint32_t* pnHeight) = 0;
    virtual void GetEyeOutputViewport(EVREye eEye, uint32_t* pnX, uint32_t* pnY, uint32_t* pnWidth,
                                      uint32_t* pnHeight) = 0;
    virtual void GetProjectionRaw(EVREye eEye, float* pfLeft, float* pfRight, float* pfTop,
                                  float* pfBottom) = 0;
#if QUILLO_MSVC_AGGREGATE_RETURN
    virtual DistortionCoordinates_t* ComputeDistortion(DistortionCoordinates_t* pResult,
                                                       EVREye eEye, float fU, float fV) = 0;
#else
    virtual DistortionCoordinates_t ComputeDistortion(EVREye eEye, float fU, float fV) = 0;
#endif
};

static const char* const IVRDriverDirectModeComponent_Version = "IVRDriverDirectModeComponent_002";
// The SDK gives these slots empty bodies rather than making them pure.
class IVRDriverDirectModeComponent {
  public:
    virtual void CreateSwapTextureSet(uint32_t unPid, uint32_t unFormat, uint32_t unWidth,
                                      uint32_t unHeight,
                                      SharedTextureHandle_t (*pSharedTextureHandles)[3]) {}
    virtual void DestroySwapTextureSet(SharedTextureHandle_t sharedTextureHandle) {}
    virtual void DestroyAllSwapTextureSets(uint32_t unPid) {}
    virtual void GetNextSwapTextureSetIndex(SharedTextureHandle_t sharedTextureHandles[2],
                                            uint32_t (*pIndices)[2]) {}
    virtual void SubmitLayer(SharedTextureHandle_t sharedTextureHandles[2],
                             const VRTextureBounds_t (&bounds)[2], const HmdMatrix34_t* pPose) {}
    virtual void Present(SharedTextureHandle_t syncTexture) {}
};

static const char* const IVRVirtualDisplay_Version = "IVRVirtualDisplay_001";
class IVRVirtualDisplay {
  public:
    virtual void Present(SharedTextureHandle_t backbufferTextureHandle) = 0;
    virtual void WaitForPresent() = 0;
    virtual bool GetTimeSinceLastVsync(float* pfSecondsSinceLastVsync,
                                       uint64_t* pulFrameCounter) = 0;
};

static const char* const IVRControllerComponent_Version = "IVRControllerComponent_001";
class IVRControllerComponent {
  public:
#if QUILLO_MSVC_AGGREGATE_RETURN
    virtual VRControllerState_t* GetControllerState(VRControllerState_t* pResult) = 0;
#else
    virtual VRControllerState_t GetControllerState() = 0;
#endif
    virtual bool TriggerHapticPulse(uint32_t unAxisId, uint16_t usPulseDurationMicroseconds) = 0;
};

// ---- Layout checks: these are the ABI ----

static_assert(sizeof(HmdMatrix34_t) == 48, "HmdMatrix34_t");
static_assert(sizeof(HmdQuaternion_t) == 32, "HmdQuaternion_t");
static_assert(sizeof(HmdVector3_t) == 12, "HmdVector3_t");
static_assert(sizeof(HmdVector3d_t) == 24, "HmdVector3d_t");
static_assert(sizeof(HmdVector2_t) == 8, "HmdVector2_t");
static_assert(sizeof(DistortionCoordinates_t) == 24, "DistortionCoordinates_t");
static_assert(sizeof(VRTextureBounds_t) == 16, "VRTextureBounds_t");
static_assert(sizeof(VRControllerAxis_t) == 8, "VRControllerAxis_t");

static_assert(offsetof(VRControllerState_t, unPacketNum) == 0, "unPacketNum");
#if defined(_WIN32)
static_assert(sizeof(VRControllerState_t) == 64, "VRControllerState_t (Windows)");
static_assert(offsetof(VRControllerState_t, ulButtonPressed) == 8, "ulButtonPressed");
static_assert(offsetof(VRControllerState_t, ulButtonTouched) == 16, "ulButtonTouched");
static_assert(offsetof(VRControllerState_t, rAxis) == 24, "rAxis");
#else
static_assert(sizeof(VRControllerState_t) == 60, "VRControllerState_t (4-byte packing)");
static_assert(offsetof(VRControllerState_t, ulButtonPressed) == 4, "ulButtonPressed");
static_assert(offsetof(VRControllerState_t, ulButtonTouched) == 12, "ulButtonTouched");
static_assert(offsetof(VRControllerState_t, rAxis) == 20, "rAxis");
#endif

static_assert(sizeof(DriverPose_t) == 280, "DriverPose_t");
static_assert(offsetof(DriverPose_t, poseTimeOffset) == 0, "poseTimeOffset");
static_assert(offsetof(DriverPose_t, qWorldFromDriverRotation) == 8, "qWorldFromDriverRotation");
static_assert(offsetof(DriverPose_t, vecWorldFromDriverTranslation) == 40, "vecWorldFromDriver");
static_assert(offsetof(DriverPose_t, qDriverFromHeadRotation) == 64, "qDriverFromHeadRotation");
static_assert(offsetof(DriverPose_t, vecDriverFromHeadTranslation) == 96, "vecDriverFromHead");
static_assert(offsetof(DriverPose_t, vecPosition) == 120, "vecPosition");
static_assert(offsetof(DriverPose_t, vecVelocity) == 144, "vecVelocity");
static_assert(offsetof(DriverPose_t, vecAcceleration) == 168, "vecAcceleration");
static_assert(offsetof(DriverPose_t, qRotation) == 192, "qRotation");
static_assert(offsetof(DriverPose_t, vecAngularVelocity) == 224, "vecAngularVelocity");
static_assert(offsetof(DriverPose_t, vecAngularAcceleration) == 248, "vecAngularAcceleration");
static_assert(offsetof(DriverPose_t, result) == 272, "result");
static_assert(offsetof(DriverPose_t, poseIsValid) == 276, "poseIsValid");
static_assert(offsetof(DriverPose_t, willDriftInYaw) == 277, "willDriftInYaw");
static_assert(offsetof(DriverPose_t, shouldApplyHeadModel) == 278, "shouldApplyHeadModel");
static_assert(offsetof(DriverPose_t, deviceIsConnected) == 279, "deviceIsConnected");

static_assert(sizeof(PropertyWrite_t) == 40, "PropertyWrite_t");
static_assert(offsetof(PropertyWrite_t, prop) == 0, "PropertyWrite_t::prop");
static_assert(offsetof(PropertyWrite_t, writeType) == 4, "PropertyWrite_t::writeType");
static_assert(offsetof(PropertyWrite_t, eSetError) == 8, "PropertyWrite_t::eSetError");
static_assert(offsetof(PropertyWrite_t, pvBuffer) == 16, "PropertyWrite_t::pvBuffer");
static_assert(offsetof(PropertyWrite_t, unBufferSize) == 24, "PropertyWrite_t::unBufferSize");
static_assert(offsetof(PropertyWrite_t, unTag) == 28, "PropertyWrite_t::unTag");
static_assert(offsetof(PropertyWrite_t, eError) == 32, "PropertyWrite_t::eError");

static_assert(sizeof(PropertyRead_t) == 32, "PropertyRead_t");
static_assert(offsetof(PropertyRead_t, pvBuffer) == 8, "PropertyRead_t::pvBuffer");
static_assert(offsetof(PropertyRead_t, unBufferSize) == 16, "PropertyRead_t::unBufferSize");
static_assert(offsetof(PropertyRead_t, unTag) == 20, "PropertyRead_t::unTag");
static_assert(offsetof(PropertyRead_t, unRequiredBufferSize) == 24, "unRequiredBufferSize");
static_assert(offsetof(PropertyRead_t, eError) == 28, "PropertyRead_t::eError");

static_assert(sizeof(TrackedDevicePose_t) == 80, "TrackedDevicePose_t");
static_assert(offsetof(TrackedDevicePose_t, vVelocity) == 48, "vVelocity");
static_assert(offsetof(TrackedDevicePose_t, vAngularVelocity) == 60, "vAngularVelocity");
static_assert(offsetof(TrackedDevicePose_t, eTrackingResult) == 72, "eTrackingResult");
static_assert(offsetof(TrackedDevicePose_t, bPoseIsValid) == 76, "bPoseIsValid");
static_assert(offsetof(TrackedDevicePose_t, bDeviceIsConnected) == 77, "bDeviceIsConnected");

static_assert(sizeof(EVRInitError) == 4 && sizeof(ETrackedDeviceProperty) == 4 &&
                  sizeof(ETrackingResult) == 4 && sizeof(EVRButtonId) == 4,
              "enums are 32-bit");

}  // namespace vr
