// The companion's frame side: opens the driver's two output textures named by FrameInfo and
// reads every frame under the keyed-mutex rule on a thread of its own: it acquires key 0 on
// the texture the driver has just released (they alternate, starting with texture 0), reads
// it, and releases key 0 again. A read that finds an older frame than the last one (the
// reader took the texture in the moment between the driver releasing the other texture and
// taking this one) is not counted, and the same texture is waited for again: the driver draws
// into it next. Frames are checked and counted (frame_tally.h), saved as PNG
// on request, and can be held on purpose to show that the runtime stalls meanwhile.
// While frames arrive, a status line goes out once a second (frames per second, latency
// p50/p99, missing and repeated frames); at the end the PNG folder gets the last frame
// ("last_frame.png"), a contact sheet of frames across the run ("contact_sheet.png") and every
// frame's timing ("frame_timing.csv").
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "contact_sheet.h"
#include "frame_png_writer.h"
#include "frame_side.h"
#include "frame_tally.h"
#include "frame_timing_log.h"
#include "gpu/gpu_device.h"

namespace quillo::companion {

struct FrameReceiverSettings {
    std::string pngDir;            // empty: no PNG files
    uint32_t pngEvery = 0;         // every n-th frame; 0: the first frame of each connection,
                                   // written when the connection ends
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
    void Tick() override;
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
    // The first frame of the connection (if kept), the last frame, contact sheet and timing CSV
    // into the PNG folder (tallyMutex_ held).
    void WriteRunPicturesLocked();

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
    // The run's pictures on disk show every frame received so far (written when a driver
    // leaves and at the end; not twice for the same frames).
    bool picturesCurrent_ = false;
    // The first frame of a connection, kept for writing with the run's pictures: encoding a
    // 2560x1440 PNG takes about a second of CPU, which must not compete with the frames being
    // timed (on a 2-core machine it cost the first second several frames).
    std::vector<uint8_t> firstFrame_;
    std::string firstFramePath_;
    uint32_t firstFrameWidth_ = 0;
    uint32_t firstFrameHeight_ = 0;
    bool finished_ = false;
    uint32_t pngDropped_ = 0;
    FramePngWriter pngWriter_;
    ContactSheet contactSheet_;
    FrameTimingLog timing_;
    uint64_t lastStatusMicros_ = 0;
};

// The frame side for `options`, or nullptr (after saying why through `output`, which
// outlives it) when it cannot run; the companion then exits with an error.
std::unique_ptr<FrameSide> MakeFrameReceiver(const CompanionOptions& options,
                                             CompanionOutput& output);

}  // namespace quillo::companion
