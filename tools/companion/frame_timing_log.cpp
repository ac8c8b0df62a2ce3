#include "frame_timing_log.h"

#include <algorithm>
#include <cstdio>

namespace quillo::companion {

namespace {

// A window longer than this (the status line stopped for minutes) takes its percentiles
// from its newest frames.
constexpr size_t kWindowCapacity = 8192;

}  // namespace

FrameTimingLog::FrameTimingLog(size_t capacity) {
    frames_.reserve(capacity);
    scratch_.reserve(kWindowCapacity);
}

void FrameTimingLog::Add(uint32_t sequence, uint64_t stampMicros, uint64_t arrivalMicros,
                         int textureIndex) {
    if (frames_.size() == frames_.capacity()) return;
    frames_.push_back({sequence, textureIndex, stampMicros, arrivalMicros});
}

TimingWindow FrameTimingLog::TakeWindow() {
    TimingWindow window;
    const size_t end = frames_.size();
    window.frames = end - windowStart_;
    const size_t first = std::max(windowStart_, end - std::min(end, kWindowCapacity));
    windowStart_ = end;
    if (first == end) return window;
    scratch_.clear();
    for (size_t i = first; i < end; ++i) {
        scratch_.push_back(static_cast<int64_t>(frames_[i].arrivalMicros - frames_[i].stampMicros));
    }
    std::sort(scratch_.begin(), scratch_.end());
    // Nearest rank: the smallest value with at least p percent of the values at or below it.
    const auto rank = [&](size_t percent) {
        const size_t n = scratch_.size();
        const size_t r = (n * percent + 99) / 100;
        return scratch_[r == 0 ? 0 : r - 1] / 1000.0;
    };
    window.latencyP50Ms = rank(50);
    window.latencyP99Ms = rank(99);
    return window;
}

bool FrameTimingLog::WriteCsv(const std::string& path, std::string& error) const {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot create " + path;
        return false;
    }
    bool ok = std::fputs("sequence,arrival_s,interval_ms,latency_ms,texture\n", file) >= 0;
    const uint64_t start = frames_.empty() ? 0 : frames_.front().arrivalMicros;
    for (size_t i = 0; ok && i < frames_.size(); ++i) {
        const Frame& frame = frames_[i];
        char interval[32] = "";
        if (i > 0) {
            std::snprintf(
                interval, sizeof interval, "%.3f",
                static_cast<double>(frame.arrivalMicros - frames_[i - 1].arrivalMicros) / 1000.0);
        }
        ok =
            std::fprintf(
                file, "%u,%.6f,%s,%.3f,%d\n", frame.sequence,
                static_cast<double>(frame.arrivalMicros - start) / 1e6, interval,
                static_cast<double>(static_cast<int64_t>(frame.arrivalMicros - frame.stampMicros)) /
                    1000.0,
                frame.textureIndex) > 0;
    }
    ok = std::fclose(file) == 0 && ok;
    if (!ok) error = "cannot write " + path;
    return ok;
}

}  // namespace quillo::companion
