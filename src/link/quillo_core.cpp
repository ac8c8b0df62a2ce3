#include "link/quillo_core.h"

#include <cstdlib>
#include <cstring>

#include "gpu/frame_compositor.h"
#include "link/frame_shared_memory.h"
#include "link/haptic_channel.h"
#include "link/link_named_mutexes.h"
#include "link/transmission_pipe.h"
#include "link/wire_format.h"
#include "platform/log_sink.h"
#include "platform/pipe.h"
#include "platform/process.h"

namespace quillo {

static_assert(sizeof(QuilloCore::kLinkNameAlphabet) == 63, "62 characters and the NUL");
static_assert(QuilloCore::kLinkNameFieldSize == wire::kLinkNameFieldSize, "FrameInfo field");

QuilloCore::QuilloCore(platform::Clock& clock)
    : clock_(clock), pacer_(clock), haptics_(std::make_shared<HapticChannel>(this)) {
    platform::RaiseTimerResolution();
}

QuilloCore::~QuilloCore() {
    // Controllers keep the channel; from here on their pulses go nowhere.
    haptics_->Detach();
    // The pipe goes first: its destructor joins the connect and reader threads, after which
    // nothing calls OnFramerateUpdated or reads the link's state any more.
    if (pipe_) pipe_->Stop();
    pipe_.reset();
    compositor_.reset();
    namedMutexes_.reset();
    sharedMemory_.reset();
}

void QuilloCore::GenerateLinkName(char (&out)[kLinkNameFieldSize]) {
    // The C runtime's generator, never seeded here: whoever seeds it for the process decides.
    for (std::size_t i = 0; i < kLinkNameLength; ++i) {
        out[i] = kLinkNameAlphabet[std::rand() % 62];
    }
    for (std::size_t i = kLinkNameLength; i < kLinkNameFieldSize; ++i) out[i] = '\0';
}

void QuilloCore::MutexName(const char* linkName, char suffix, char (&out)[kLinkNameFieldSize + 1]) {
    std::size_t length = 0;
    while (length < kLinkNameFieldSize - 1 && linkName[length] != '\0') {
        out[length] = linkName[length];
        ++length;
    }
    out[length] = suffix;
    for (std::size_t i = length + 1; i < sizeof out; ++i) out[i] = '\0';
}

void QuilloCore::Initialize() {
    Initialize(platform::PipeSuffixFromEnvironment());
}

void QuilloCore::Initialize(const std::string& pipeNameSuffix) {
    if (initialized_) return;
    GenerateLinkName(linkName_);
    pipe_ = std::make_unique<TransmissionPipe>(pipeNameSuffix);
    sharedMemory_ = std::make_unique<FrameSharedMemory>();
    sharedMemory_->Create(linkName_);
    compositor_ = std::make_unique<FrameCompositor>();
    initialized_ = true;
    // The interval is set before the link listens for rates, so a rate that the reader thread
    // delivers at once cannot be overwritten by this start value.
    pacer_.SetRefreshRate(pacer_.refreshRate());
    pipe_->AddFramerateListener(this);
    namedMutexes_ = std::make_unique<LinkNamedMutexes>(linkName_);
}

void QuilloCore::OnFramerateUpdated(int32_t framesPerSecond) {
    if (pacer_.SetRefreshRate(framesPerSecond)) {
        if (rejectingRates_.exchange(false)) {
            platform::LogLine("driver_quillo: refresh rate %d Hz accepted again\n",
                              framesPerSecond);
        }
        return;
    }
    // A rate of 0 would make the interval infinite and the spin endless, a negative one would
    // make it negative; keep pacing at the last good rate instead.
    if (!rejectingRates_.exchange(true)) {
        platform::LogLine(
            "driver_quillo: ignoring refresh rate %d Hz (only positive rates can be paced), "
            "pacing stays at %d Hz\n",
            framesPerSecond, pacer_.refreshRate());
    }
}

TransmissionPipe& QuilloCore::Pipe() {
    return *pipe_;
}

FrameCompositor& QuilloCore::Compositor() {
    return *compositor_;
}

void QuilloCore::WaitForFrameInterval() {
    pacer_.WaitForFrameInterval();
}

void QuilloCore::SendFrameInfo() {
    if (!initialized_) return;
    pipe_->ClearNewConnection();
    const uint32_t handleLow[2] = {static_cast<uint32_t>(compositor_->OutputSharedHandle(0)),
                                   static_cast<uint32_t>(compositor_->OutputSharedHandle(1))};
    uint8_t payload[wire::kFrameInfoSize];
    const wire::WireError error =
        wire::EncodeFrameInfo(platform::CurrentProcessId(), handleLow, linkName_,
                              compositor_->invertY(), payload, sizeof payload);
    if (error != wire::WireError::kNone) return;  // cannot happen with a 58-character name
    if (!pipe_->IsConnected()) return;
    if (pipe_->WriteMessage(wire::kFrameInfo, payload, sizeof payload) ==
        TransmissionPipe::WriteResult::kBusy) {
        // A haptic pulse held the pipe: try again at the next present rather than leave the
        // companion without its FrameInfo. (A broken write reconnects, which asks anew.)
        pipe_->MarkNewConnection();
    }
}

void QuilloCore::SendHapticPulse(uint32_t controllerId, uint16_t durationMicros) {
    if (!initialized_ || !pipe_->IsConnected()) return;
    const double micros = static_cast<double>(clock_.Now()) /
                          static_cast<double>(pacer_.counterFrequency()) * 1000000.0;
    wire::HapticPulse pulse;
    pulse.controllerId = controllerId;
    pulse.timestampMicros =
        static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(micros)));
    pulse.durationMicros = durationMicros;
    uint8_t payload[wire::kHapticPulseSize];
    if (wire::EncodeHapticPulse(pulse, payload, sizeof payload) != wire::WireError::kNone) return;
    const TransmissionPipe::WriteResult result =
        pipe_->WriteMessage(wire::kHapticPulse, payload, sizeof payload);
    if (result == TransmissionPipe::WriteResult::kWritten) {
        const uint32_t dropped = droppedHapticRun_.exchange(0);
        if (dropped != 0) {
            platform::LogLine(
                "driver_quillo: haptic pulses reach the companion again after %u dropped\n",
                dropped);
        }
    } else if (result != TransmissionPipe::WriteResult::kNotConnected) {
        droppedHapticTotal_.fetch_add(1);
        if (droppedHapticRun_.fetch_add(1) == 0) {
            platform::LogLine(
                "driver_quillo: dropping haptic pulses: the companion's pipe %s\n",
                result == TransmissionPipe::WriteResult::kBusy ? "is busy" : "does not take data");
        }
    }
}

