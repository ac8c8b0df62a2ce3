#include "frame_loops.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frame_pattern.h"
#include "gpu/gpu_backend.h"
#include "gpu/gpu_device.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "scene_source.h"

namespace quillo::host {

namespace {

constexpr uint32_t kRgba8 = 28;  // DXGI_FORMAT_R8G8B8A8_UNORM, as the runtime's compositor uses
// How long the host waits for a texture of its own: only the driver takes it, and only
// inside a present call, so the host never really waits.
constexpr uint32_t kOwnTextureTimeoutMs = 5000;

struct LoopOptions {
    std::string kind;
    int64_t holdSyncAt = -1;
    uint64_t holdSyncFrames = 0;
    bool sharedEyeTexture = false;
};

bool ParseNumber(const std::string& text, uint64_t& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (end == nullptr || *end != '\0' || text[0] == '-') return false;
    out = value;
    return true;
}

bool ParseLoopOptions(const std::string& mode, LoopOptions& out, std::string& error) {
    size_t start = 0;
    bool first = true;
    while (start <= mode.size()) {
        size_t comma = mode.find(',', start);
        if (comma == std::string::npos) comma = mode.size();
        const std::string item = mode.substr(start, comma - start);
        start = comma + 1;
        if (first) {
            first = false;
            if (item != "auto" && item != "virtual" && item != "direct") {
                error =
                    "unknown --frames-mode \"" + item + "\" (known: none, auto, virtual, direct)";
                return false;
            }
            out.kind = item;
            continue;
        }
        const size_t equals = item.find('=');
        const std::string key = item.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
        uint64_t number = 0;
        if (key == "hold-sync-at" && ParseNumber(value, number)) {
            out.holdSyncAt = static_cast<int64_t>(number);
            if (out.holdSyncFrames == 0) out.holdSyncFrames = 1;
        } else if (key == "hold-sync-frames" && ParseNumber(value, number)) {
            out.holdSyncFrames = number;
        } else if (key == "shared-eye-texture" && equals == std::string::npos) {
            out.sharedEyeTexture = true;
        } else {
            error = "bad --frames-mode option \"" + item + "\"";
            return false;
        }
    }
    return true;
}

uint64_t NowMicros() {
    return frames::CounterMicros(platform::CounterNow(), platform::CounterFrequency());
}

// Present-call durations, for the summary line.
struct PresentTimes {
    uint64_t count = 0;
    uint64_t totalMicros = 0;
    uint64_t maxMicros = 0;
    void Add(uint64_t micros) {
        ++count;
        totalMicros += micros;
        if (micros > maxMicros) maxMicros = micros;
    }
    double MeanMs() const { return count ? totalMicros / 1000.0 / count : 0.0; }
    double MaxMs() const { return maxMicros / 1000.0; }
};

std::shared_ptr<gpu::Texture> MakeKeyedTexture(gpu::Device& device, uint32_t width,
                                               uint32_t height) {
    gpu::TextureDesc desc;
    desc.width = width;
    desc.height = height;
    desc.format = kRgba8;
    desc.bindFlags = gpu::kBindShaderResource | gpu::kBindRenderTarget;
    desc.miscFlags = gpu::kMiscSharedKeyedMutex;
    return device.CreateTexture(desc);
}

// ---- virtual display ----------------------------------------------------------------------

// The runtime's compositor in virtual-display mode: draws both eyes side by side into a
// shared back buffer (holding the buffer's keyed mutex while drawing), presents it, waits for
// the driver's pacing and reads the frame counter.
class VirtualDisplayLoop final : public FrameLoop {
  public:
    static constexpr int kBackBuffers = 3;

    VirtualDisplayLoop(vr::IVRVirtualDisplay& display, std::unique_ptr<gpu::Device> device,
                       uint32_t width, uint32_t height, std::unique_ptr<SceneSource> scene)
        : display_(display),
          device_(std::move(device)),
          scene_(std::move(scene)),
          width_(width),
          height_(height),
          pixels_(static_cast<size_t>(width) * height * 4) {}

