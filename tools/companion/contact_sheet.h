// One picture of a whole run: small copies of frames taken at even steps across it, in a grid,
// written as PNG when the run ends. The run's length is not known in advance, so frames are
// taken every `step` frames and, whenever the grid is full, every other one is dropped and the
// step doubled: the grid always spans the run so far. Storage is made at the first frame;
// offering a frame allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo::companion {

class ContactSheet {
  public:
    static constexpr uint32_t kColumns = 4;
    static constexpr uint32_t kRows = 4;
    static constexpr uint32_t kThumbWidth = 320;
    static constexpr uint32_t kGap = 4;

    // Frame number `index` (0, 1, ... in arrival order) of the run, RGBA8.
    void Offer(uint64_t index, const uint8_t* pixels, size_t rowPitch, uint32_t width,
               uint32_t height);
    size_t count() const { return count_; }
    // False with a reason when there is nothing to write or writing fails.
    bool Write(const std::string& path, std::string& error) const;

  private:
    uint64_t step_ = 1;
    size_t count_ = 0;
    uint32_t thumbWidth_ = 0;
    uint32_t thumbHeight_ = 0;
    uint32_t sourceWidth_ = 0;
    uint32_t sourceHeight_ = 0;
    std::vector<uint8_t> thumbs_;  // kColumns * kRows thumbnails, RGBA8, one after the other
};

}  // namespace quillo::companion