void QuilloCore::HandOverOutputTexture() {
    if (pipe_->NewConnectionPending()) SendFrameInfo();
    // Before the first hand-over the driver holds neither mutex; that first release fails and
    // changes nothing.
    compositor_->ReleaseOutput(frameIndex_);
    frameIndex_ = (frameIndex_ + 1) % 2;
    // Blocks until the companion has released the texture: the runtime's frames stop while
    // the companion keeps it. A companion that died holding it leaves the mutex abandoned,
    // which hands it to the driver.
    compositor_->AcquireOutput(frameIndex_, gpu::kWaitInfinite);
}

bool QuilloCore::AcquireRuntimeTexture(gpu::Texture& texture, const char* what) {
    const gpu::SyncResult result = texture.AcquireSync(0, pacer_.FrameTimeoutMs());
    if (result == gpu::SyncResult::Ok) {
        if (droppedFrames_ != 0) {
            platform::LogLine("driver_quillo: frames flow again after %u dropped\n",
                              droppedFrames_);
            droppedFrames_ = 0;
        }
        return true;
    }
    // An abandoned mutex is held now, but what its last holder left may be half-written:
    // release it and drop the frame like any other failed acquire.
    if (result == gpu::SyncResult::Abandoned) texture.ReleaseSync(0);
    if (droppedFrames_++ == 0) {
        platform::LogLine(
            "driver_quillo: dropping frames, the runtime's %s was not released within %u ms\n",
            what, pacer_.FrameTimeoutMs());
    }
    return false;
}

void QuilloCore::PresentDirect(uint64_t syncTexture, std::vector<SubmittedLayer>& layers) {
    if (!initialized_) {
        layers.clear();
        return;
    }
    sharedMemory_->WriteSlot(frameIndex_, 0);

    // Opened for this frame only; the reference is released when the present returns.
    std::shared_ptr<gpu::Texture> sync = compositor_->OpenRuntimeTexture(syncTexture);
    if (sync && !sync->HasKeyedMutex()) sync.reset();
    if (sync && !AcquireRuntimeTexture(*sync, "sync texture")) {
        // Dropped: nothing drawn, nothing handed over, no pacing.
        layers.clear();
        return;
    }

    compositor_->BindOpaqueBlend();
    for (const SubmittedLayer& layer : layers) compositor_->RenderLayer(frameIndex_, layer);
    layers.clear();  // keeps its storage: no allocation next frame

    HandOverOutputTexture();
    compositor_->ClearOutput(frameIndex_);
    pacer_.WaitForFrameInterval();

    if (sync) sync->ReleaseSync(0);
}

void QuilloCore::PresentVirtual(uint64_t backBuffer) {
    if (!initialized_) return;
    // Opened for this frame only; the reference is released when the present returns.
    std::shared_ptr<gpu::Texture> source = compositor_->OpenRuntimeTexture(backBuffer);
    bool held = false;
    if (source && source->HasKeyedMutex()) {
        if (!AcquireRuntimeTexture(*source, "back buffer")) return;
        held = true;
    }
    // A back buffer that cannot be opened skips the copy; the output texture is still handed
    // over.
    if (source) compositor_->CopyIntoOutput(frameIndex_, *source);
    if (held) source->ReleaseSync(0);
    HandOverOutputTexture();
}

}  // namespace quillo
