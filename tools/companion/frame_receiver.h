// The companion's frame side: opens the driver's two output textures named by FrameInfo and
// reads every frame under the keyed-mutex rule on a thread of its own: it acquires key 0 on
// the texture the driver has just released (they alternate, starting with texture 0), reads
// it, and releases key 0 again. A read that finds an older frame than the last one (the
// reader took the texture in the moment between the driver releasing the other texture and
// taking this one) is not counted, and the same texture is waited for again: the driver draws
// into it next. Frames are checked and counted (frame_tally.h), saved as PNG
// on request, and can be held on purpose to show that the runtime stalls meanwhile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_png_writer.h"
#include "frame_side.h"
#include "frame_tally.h"
#include "gpu/gpu_device.h"

namespace quillo::companion {

struct FrameReceiverSettings {
    std::string pngDir;            // empty: no PNG files
    uint32_t pngEvery = 0;         // every n-th frame; 0: the first frame of each connection
    std::string statsPath;         // empty: no JSON
    uint32_t holdAfterFrames = 0;  // after the n-th frame of a connection ...
    uint32_t holdMs = 0;           // ... keep the texture this long; 0: never
};

class FrameReceiver final : public FrameSide {
  public:
    FrameReceiver(const FrameReceiverSettings& settings, CompanionOutput& output);
    ~FrameReceiver() override;

    void OnFrameInfo(const wire::FrameInfo& info, uint32_t connection) override;
    void OnDisconnected(uint32_t connection) override;
    void Tick() override {}
    std::string StatusText() override;
    void Finish() override;

    // Writes the newest counted frame as PNG. False when there is none or writing fails.
    bool SaveLatestFrame(const std::string& path);

  private:
    void StopReader();
    void ReadFrames(std::shared_ptr<gpu::Texture> textures[2], uint32_t connection);
    // Waits up to `ms` unless the reader is told to stop. Returns false when stopping.
    bool PauseUnlessStopping(uint32_t ms);
    // Writes the statistics JSON (with tallyMutex_ held).
    void WriteStatsLocked();

    FrameReceiverSettings settings_;
    CompanionOutput& output_;
    std::unique_ptr<gpu::Device> device_;

    std::thread reader_;
    std::atomic<bool> stopping_{false};
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;

    // The tally and the newest frame are shared with the main loop (status, Finish, PNG).
    mutable std::mutex tallyMutex_;
    FrameTally tally_;
    std::vector<uint8_t> latest_;
    uint32_t latestWidth_ = 0;
    uint32_t latestHeight_ = 0;
    uint32_t latestSequence_ = 0;
    bool finished_ = false;
    uint32_t pngDropped_ = 0;
    FramePngWriter pngWriter_;
};

// The frame side for `options`, or nullptr (after saying why through `output`, which
// outlives it) when it cannot run; the companion then exits with an error.
std::unique_ptr<FrameSide> MakeFrameReceiver(const CompanionOptions& options,
                                             CompanionOutput& output);

}  // namespace quillo::companion
