// The driver's end of the link to the companion: names the link, creates the named objects
// through which the companion finds the headset's frames, owns the pipe channel, the shared
// memory block and the GPU compositor, carries every rendered frame into one of the two shared
// output textures and paces the runtime to the companion's refresh rate.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gpu/submitted_layer.h"
#include "link/frame_pacer.h"
#include "link/listeners.h"
#include "platform/clock.h"

namespace quillo {

namespace gpu {
class Texture;
}
class TransmissionPipe;
class HapticChannel;
class FrameCompositor;
class FrameSharedMemory;
class LinkNamedMutexes;

class QuilloCore final : public IFramerateUpdatedListener {
  public:
    // 58 characters drawn from kLinkNameAlphabet, NUL-terminated in a 60-byte field whose last
    // byte is NUL too.
    static constexpr std::size_t kLinkNameLength = 58;
    static constexpr std::size_t kLinkNameFieldSize = 60;
    static constexpr char kLinkNameAlphabet[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

    // Raises the system timer resolution and reads the counter frequency. `clock` is what
    // pacing and time stamps read; tests pass a fake one. It must outlive the link.
    explicit QuilloCore(platform::Clock& clock = platform::SystemClock());
    // Tears the pipe channel down first (its threads are joined and stop calling this link),
    // then the compositor, the named mutexes and the shared memory.
    ~QuilloCore();
    QuilloCore(const QuilloCore&) = delete;
    QuilloCore& operator=(const QuilloCore&) = delete;

    // One-time start: link name, pipe channel (its connect thread starts), shared memory,
    // an empty compositor, this link as first frame-rate listener, the two named mutexes and
    // the frame interval. A second call does nothing.
    void Initialize();
    // The same with an explicit suffix for both pipe names (tests; see platform/pipe.h).
    void Initialize(const std::string& pipeNameSuffix);
    bool initialized() const { return initialized_; }

    // From the pipe's reader thread: a new refresh rate. Rates of 0 and below keep the last
    // good interval; the first rejected rate of a run is logged, and so is the first good one
    // after it.
    void OnFramerateUpdated(int32_t framesPerSecond) override;

    // Direct mode: draws `layers` into the current output texture, hands it over and paces.
    // Holds the runtime's sync texture (0: none) from before the drawing until after the
    // pacing; when it cannot be acquired within one frame interval the frame is dropped.
    // Always leaves `layers` empty (cleared, its storage kept).
    void PresentDirect(uint64_t syncTexture, std::vector<SubmittedLayer>& layers);
    // Virtual display: copies the runtime's back buffer into the current output texture and
    // hands it over. Does not pace (the runtime calls WaitForFrameInterval through
    // WaitForPresent).
    void PresentVirtual(uint64_t backBuffer);
    // Returns once one frame interval has passed since the previous call; the first call
    // returns at once.
    void WaitForFrameInterval();
    // Sends FrameInfo (process id, low 32 bits of both output handles, link name, invertY) when
    // connected; always clears the pipe's new-connection flag first.
    void SendFrameInfo();
    // Sends a HapticPulse stamped with the counter time in microseconds (low 32 bits). Nothing
    // is sent while the pipe is not connected. Never waits on the pipe longer than the pipe's
    // write bound: a pulse that cannot be written in time is dropped, counted, and the run of
    // drops logged when it starts and when pulses go through again.
    void SendHapticPulse(uint32_t controllerId, uint16_t durationMicros);
    // Pulses dropped since the link was made (busy or stalled pipe).
    uint64_t droppedHapticPulses() const { return droppedHapticTotal_.load(); }
    // For devices that may outlive the link: sends pulses while the link exists, nothing after.
    const std::shared_ptr<HapticChannel>& Haptics() const { return haptics_; }

    // Valid after Initialize only.
    TransmissionPipe& Pipe();
    FrameCompositor& Compositor();
    // Null until Initialize; mapped() tells whether the section could be made.
    FrameSharedMemory* SharedMemory() { return sharedMemory_.get(); }

    // NUL-terminated; empty before Initialize.
    const char* linkName() const { return linkName_; }
    int32_t frameIndex() const { return frameIndex_; }
    int32_t refreshRate() const { return pacer_.refreshRate(); }
    double frameIntervalMs() const { return pacer_.frameIntervalMs(); }
    // Keyed-mutex time-out for the runtime's textures: one interval in whole milliseconds.
    uint32_t frameTimeoutMs() const { return pacer_.FrameTimeoutMs(); }
    int64_t counterFrequency() const { return pacer_.counterFrequency(); }
    int64_t lastFrameCounter() const { return pacer_.lastFrameCounter(); }
    const FramePacer& Pacer() const { return pacer_; }

    // Fills `out` with the link name followed by `suffix` (the named mutexes' names).
    static void MutexName(const char* linkName, char suffix, char (&out)[kLinkNameFieldSize + 1]);
    // Draws a fresh link name with the C runtime's rand() (never seeded here).
    static void GenerateLinkName(char (&out)[kLinkNameFieldSize]);

  private:
    // Releases the current output texture, flips frameIndex and waits without a time-out for
    // the other one; sends FrameInfo first on a new connection.
    void HandOverOutputTexture();
    // Takes the keyed mutex (key 0) of a runtime texture within one frame interval. On
    // failure the frame is to be dropped; a run of dropped frames is logged when it starts
    // and when frames flow again.
    bool AcquireRuntimeTexture(gpu::Texture& texture, const char* what);

    platform::Clock& clock_;
    char linkName_[kLinkNameFieldSize] = {};
    int32_t frameIndex_ = 0;
    FramePacer pacer_;
    bool initialized_ = false;
    // Frames dropped in a row because a runtime texture stayed locked (presenting thread).
    uint32_t droppedFrames_ = 0;
    // Whether the last rate given was rejected, so a run of bad rates is logged once.
    std::atomic<bool> rejectingRates_{false};
    // Haptic pulses dropped in the current run, and in all.
    std::atomic<uint32_t> droppedHapticRun_{0};
    std::atomic<uint64_t> droppedHapticTotal_{0};
    std::shared_ptr<HapticChannel> haptics_;
    // The destructor tears these down pipe first (declared last, so the implicit order
    // agrees): once its threads are joined nothing calls OnFramerateUpdated any more.
    std::unique_ptr<FrameSharedMemory> sharedMemory_;
    std::unique_ptr<LinkNamedMutexes> namedMutexes_;
    std::unique_ptr<FrameCompositor> compositor_;
    std::unique_ptr<TransmissionPipe> pipe_;
};

}  // namespace quillo