    bool Create(std::string& error) {
        for (auto& buffer : backBuffers_) {
            buffer = MakeKeyedTexture(*device_, width_, height_);
            if (!buffer || buffer->SharedHandle() == 0 || !buffer->HasKeyedMutex()) {
                error = "cannot make a shared back buffer on the " +
                        std::string(device_->BackendName()) + " device";
                return false;
            }
        }
        std::printf("frame loop: virtual display %ux%u, %d back buffers, %s device\n", width_,
                    height_, kBackBuffers, device_->BackendName());
        return true;
    }

    const char* Name() const override { return "virtual display"; }

    void RunFrame(uint64_t frameNumber) override {
        gpu::Texture& buffer = *backBuffers_[frameNumber % kBackBuffers];
        const uint32_t eyeWidth = width_ / 2;
        const uint64_t stampMicros = NowMicros();
        if (buffer.AcquireSync(0, kOwnTextureTimeoutMs) != gpu::SyncResult::Ok) {
            ++skipped_;
            return;
        }
        scene_->BeginFrame();
        for (uint8_t eye = 0; eye < 2; ++eye) {
            frames::FrameStamp stamp{eye, static_cast<uint32_t>(frameNumber), stampMicros};
            scene_->DrawEye(stamp, pixels_.data() + eye * eyeWidth * 4, width_ * 4);
        }
        scene_->EndFrame();
        device_->UpdateTexture(buffer, pixels_.data(), width_ * 4);
        buffer.ReleaseSync(0);

        const uint64_t before = NowMicros();
        display_.Present(buffer.SharedHandle());
        const uint64_t presented = NowMicros();
        display_.WaitForPresent();
        presentTimes_.Add(presented - before);
        waitTimes_.Add(NowMicros() - presented);
        ++presents_;

        float secondsSinceVsync = 0.0f;
        uint64_t counter = 0;
        if (display_.GetTimeSinceLastVsync(&secondsSinceVsync, &counter) && counter != presents_) {
            ++counterMismatches_;
        }
    }

    void Finish() override {
        std::printf(
            "frame loop: %llu frames presented, %llu skipped; Present mean %.3f ms max "
            "%.3f ms, WaitForPresent mean %.3f ms max %.3f ms; frame counter mismatches "
            "%llu\n",
            static_cast<unsigned long long>(presents_), static_cast<unsigned long long>(skipped_),
            presentTimes_.MeanMs(), presentTimes_.MaxMs(), waitTimes_.MeanMs(), waitTimes_.MaxMs(),
            static_cast<unsigned long long>(counterMismatches_));
        scene_->PrintFigures();
        std::fflush(stdout);
        for (auto& buffer : backBuffers_) buffer.reset();
    }

  private:
    vr::IVRVirtualDisplay& display_;
    std::unique_ptr<gpu::Device> device_;
    std::unique_ptr<SceneSource> scene_;
    uint32_t width_;
    uint32_t height_;
    std::vector<uint8_t> pixels_;
    std::shared_ptr<gpu::Texture> backBuffers_[kBackBuffers];
    PresentTimes presentTimes_;
    PresentTimes waitTimes_;
    uint64_t presents_ = 0;
    uint64_t skipped_ = 0;
    uint64_t counterMismatches_ = 0;
};

// ---- direct mode --------------------------------------------------------------------------

// The runtime's compositor in direct mode: asks the driver for swap texture sets, renders each
// eye into the set's current texture, submits one layer and presents with a sync texture that
// it holds while rendering (and, on request, through the present).
class DirectModeLoop final : public FrameLoop {
  public:
    DirectModeLoop(vr::IVRDriverDirectModeComponent& direct, std::unique_ptr<gpu::Device> device,
                   uint32_t eyeWidth, uint32_t height, const LoopOptions& options,
                   std::unique_ptr<SceneSource> scene)
        : direct_(direct),
          device_(std::move(device)),
          scene_(std::move(scene)),
          eyeWidth_(eyeWidth),
          height_(height),
          options_(options) {}

