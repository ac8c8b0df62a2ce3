#include "frame_tally.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "host/frame_pattern.h"

namespace quillo::companion {

namespace {

// Every 7th pixel of every 7th row is compared, with room for the rounding of a GPU's eye pass.
constexpr uint32_t kCheckStep = 7;
constexpr int kChannelTolerance = 8;
// Ranges beyond this many are counted but not listed.
constexpr size_t kMaxListedRanges = 256;
constexpr size_t kMaxListedFrames = 200000;

// A texture nothing was drawn into: its first and middle rows have no colour at all.
bool IsBlank(const uint8_t* pixels, size_t rowPitch, uint32_t width, uint32_t height) {
    for (uint32_t y : {0u, height / 2}) {
        const uint8_t* row = pixels + y * rowPitch;
        for (uint32_t x = 0; x < width; ++x) {
            if ((row[4 * x] | row[4 * x + 1] | row[4 * x + 2]) != 0) return false;
        }
    }
    return true;
}

}  // namespace

void FrameTally::CountFrameInfo(uint32_t connection) {
    // Connection numbers count up from 1; a runaway number is not worth a huge array.
    if (connection == 0 || connection > 100000) return;
    if (frameInfosPerConnection_.size() < connection) frameInfosPerConnection_.resize(connection);
    ++frameInfosPerConnection_[connection - 1];
}

void FrameTally::NewConnection() {
    ++connections_;
    haveLast_ = false;
    lastTextureIndex_ = -1;
}

FrameVerdict FrameTally::Add(const uint8_t* pixels, size_t rowPitch, uint32_t width,
                             uint32_t height, int textureIndex, uint64_t arrivalMicros) {
    width_ = width;
    height_ = height;
    reads_[textureIndex & 1]++;
    const uint32_t eyeWidth = width / 2;
    frames::FrameStamp stamps[2];
    bool stamped[2];
    for (int eye = 0; eye < 2; ++eye) {
        stamped[eye] =
            frames::ReadStamp(pixels + eye * eyeWidth * 4, rowPitch, eyeWidth, height, stamps[eye]);
    }
    if (!stamped[0] && !stamped[1]) {
        if (IsBlank(pixels, rowPitch, width, height)) {
            ++blanks_;
            return FrameVerdict::kBlank;
        }
        ++unstamped_;
        return FrameVerdict::kUnstamped;
    }
    const frames::FrameStamp& stamp = stamped[0] ? stamps[0] : stamps[1];
    bool good = stamped[0] && stamped[1] && stamps[0].eye == 0 && stamps[1].eye == 1 &&
                stamps[0].sequence == stamps[1].sequence && stamps[0].micros == stamps[1].micros;
    for (int eye = 0; good && eye < 2; ++eye) {
        good = frames::CountCheckBandMismatches(pixels + eye * eyeWidth * 4, rowPitch, eyeWidth,
                                                height, static_cast<uint8_t>(eye), stamp.sequence,
                                                kCheckStep, kChannelTolerance) == 0;
    }
    if (haveLast_ && stamp.sequence <= lastSequence_) {
        ++repeats_;
        return FrameVerdict::kRepeat;
    }
    if (!good) {
        ++badPictures_;
        return FrameVerdict::kBadPicture;
    }
    if (haveLast_ && stamp.sequence > lastSequence_ + 1) {
        missing_ += stamp.sequence - lastSequence_ - 1;
        if (missingRanges_.size() < kMaxListedRanges) {
            missingRanges_.emplace_back(lastSequence_ + 1, stamp.sequence - 1);
        }
    }
    // The driver hands the two textures over in turn, so consecutive frames come from
    // different textures.
    if (lastTextureIndex_ == textureIndex) ++alternationBreaks_;
    lastTextureIndex_ = textureIndex;
    haveLast_ = true;
    lastSequence_ = stamp.sequence;
    lastStampMicros_ = stamp.micros;
    ++frames_;

    const int64_t latency = static_cast<int64_t>(arrivalMicros - stamp.micros);
    if (received_.size() < kMaxListedFrames) {
        received_.push_back({stamp.sequence, static_cast<uint8_t>(textureIndex), latency});
    }
    for (HoldRecord& hold : holds_) {
        if (stamp.micros > hold.startMicros && stamp.micros < hold.endMicros) {
            ++hold.framesStampedDuring;
        }
        if (stamp.micros >= hold.endMicros) ++hold.framesAfter;
    }
    return FrameVerdict::kNew;
}

namespace {

struct LatencyFigures {
    double meanMs = 0, p50Ms = 0, p99Ms = 0, maxMs = 0;
};

template <typename Frames>
LatencyFigures Latencies(const Frames& received) {
    LatencyFigures figures;
    if (received.empty()) return figures;
    std::vector<int64_t> values;
    values.reserve(received.size());
    double sum = 0;
    for (const auto& frame : received) {
        values.push_back(frame.latencyMicros);
        sum += static_cast<double>(frame.latencyMicros);
    }
    std::sort(values.begin(), values.end());
    figures.meanMs = sum / values.size() / 1000.0;
    figures.p50Ms = values[values.size() / 2] / 1000.0;
    figures.p99Ms = values[std::min(values.size() - 1, values.size() * 99 / 100)] / 1000.0;
    figures.maxMs = values.back() / 1000.0;
    return figures;
}

}  // namespace

std::string FrameTally::Summary() const {
    const LatencyFigures latency = Latencies(received_);
    char text[256];
    std::snprintf(
        text, sizeof text,
        "frames %llu (missing %llu, repeats %llu, blank %llu, unstamped %llu, bad %llu, "
        "alternation breaks %llu), latency mean %.2f ms p99 %.2f ms max %.2f ms",
        static_cast<unsigned long long>(frames_), static_cast<unsigned long long>(missing_),
        static_cast<unsigned long long>(repeats_), static_cast<unsigned long long>(blanks_),
        static_cast<unsigned long long>(unstamped_), static_cast<unsigned long long>(badPictures_),
        static_cast<unsigned long long>(alternationBreaks_), latency.meanMs, latency.p99Ms,
        latency.maxMs);
    return text;
}

std::string FrameTally::Json() const {
    const LatencyFigures latency = Latencies(received_);
    nlohmann::ordered_json json = {
        {"connections", connections_},
        {"width", width_},
        {"height", height_},
        {"frames", frames_},
        {"repeats", repeats_},
        {"unstamped", unstamped_},
        {"blanks", blanks_},
        {"badPictures", badPictures_},
        {"missing", missing_},
        {"alternationBreaks", alternationBreaks_},
        {"reads", {reads_[0], reads_[1]}},
        {"lastSequence", lastSequence_},
        {"latencyMs",
         {{"mean", latency.meanMs},
          {"p50", latency.p50Ms},
          {"p99", latency.p99Ms},
          {"max", latency.maxMs}}},
        {"disconnects", disconnects_},
        {"abandoned", abandoned_},
        {"frameInfosPerConnection", frameInfosPerConnection_},
        {"missingRanges", missingRanges_},
    };
    nlohmann::ordered_json& holds = json["holds"] = nlohmann::ordered_json::array();
    for (const HoldRecord& hold : holds_) {
        holds.push_back({{"ms", hold.heldMs},
                         {"framesStampedDuring", hold.framesStampedDuring},
                         {"framesAfter", hold.framesAfter}});
    }
    // [sequence, textureIndex, latencyMicros] per frame keeps a long run's file small.
    nlohmann::ordered_json& received = json["received"] = nlohmann::ordered_json::array();
    for (const Received& frame : received_) {
        received.push_back({frame.sequence, frame.textureIndex, frame.latencyMicros});
    }
    return json.dump() + "\n";
}

}  // namespace quillo::companion
