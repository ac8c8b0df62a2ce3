#include "scene_source.h"

#include <cstdio>

#include "platform/clock.h"
#include "runtime/fake_interfaces.h"
#include "runtime/fake_runtime.h"

namespace quillo::host {

namespace {

// What the headset reports when it reports no IPD: a common adult value.
constexpr float kFallbackIpdMeters = 0.063f;

uint64_t NowMicros() {
    return frames::CounterMicros(platform::CounterNow(), platform::CounterFrequency());
}

float HeadsetIpd(const runtime::FakeRuntime* runtime) {
    if (runtime == nullptr) return kFallbackIpdMeters;
    // Read once at start-up; the property store is not meant for per-frame use.
    auto& properties = const_cast<runtime::FakeRuntime*>(runtime)->Properties();
    for (const runtime::DeviceRecord& device : runtime->Devices()) {
        if (device.deviceClass != vr::TrackedDeviceClass_HMD) continue;
        const auto value = properties.Value(runtime::FakeRuntime::ContainerForDevice(device.id),
                                            vr::Prop_UserIpdMeters_Float);
        if (value && value->wellFormed && value->tag == vr::k_unFloatPropertyTag &&
            value->floatValue > 0.0f && value->floatValue < 0.2f) {
            return value->floatValue;
        }
    }
    std::printf(
        "scene: the headset reports no usable Prop_UserIpdMeters_Float; eyes %.3f m "
        "apart\n",
        static_cast<double>(kFallbackIpdMeters));
    return kFallbackIpdMeters;
}

}  // namespace

SceneSource::SceneSource(const runtime::FakeRuntime* runtime, vr::IVRDisplayComponent& display,
                         uint32_t eyeWidth, uint32_t eyeHeight)
    : runtime_(runtime), eyeWidth_(eyeWidth), eyeHeight_(eyeHeight) {
    EyeProjection projections[2];
    for (int eye = 0; eye < 2; ++eye) {
        EyeProjection& p = projections[eye];
        display.GetProjectionRaw(static_cast<vr::EVREye>(eye), &p.left, &p.right, &p.top,
                                 &p.bottom);
    }
    renderer_ =
        std::make_unique<SceneRenderer>(eyeWidth, eyeHeight, projections, HeadsetIpd(runtime));
}

void SceneSource::BeginFrame() {
    const uint64_t start = NowMicros();
    if (runtime_ != nullptr) {
        poses_.hasHead = runtime_->LatestPoses(vr::TrackedDeviceClass_HMD, &poses_.head, 1) == 1;
        poses_.controllerCount = runtime_->LatestPoses(
            vr::TrackedDeviceClass_Controller, poses_.controllers, ScenePoses::kMaxControllers);
    }
    renderer_->CastRays(poses_);
    frameMicros_ = NowMicros() - start;
}

void SceneSource::DrawEye(const frames::FrameStamp& stamp, uint8_t* pixels, size_t rowPitch) {
    const uint64_t start = NowMicros();
    renderer_->DrawEye(stamp, pixels, rowPitch);
    frameMicros_ += NowMicros() - start;
}

void SceneSource::EndFrame() {
    const uint64_t micros = frameMicros_;
    ++frames_;
    totalMicros_ += micros;
    if (micros > maxMicros_) maxMicros_ = micros;
}

void SceneSource::PrintFigures() const {
    std::printf(
        "scene: %ux%u per eye, %ux%u rays (%ux%u pixels each), drawing both eyes mean %.3f ms "
        "max %.3f ms over %llu frames\n",
        eyeWidth_, eyeHeight_, renderer_->internalWidth(), renderer_->internalHeight(),
        renderer_->scale(), renderer_->scale(),
        frames_ ? totalMicros_ / 1000.0 / static_cast<double>(frames_) : 0.0, maxMicros_ / 1000.0,
        static_cast<unsigned long long>(frames_));
}

}  // namespace quillo::host