    bool Create(std::string& error) {
        const uint32_t pid = platform::CurrentProcessId();
        sets_ = options_.sharedEyeTexture ? 1 : 2;
        const uint32_t textureWidth = options_.sharedEyeTexture ? eyeWidth_ * 2 : eyeWidth_;
        pixels_.resize(static_cast<size_t>(textureWidth) * height_ * 4);
        for (int set = 0; set < sets_; ++set) {
            vr::SharedTextureHandle_t handles[3] = {0, 0, 0};
            direct_.CreateSwapTextureSet(pid, kRgba8, textureWidth, height_, &handles);
            for (int i = 0; i < 3; ++i) {
                handles_[set][i] = handles[i];
                textures_[set][i] = handles[i] ? device_->OpenSharedTexture(handles[i]) : nullptr;
                if (!textures_[set][i]) {
                    error = "the driver's swap texture " + std::to_string(i) + " of set " +
                            std::to_string(set) + " cannot be opened";
                    return false;
                }
            }
        }
        sync_ = MakeKeyedTexture(*device_, 16, 16);
        if (!sync_ || sync_->SharedHandle() == 0 || !sync_->HasKeyedMutex()) {
            error = "cannot make a shared sync texture on the " +
                    std::string(device_->BackendName()) + " device";
            return false;
        }
        std::printf("frame loop: direct mode, eyes %ux%u in %s, %s device\n", eyeWidth_, height_,
                    options_.sharedEyeTexture ? "one shared texture set" : "one set per eye",
                    device_->BackendName());
        return true;
    }

    const char* Name() const override { return "direct mode"; }

    void RunFrame(uint64_t frameNumber) override {
        vr::SharedTextureHandle_t current[2] = {handles_[0][0], handles_[sets_ - 1][0]};
        uint32_t indices[2] = {0, 0};
        direct_.GetNextSwapTextureSetIndex(current, &indices);
        if (indices[0] > 2 || indices[1] > 2) {
            ++badIndices_;
            return;
        }
        if (sync_->AcquireSync(0, kOwnTextureTimeoutMs) != gpu::SyncResult::Ok) {
            ++skipped_;
            return;
        }
        const uint64_t stampMicros = NowMicros();
        vr::SharedTextureHandle_t layer[2];
        vr::VRTextureBounds_t bounds[2];
        scene_->BeginFrame();
        for (uint8_t eye = 0; eye < 2; ++eye) {
            frames::FrameStamp stamp{eye, static_cast<uint32_t>(frameNumber), stampMicros};
            if (options_.sharedEyeTexture) {
                scene_->DrawEye(stamp, pixels_.data() + eye * eyeWidth_ * 4, eyeWidth_ * 8);
                layer[eye] = handles_[0][indices[0]];
                bounds[eye] = {eye * 0.5f, 0.0f, eye * 0.5f + 0.5f, 1.0f};
            } else {
                scene_->DrawEye(stamp, pixels_.data(), eyeWidth_ * 4);
                device_->UpdateTexture(*textures_[eye][indices[eye]], pixels_.data(),
                                       eyeWidth_ * 4);
                layer[eye] = handles_[eye][indices[eye]];
                bounds[eye] = {0.0f, 0.0f, 1.0f, 1.0f};
            }
        }
        if (options_.sharedEyeTexture) {
            device_->UpdateTexture(*textures_[0][indices[0]], pixels_.data(), eyeWidth_ * 8);
        }
        scene_->EndFrame();
        const vr::HmdMatrix34_t pose = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};
        direct_.SubmitLayer(layer, bounds, &pose);

        const bool hold = options_.holdSyncAt >= 0 &&
                          frameNumber >= static_cast<uint64_t>(options_.holdSyncAt) &&
                          frameNumber < options_.holdSyncAt + options_.holdSyncFrames;
        if (!hold) sync_->ReleaseSync(0);
        const uint64_t before = NowMicros();
        direct_.Present(sync_->SharedHandle());
        presentTimes_.Add(NowMicros() - before);
        if (hold) {
            sync_->ReleaseSync(0);
            ++held_;
            std::printf("frame loop: frame %llu presented with the sync texture held\n",
                        static_cast<unsigned long long>(frameNumber));
        }
        ++presents_;
    }

