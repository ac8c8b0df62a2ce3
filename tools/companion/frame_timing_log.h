// The time line of a run's frames: for every frame counted, when the host stamped it and when
// it arrived here. Written as CSV when the run ends (one row a frame: sequence, arrival time,
// interval since the frame before, latency, output texture), and read once a second for the
// live status line. Storage is reserved up front; adding a frame allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo::companion {

// Figures over the frames added since the last TakeWindow.
struct TimingWindow {
    size_t frames = 0;
    double latencyP50Ms = 0.0;
    double latencyP99Ms = 0.0;
};

class FrameTimingLog {
  public:
    // Frames beyond `capacity` are not kept (a run of more than half an hour at 90 Hz).
    explicit FrameTimingLog(size_t capacity = 200000);

    void Add(uint32_t sequence, uint64_t stampMicros, uint64_t arrivalMicros, int textureIndex);
    TimingWindow TakeWindow();
    size_t size() const { return frames_.size(); }
    // False with a reason when writing fails.
    bool WriteCsv(const std::string& path, std::string& error) const;

  private:
    struct Frame {
        uint32_t sequence;
        int32_t textureIndex;
        uint64_t stampMicros;
        uint64_t arrivalMicros;
    };
    std::vector<Frame> frames_;
    size_t windowStart_ = 0;
    std::vector<int64_t> scratch_;  // latencies of one window, for the percentiles
};

}  // namespace quillo::companion
