#include "host_run.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "common/dynamic_library.h"
#include "frame_loop.h"
#include "runtime/driver_calls.h"
#include "runtime/fake_interfaces.h"
#include "runtime/fake_runtime.h"

namespace quillo::host {

namespace {

using HmdDriverFactoryFn = void* (*)(const char*, int*);

std::atomic<bool> g_stopRequested{false};

extern "C" void OnStopSignal(int) {
    g_stopRequested.store(true);
}

void PrintLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool ShouldPrint(const runtime::RuntimeEvent& event, bool quiet) {
    switch (event.kind) {
        case runtime::EventKind::PoseUpdated:
        case runtime::EventKind::Proximity:
            return false;  // printed at intervals by the frame loop instead
        case runtime::EventKind::PropertyWrite:
        case runtime::EventKind::SettingRead:
        case runtime::EventKind::SettingWritten:
            return !quiet;
        default:
            return true;
    }
}

std::string DescribeEvent(const runtime::RuntimeEvent& event) {
    if (event.kind == runtime::EventKind::PropertyWrite) {
        const char* name = runtime::PropertyName(event.property);
        char prefix[96];
        std::snprintf(prefix, sizeof(prefix),
                      "property: device %d %s = ", static_cast<int>(event.deviceIndex),
                      name != nullptr ? name : std::to_string(event.property).c_str());
        return prefix + event.value.Describe();
    }
    if (event.kind == runtime::EventKind::DeviceAdded) {
        char line[256];
        std::snprintf(line, sizeof(line), "device added: serial \"%s\", class %s, id %d%s",
                      event.serial.c_str(), runtime::DeviceClassName(event.deviceClass),
                      static_cast<int>(event.deviceIndex), event.accepted ? "" : " (refused)");
        return line;
    }
    return event.Describe();
}

void PrintDisplay(vr::IVRDisplayComponent& display) {
    int32_t x = 0, y = 0;
    uint32_t width = 0, height = 0, rtWidth = 0, rtHeight = 0;
    display.GetWindowBounds(&x, &y, &width, &height);
    display.GetRecommendedRenderTargetSize(&rtWidth, &rtHeight);
    std::printf("display: window %d %d %ux%u, render target %ux%u, on desktop %d, real %d\n", x, y,
                width, height, rtWidth, rtHeight, display.IsDisplayOnDesktop() ? 1 : 0,
                display.IsDisplayRealDisplay() ? 1 : 0);
    for (int eye = 0; eye < 2; ++eye) {
        uint32_t vx = 0, vy = 0, vw = 0, vh = 0;
        float left = 0, right = 0, top = 0, bottom = 0;
        display.GetEyeOutputViewport(static_cast<vr::EVREye>(eye), &vx, &vy, &vw, &vh);
        display.GetProjectionRaw(static_cast<vr::EVREye>(eye), &left, &right, &top, &bottom);
        std::printf("display: %s eye viewport %u %u %ux%u, projection %g %g %g %g\n",
                    eye == 0 ? "left" : "right", vx, vy, vw, vh, static_cast<double>(left),
                    static_cast<double>(right), static_cast<double>(top),
                    static_cast<double>(bottom));
    }
    std::fflush(stdout);
}

void PrintPoses(const runtime::FakeRuntime& fake, uint64_t frame) {
    for (const runtime::DeviceRecord& device : fake.Devices()) {
        if (!device.hasPose) {
            continue;
        }
        runtime::RuntimeEvent event;
        event.kind = runtime::EventKind::PoseUpdated;
        event.deviceIndex = device.id;
        event.pose = device.latestPose;
        std::printf("frame %llu: %s (%llu poses)\n", static_cast<unsigned long long>(frame),
                    event.Describe().c_str(), static_cast<unsigned long long>(device.poseCount));
    }
    std::fflush(stdout);
}

void SendHaptics(const runtime::FakeRuntime& fake, uint16_t durationMicros) {
    for (const runtime::DeviceRecord& device : fake.Devices()) {
        if (device.deviceClass != vr::TrackedDeviceClass_Controller || !device.activated) {
            continue;
        }
        auto* controller = static_cast<vr::IVRControllerComponent*>(
            device.driver->GetComponent(vr::IVRControllerComponent_Version));
        if (controller == nullptr) {
            std::printf("haptic: device %u has no controller component\n", device.id);
            continue;
        }
        const bool result = controller->TriggerHapticPulse(0, durationMicros);
        std::printf("haptic: device %u (\"%s\") %u us -> %s\n", device.id, device.serial.c_str(),
                    static_cast<unsigned>(durationMicros), result ? "true" : "false");
    }
    std::fflush(stdout);
}

// One run, step by step: each step that can fail returns the exit code to end with.
class HostSession {
  public:
    explicit HostSession(const HostOptions& options)
        : options_(options), fake_(RuntimeOptions(options)) {}