    void Finish() override {
        std::printf(
            "frame loop: %llu frames presented, %llu with the sync texture held, %llu "
            "skipped, %llu bad swap indices; Present mean %.3f ms max %.3f ms\n",
            static_cast<unsigned long long>(presents_), static_cast<unsigned long long>(held_),
            static_cast<unsigned long long>(skipped_), static_cast<unsigned long long>(badIndices_),
            presentTimes_.MeanMs(), presentTimes_.MaxMs());
        scene_->PrintFigures();
        std::fflush(stdout);
        // The host's references go first, then the driver forgets the sets.
        for (auto& set : textures_) {
            for (auto& texture : set) texture.reset();
        }
        for (int set = 0; set < sets_; ++set) direct_.DestroySwapTextureSet(handles_[set][0]);
        sync_.reset();
    }

  private:
    vr::IVRDriverDirectModeComponent& direct_;
    std::unique_ptr<gpu::Device> device_;
    std::unique_ptr<SceneSource> scene_;
    uint32_t eyeWidth_;
    uint32_t height_;
    LoopOptions options_;
    int sets_ = 2;
    vr::SharedTextureHandle_t handles_[2][3] = {};
    std::shared_ptr<gpu::Texture> textures_[2][3];
    std::shared_ptr<gpu::Texture> sync_;
    std::vector<uint8_t> pixels_;
    PresentTimes presentTimes_;
    uint64_t presents_ = 0;
    uint64_t held_ = 0;
    uint64_t skipped_ = 0;
    uint64_t badIndices_ = 0;
};

}  // namespace

std::unique_ptr<FrameLoop> MakePresentingFrameLoop(const std::string& mode,
                                                   const HeadsetComponents& components,
                                                   std::string& error) {
    LoopOptions options;
    if (!ParseLoopOptions(mode, options, error)) return nullptr;
    std::string kind = options.kind;
    if (kind == "auto") kind = components.virtualDisplay != nullptr ? "virtual" : "direct";
    if (kind == "virtual" && components.virtualDisplay == nullptr) {
        error = "the headset offers no IVRVirtualDisplay_001";
        return nullptr;
    }
    if (kind == "direct" && components.directMode == nullptr) {
        error = "the headset offers no IVRDriverDirectModeComponent_002";
        return nullptr;
    }
    if (components.display == nullptr) {
        error = "the headset offers no IVRDisplayComponent_002 to size the frames";
        return nullptr;
    }
    int32_t x = 0, y = 0;
    uint32_t width = 0, height = 0;
    components.display->GetWindowBounds(&x, &y, &width, &height);
    // The frames are drawn at the window size the output textures have: both eyes side by
    // side, each eye exactly as wide as its half, so the picture reaches the companion texel
    // for texel.
    if (width < 2 || height == 0 || width > 16384 || height > 16384) {
        error = "window bounds " + std::to_string(width) + "x" + std::to_string(height) +
                " are no frame size";
        return nullptr;
    }
    std::unique_ptr<gpu::Device> device = gpu::CreateGpuDevice();
    if (!device) {
        error = "no GPU device for the frame loop";
        return nullptr;
    }
    auto scene =
        std::make_unique<SceneSource>(components.poses, *components.display, width / 2, height);
    if (kind == "virtual") {
        auto loop = std::make_unique<VirtualDisplayLoop>(
            *components.virtualDisplay, std::move(device), width, height, std::move(scene));
        if (!loop->Create(error)) return nullptr;
        return loop;
    }
    auto loop = std::make_unique<DirectModeLoop>(*components.directMode, std::move(device),
                                                 width / 2, height, options, std::move(scene));
    if (!loop->Create(error)) return nullptr;
    return loop;
}

}  // namespace quillo::host
