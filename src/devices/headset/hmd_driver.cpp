#include "devices/headset/hmd_driver.h"

#include "devices/component_name.h"
#include "devices/driver_log.h"
#include "devices/entry_guard.h"
#include "devices/host_interfaces.h"
#include "devices/property_write.h"
#include "gpu/frame_compositor.h"
#include "link/frame_pacer.h"
#include "link/transmission_pipe.h"

namespace quillo {

namespace {

constexpr const char* kSettingsSection = "driver_quillo";
constexpr uint32_t kOutputFormatR8G8B8A8Unorm = 28;

// Tangents of the half-angles of each eye's field of view. The outer side of each eye is the
// narrower one.
constexpr float kProjectionTop = -1.3316f;
constexpr float kProjectionBottom = 1.3316f;
constexpr float kProjectionOuter = static_cast<float>(1.05866);
constexpr float kProjectionInner = static_cast<float>(1.09237);

}  // namespace

HMDDriver::HMDDriver() {
    // Every field already holds its starting value (member initialisers) before the link
    // starts, so a frame-rate report that arrives while the rest of construction runs is kept
    // rather than overwritten by the starting 60 Hz.
    host_ = ServerDriverHost();

    core_.Initialize();
    core_.Compositor().CreateDevice();

    // The link put its own frame-rate listener first while it initialised, so on a rate change
    // the pacing is updated before the headset's property.
    core_.Pipe().AddTrackingListener(this);
    core_.Pipe().AddFramerateListener(this);
    // The companion reports its rate once per connection, often while the GPU device is still
    // being made (about a second on some systems) and before this listener was registered.
    // The link paced to it already; take it over so the runtime is not told a stale rate.
    const int32_t linkRate = core_.refreshRate();
    if (static_cast<float>(linkRate) != displayFrequency_.load()) {
        OnFramerateUpdated(linkRate);
    }

    if (vr::IVRSettings* settings = Settings()) {
        WriteDriverLog("Using settings values\n");
        ApplySettings(*settings);
    }

    BuildPose();

    WriteDriverLog("driver_quillo: Serial Number: %s\n", serialNumber_.c_str());
    WriteDriverLog("driver_quillo: Model Number: %s\n", modelNumber_.c_str());
    WriteDriverLog("driver_quillo: Window: %d %d %d %d\n", windowX_, windowY_, windowWidth_,
                   windowHeight_);
    WriteDriverLog("driver_quillo: Render Target: %d %d\n", renderTargetWidth_,
                   renderTargetHeight_);
    WriteDriverLog("driver_quillo: Seconds from Vsync to Photons: %f\n",
                   static_cast<double>(secondsFromVsyncToPhotons_));
    WriteDriverLog("driver_quillo: Display Frequency: %f\n",
                   static_cast<double>(displayFrequency_.load()));
    WriteDriverLog("driver_quillo: IPD: %f\n", static_cast<double>(ipd_));
}

// The link core goes with the headset; its pipe channel joins its threads first.
HMDDriver::~HMDDriver() = default;

void HMDDriver::ApplySettings(vr::IVRSettings& settings) {
    const int32_t windowWidth = settings.GetInt32(kSettingsSection, "windowWidth");
    const int32_t windowHeight = settings.GetInt32(kSettingsSection, "windowHeight");
    const int32_t renderScale = settings.GetInt32(kSettingsSection, "renderScale");
    const DisplayGeometry geometry = ComputeDisplayGeometry(windowWidth, windowHeight, renderScale);
    renderScale_ = geometry.renderScale;
    renderTargetWidth_ = geometry.renderTargetWidth;
    renderTargetHeight_ = geometry.renderTargetHeight;
    windowWidth_ = geometry.windowWidth;
    windowHeight_ = geometry.windowHeight;

    const int32_t xDegrees = settings.GetInt32(kSettingsSection, "RotationOffsetXDeg");
    const int32_t yDegrees = settings.GetInt32(kSettingsSection, "RotationOffsetYDeg");
    const int32_t zDegrees = settings.GetInt32(kSettingsSection, "RotationOffsetZDeg");
    rotationOffsets_ = ComputeRotationOffsets(xDegrees, yDegrees, zDegrees);
}

void HMDDriver::BuildPose() {
    pose_ = BuildHeadsetPose(core_.Pipe().ReadHeadPose(), rotationOffsets_);
}

vr::EVRInitError HMDDriver::Activate(uint32_t unObjectId) {
    QUILLO_ENTRY_SITE("HMDDriver::Activate");
    return GuardedEntry(entrySite_, vr::VRInitError_None, [&] {
        vr::IVRProperties* properties = Properties();
        propertyContainer_.store(properties != nullptr
                                     ? properties->TrackedDeviceToPropertyContainer(unObjectId)
                                     : vr::k_ulInvalidPropertyContainer,
                                 std::memory_order_release);
        WriteDriverLog("HMD activated with id %d \n", static_cast<int>(unObjectId));
        deviceIndex_.store(unObjectId, std::memory_order_release);
        if (host_ != nullptr) {
            host_->ProximitySensorState(unObjectId, true);
        }
        WriteProperties();

        FrameCompositor& compositor = core_.Compositor();
        if (!compositor.ready()) {
            compositor.setOutputFormat(kOutputFormatR8G8B8A8Unorm);
            compositor.CreateOutputTextures(static_cast<uint32_t>(windowWidth_),
                                            static_cast<uint32_t>(windowHeight_));
        }
        return vr::VRInitError_None;
    });
}

void HMDDriver::WriteProperties() {
    vr::IVRProperties* properties = Properties();
    const vr::PropertyContainerHandle_t c = propertyContainer_.load(std::memory_order_acquire);
    WriteBoolProperty(properties, c, vr::Prop_IsOnDesktop_Bool, false);
    WriteBoolProperty(properties, c, vr::Prop_WillDriftInYaw_Bool, true);
    WriteBoolProperty(properties, c, vr::Prop_ContainsProximitySensor_Bool, true);
    WriteBoolProperty(properties, c, vr::Prop_ReportsTimeSinceVSync_Bool, false);
    WriteFloatProperty(properties, c, vr::Prop_UserIpdMeters_Float, ipd_);
    WriteFloatProperty(properties, c, vr::Prop_UserHeadToEyeDepthMeters_Float, 0.0f);
    WriteFloatProperty(properties, c, vr::Prop_DisplayFrequency_Float,
                       displayFrequency_.load(std::memory_order_relaxed));
    WriteFloatProperty(properties, c, vr::Prop_SecondsFromVsyncToPhotons_Float,
                       secondsFromVsyncToPhotons_);
    WriteInt32Property(properties, c, vr::Prop_DeviceClass_Int32, vr::TrackedDeviceClass_HMD);
    WriteUint64Property(properties, c, vr::Prop_CurrentUniverseId_Uint64, 1);
    WriteStringProperty(properties, c, vr::Prop_ModelNumber_String, modelNumber_);
    WriteStringProperty(properties, c, vr::Prop_SerialNumber_String, serialNumber_);
}

void HMDDriver::Deactivate() {
    QUILLO_ENTRY_SITE("HMDDriver::Deactivate");
    GuardedEntry(entrySite_, [&] {
        WriteDriverLog("Driver deactivated: %s \n", modelNumber_.c_str());
        deviceIndex_.store(vr::k_unTrackedDeviceIndexInvalid, std::memory_order_release);
    });
}

void HMDDriver::EnterStandby() {}

void* HMDDriver::GetComponent(const char* pchComponentNameAndVersion) {
    if (SameComponentName(pchComponentNameAndVersion, vr::IVRDisplayComponent_Version)) {
        return DisplayComponent();
    }
    if (SameComponentName(pchComponentNameAndVersion, vr::ITrackedDeviceServerDriver_Version)) {
        return DeviceInterface();
    }
    return nullptr;
}

void HMDDriver::DebugRequest(const char*, char* pchResponseBuffer, uint32_t unResponseBufferSize) {
    if (pchResponseBuffer != nullptr && unResponseBufferSize >= 1) {
        pchResponseBuffer[0] = '\0';
    }
}

// `pose_` is rebuilt by UpdatePose on the thread that runs RunFrame; the runtime asks for it
// rarely (the pose it tracks is the one handed over every frame), so the copy is not guarded.
#if QUILLO_MSVC_AGGREGATE_RETURN
vr::DriverPose_t* HMDDriver::GetPose(vr::DriverPose_t* pResult) {
    if (pResult != nullptr) {
        *pResult = pose_;
    }
    return pResult;
}
#else
vr::DriverPose_t HMDDriver::GetPose() {
    return pose_;
}
#endif

void HMDDriver::GetWindowBounds(int32_t* pnX, int32_t* pnY, uint32_t* pnWidth, uint32_t* pnHeight) {
    if (pnX != nullptr) *pnX = windowX_;
    if (pnY != nullptr) *pnY = windowY_;
    if (pnWidth != nullptr) *pnWidth = static_cast<uint32_t>(windowWidth_);
    if (pnHeight != nullptr) *pnHeight = static_cast<uint32_t>(windowHeight_);
}

bool HMDDriver::IsDisplayOnDesktop() {
    return false;
}

bool HMDDriver::IsDisplayRealDisplay() {
    return false;
}

void HMDDriver::GetRecommendedRenderTargetSize(uint32_t* pnWidth, uint32_t* pnHeight) {
    if (pnWidth != nullptr) *pnWidth = static_cast<uint32_t>(renderTargetWidth_);
    if (pnHeight != nullptr) *pnHeight = static_cast<uint32_t>(renderTargetHeight_);
}

void HMDDriver::GetEyeOutputViewport(vr::EVREye eEye, uint32_t* pnX, uint32_t* pnY,
                                     uint32_t* pnWidth, uint32_t* pnHeight) {
    const uint32_t eyeWidth = static_cast<uint32_t>(windowWidth_ / 2);
    if (pnX != nullptr) *pnX = eEye == vr::Eye_Left ? 0u : eyeWidth;
    if (pnY != nullptr) *pnY = 0;
    if (pnWidth != nullptr) *pnWidth = eyeWidth;
    if (pnHeight != nullptr) *pnHeight = static_cast<uint32_t>(windowHeight_);
}

void HMDDriver::GetProjectionRaw(vr::EVREye eEye, float* pfLeft, float* pfRight, float* pfTop,
                                 float* pfBottom) {
    const bool left = eEye == vr::Eye_Left;
    if (pfLeft != nullptr) *pfLeft = left ? -kProjectionOuter : -kProjectionInner;
    if (pfRight != nullptr) *pfRight = left ? kProjectionInner : kProjectionOuter;
    if (pfTop != nullptr) *pfTop = kProjectionTop;
    if (pfBottom != nullptr) *pfBottom = kProjectionBottom;
}

namespace {

vr::DistortionCoordinates_t IdentityDistortion(float u, float v) {
    vr::DistortionCoordinates_t coordinates{};
    coordinates.rfRed[0] = coordinates.rfGreen[0] = coordinates.rfBlue[0] = u;
    coordinates.rfRed[1] = coordinates.rfGreen[1] = coordinates.rfBlue[1] = v;
    return coordinates;
}

}  // namespace

#if QUILLO_MSVC_AGGREGATE_RETURN
vr::DistortionCoordinates_t* HMDDriver::ComputeDistortion(vr::DistortionCoordinates_t* pResult,
                                                          vr::EVREye, float fU, float fV) {
    if (pResult != nullptr) {
        *pResult = IdentityDistortion(fU, fV);
    }
    return pResult;
}
#else
vr::DistortionCoordinates_t HMDDriver::ComputeDistortion(vr::EVREye, float fU, float fV) {
    return IdentityDistortion(fU, fV);
}
#endif

void HMDDriver::OnTrackingUpdated() {
    // Only the flag: the pose is rebuilt on the runtime's thread at the next RunFrame.
    if (deviceIndex_.load(std::memory_order_acquire) != vr::k_unTrackedDeviceIndexInvalid) {
        poseDirty_.store(true, std::memory_order_release);
    }
}

void HMDDriver::OnFramerateUpdated(int32_t framesPerSecond) {
    QUILLO_ENTRY_SITE("HMDDriver::OnFramerateUpdated");
    GuardedEntry(entrySite_, [&] {
        // 0 and negative rates are not published: the link keeps pacing at the last good rate
        // (it logs the refusal), so the runtime is told the rate frames really come at, and
        // the runtime derives its frame timing from this property (a period of 1 / 0 Hz is
        // infinite, a negative one meaningless).
        if (!FramePacer::IsAcceptedRefreshRate(framesPerSecond)) {
            return;
        }
        const float frequency = static_cast<float>(framesPerSecond);
        displayFrequency_.store(frequency, std::memory_order_relaxed);
        WriteFloatProperty(Properties(), propertyContainer_.load(std::memory_order_acquire),
                           vr::Prop_DisplayFrequency_Float, frequency);
        WriteDriverLog("Updating headset fps, new value: %f \n", static_cast<double>(frequency));
    });
}

void HMDDriver::UpdatePose() {
    if (host_ == nullptr) {
        return;
    }
    const uint32_t index = deviceIndex_.load(std::memory_order_acquire);
    // The sensor reports the headset as worn, even before the runtime has activated it.
    host_->ProximitySensorState(index, true);
    if (index == vr::k_unTrackedDeviceIndexInvalid) {
        return;
    }
    if (poseDirty_.exchange(false, std::memory_order_acq_rel)) {
        BuildPose();
    }
    pose_.poseTimeOffset = 0.0;
    host_->TrackedDevicePoseUpdated(index, pose_, sizeof(vr::DriverPose_t));
}

}  // namespace quillo