    // Prints the runtime's events as they happen (poses are printed at intervals instead).
    void WatchRuntime() {
        const bool quiet = options_.quiet;
        fake_.SetObserver([quiet](const runtime::RuntimeEvent& event) {
            if (ShouldPrint(event, quiet)) PrintLine(DescribeEvent(event));
        });
    }

    int LoadSettings() {
        if (options_.settingsPath.empty()) return kExitOk;
        std::string error;
        if (!fake_.Settings().LoadFile(options_.settingsPath, error)) {
            std::fprintf(stderr, "quillo-host: settings: %s\n", error.c_str());
            return kExitUsage;
        }
        std::printf("settings: %s\n", options_.settingsPath.c_str());
        return kExitOk;
    }

    // Loads the library and asks its HmdDriverFactory for the device provider.
    int LoadDriver() {
        std::string error;
        if (!library_.Load(options_.driverPath, error)) {
            std::fprintf(stderr, "quillo-host: cannot load driver library %s: %s\n",
                         options_.driverPath.c_str(), error.c_str());
            return kExitLibraryNotLoaded;
        }
        auto factory =
            reinterpret_cast<HmdDriverFactoryFn>(library_.FindSymbol("HmdDriverFactory", error));
        if (factory == nullptr) {
            std::fprintf(stderr, "quillo-host: %s has no HmdDriverFactory: %s\n",
                         options_.driverPath.c_str(), error.c_str());
            return kExitNoFactory;
        }
        int factoryError = 0;
        provider_ = static_cast<vr::IServerTrackedDeviceProvider*>(
            factory(vr::IServerTrackedDeviceProvider_Version, &factoryError));
        if (provider_ == nullptr) {
            std::fprintf(stderr, "quillo-host: HmdDriverFactory gave no %s: %s (%d)\n",
                         vr::IServerTrackedDeviceProvider_Version,
                         runtime::InitErrorName(static_cast<vr::EVRInitError>(factoryError)),
                         factoryError);
            return kExitNoProvider;
        }
        std::printf("loaded %s\n", options_.driverPath.c_str());
        if (const char* const* versions = provider_->GetInterfaceVersions()) {
            for (; *versions != nullptr; ++versions) {
                std::printf("interface version: %s\n", *versions);
            }
        }
        std::fflush(stdout);
        return kExitOk;
    }

    int InitDriver() {
        const vr::EVRInitError initResult = provider_->Init(fake_.Context());
        if (initResult != vr::VRInitError_None) {
            // The runtime unloads a driver whose Init fails, without calling Cleanup.
            std::fprintf(stderr, "quillo-host: Init failed: %s (%d)\n",
                         runtime::InitErrorName(initResult), static_cast<int>(initResult));
            return kExitInitFailed;
        }
        std::printf("Init: VRInitError_None (0)\n");
        std::fflush(stdout);
        fake_.ActivatePending();
        return kExitOk;
    }

    // Describes the headset's display and makes the frame loop --frames-mode asks for.
    int PrepareFrameLoop() {
        for (const runtime::DeviceRecord& device : fake_.Devices()) {
            if (device.deviceClass != vr::TrackedDeviceClass_HMD) continue;
            HeadsetComponents components = QueryHeadsetComponents(*device.driver);
            components.poses = &fake_;
            std::printf("headset components: display %s, virtual display %s, direct mode %s\n",
                        components.display ? "yes" : "no", components.virtualDisplay ? "yes" : "no",
                        components.directMode ? "yes" : "no");
            if (components.display != nullptr) PrintDisplay(*components.display);
            std::string error;
            frameLoop_ = MakeFrameLoop(options_.framesMode, components, error);
            if (frameLoop_ == nullptr && options_.framesMode != "none") {
                std::fprintf(stderr, "quillo-host: %s\n", error.c_str());
                return kExitUsage;
            }
            break;
        }
        return kExitOk;
    }

