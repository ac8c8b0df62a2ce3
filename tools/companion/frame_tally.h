// What the companion learns from the frames it reads: each frame's picture is checked against
// the host's stamped test picture (tools/host/frame_pattern.h), and the tally counts frames,
// repeats, gaps, broken alternation and pictures that are wrong, and keeps the time each frame
// took from the host's drawing to its arrival here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillo::companion {

// How one read of an output texture turned out.
enum class FrameVerdict {
    kNew,        // a stamped frame newer than the last one: counted
    kRepeat,     // the same or an older frame again (the texture was read before the driver
                 // drew into it again): not counted
    kBlank,      // black or empty, no test picture: a texture nothing was drawn into yet (read
                 // at start-up, before the driver first took it): not counted
    kUnstamped,  // some other picture (another host)
    kBadPicture  // stamped, but the halves are swapped, disagree or their pictures are wrong
};

struct HoldRecord {
    uint32_t heldMs = 0;
    uint64_t startMicros = 0;
    uint64_t endMicros = 0;
    // Frames the host stamped while the texture was held. The driver blocks on the held
    // texture at the next hand-over, so at most one more frame can be drawn meanwhile.
    uint32_t framesStampedDuring = 0;
    // Frames received after the hold ended (the runtime resumed).
    uint32_t framesAfter = 0;
};

class FrameTally {
  public:
    // Checks one read of output texture `textureIndex` (RGBA8, rows `rowPitch` bytes apart,
    // both eyes side by side) that arrived at `arrivalMicros` (counter time).
    FrameVerdict Add(const uint8_t* pixels, size_t rowPitch, uint32_t width, uint32_t height,
                     int textureIndex, uint64_t arrivalMicros);
    // A new connection: sequences start over, the first frame is no gap.
    void NewConnection();
    void AddHold(const HoldRecord& hold) { holds_.push_back(hold); }
    // Every FrameInfo of connection `connection` (1, 2, ...) and every disconnection, so the
    // statistics show how many FrameInfos each connection brought.
    void CountFrameInfo(uint32_t connection);
    void CountDisconnect() { ++disconnects_; }
    // A keyed mutex taken over from a holder that died (the frame read after it may be torn).
    void CountAbandoned() { ++abandoned_; }

    uint64_t frames() const { return frames_; }
    uint64_t repeats() const { return repeats_; }
    uint64_t unstamped() const { return unstamped_; }
    uint64_t blanks() const { return blanks_; }
    uint64_t badPictures() const { return badPictures_; }
    uint64_t missing() const { return missing_; }
    uint64_t alternationBreaks() const { return alternationBreaks_; }
    uint32_t lastSequence() const { return lastSequence_; }
    // The host's stamp time of the last counted frame (counter microseconds).
    uint64_t lastStampMicros() const { return lastStampMicros_; }

    // "frames 1234 (missing 0, repeats 1, bad 0), latency mean 2.1 ms p99 5.0 ms"
    std::string Summary() const;
    // The whole tally as one JSON object, including every received frame as
    // [sequence, textureIndex, latencyMicros] and the missing sequence ranges.
    std::string Json() const;

  private:
    struct Received {
        uint32_t sequence;
        uint8_t textureIndex;
        int64_t latencyMicros;
    };

    uint64_t frames_ = 0;
    uint64_t repeats_ = 0;
    uint64_t unstamped_ = 0;
    uint64_t blanks_ = 0;
    uint64_t badPictures_ = 0;
    uint64_t missing_ = 0;
    uint64_t alternationBreaks_ = 0;
    uint64_t reads_[2] = {0, 0};
    uint32_t connections_ = 0;
    uint32_t disconnects_ = 0;
    uint32_t abandoned_ = 0;
    std::vector<uint32_t> frameInfosPerConnection_;
    bool haveLast_ = false;
    uint32_t lastSequence_ = 0;
    uint64_t lastStampMicros_ = 0;
    int lastTextureIndex_ = -1;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    std::vector<Received> received_;
    std::vector<std::pair<uint32_t, uint32_t>> missingRanges_;  // first, last
    std::vector<HoldRecord> holds_;
};

}  // namespace quillo::companion