    // Calls RunFrame at the chosen rate until the frame count or time is reached or a stop
    // signal arrives; sends haptic pulses and prints poses on the way.
    void RunFrames() {
        std::signal(SIGINT, OnStopSignal);
        std::signal(SIGTERM, OnStopSignal);
        const uint64_t poseEvery =
            options_.poseEvery != 0
                ? options_.poseEvery
                : static_cast<uint64_t>(options_.rate >= 1.0 ? options_.rate : 60.0);
        start_ = std::chrono::steady_clock::now();
        const auto deadline =
            start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(options_.seconds));
        while (!g_stopRequested.load()) {
            if (options_.frames != 0 && framesRun_ >= options_.frames) break;
            if (options_.seconds > 0.0 && std::chrono::steady_clock::now() >= deadline) break;

            provider_->RunFrame();
            if (frameLoop_ != nullptr) frameLoop_->RunFrame(framesRun_);
            // Controllers are added from the driver's link thread while frames run.
            fake_.ActivatePending();
            if (options_.hapticEvery != 0 && (framesRun_ + 1) % options_.hapticEvery == 0) {
                SendHaptics(fake_, options_.hapticDurationMicros);
            }
            if (options_.printPoses && framesRun_ % poseEvery == 0) PrintPoses(fake_, framesRun_);
            ++framesRun_;
            if (options_.rate > 0.0) {
                std::this_thread::sleep_until(
                    start_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(static_cast<double>(framesRun_) /
                                                               options_.rate)));
            }
        }
    }

    // Cleanup as the runtime does it at shutdown, a summary of every device, then unloading.
    void CleanUpAndUnload() {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        if (frameLoop_ != nullptr) frameLoop_->Finish();
        provider_->Cleanup();
        std::printf("Cleanup done after %llu frames in %.2f s\n",
                    static_cast<unsigned long long>(framesRun_), elapsed);
        for (const runtime::DeviceRecord& device : fake_.Devices()) {
            std::printf(
                "device %u: serial \"%s\", class %s, %s, %llu poses, %llu proximity reports\n",
                device.id, device.serial.c_str(), runtime::DeviceClassName(device.deviceClass),
                device.activated ? "active" : "not active",
                static_cast<unsigned long long>(device.poseCount),
                static_cast<unsigned long long>(device.proximityCount));
        }
        // Nothing the driver does after Cleanup may reach the host any more.
        fake_.SetObserver(nullptr);
        library_.Unload();
        std::printf("driver unloaded\n");
        std::fflush(stdout);
    }

  private:
    static runtime::FakeRuntimeOptions RuntimeOptions(const HostOptions& options) {
        runtime::FakeRuntimeOptions runtimeOptions;
        runtimeOptions.activation = options.inlineActivation ? runtime::ActivationPolicy::Inline
                                                             : runtime::ActivationPolicy::OnRequest;
        // A long run must not grow without bound: poses are counted and the latest kept.
        runtimeOptions.recordPerFrameEvents = false;
        return runtimeOptions;
    }

    const HostOptions& options_;
    // Declared before the library, so the library is unloaded before the runtime goes.
    runtime::FakeRuntime fake_;
    platform::DynamicLibrary library_;
    vr::IServerTrackedDeviceProvider* provider_ = nullptr;
    std::unique_ptr<FrameLoop> frameLoop_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    uint64_t framesRun_ = 0;
};

}  // namespace

int RunHost(const HostOptions& options) {
    HostSession session(options);
    session.WatchRuntime();
    int exitCode = session.LoadSettings();
    if (exitCode == kExitOk) exitCode = session.LoadDriver();
    if (exitCode == kExitOk) exitCode = session.InitDriver();
    // A driver that was not loaded, or whose Init failed, is not cleaned up.
    if (exitCode != kExitOk) return exitCode;
    // A frame loop that cannot be made ends the run without frames, but the driver is still
    // cleaned up and unloaded.
    exitCode = session.PrepareFrameLoop();
    if (exitCode == kExitOk) session.RunFrames();
    session.CleanUpAndUnload();
    return exitCode;
}

}  // namespace quillo::host
