// The 8-byte named section the companion may open: two little-endian uint32 slots, slot i
// belonging to output texture i. The driver only ever writes 0 into the slot of the texture it
// is about to draw in direct mode; what the companion writes there is its own business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillo {

namespace platform {
class SharedMemory;
}

class FrameSharedMemory {
  public:
    static constexpr std::size_t kSize = 8;
    static constexpr int kSlotCount = 2;

    FrameSharedMemory();
    // Closes the section: once the link is gone nobody needs it, and a long-running runtime
    // process should not collect one per headset it ever made.
    ~FrameSharedMemory();
    FrameSharedMemory(const FrameSharedMemory&) = delete;
    FrameSharedMemory& operator=(const FrameSharedMemory&) = delete;

    // Creates (page-file backed, read/write) and maps the section named exactly `name`, and
    // zeroes both slots. Returns false, leaving the block unmapped, when either step fails;
    // the failure is not reported further (the slot writes are then skipped).
    bool Create(const char* name);
    bool mapped() const;

    // Writes `value` little-endian into slot `index` (0 or 1). Nothing when unmapped.
    void WriteSlot(int index, uint32_t value);
    // For tests and tools: 0 when unmapped.
    uint32_t ReadSlot(int index) const;

  private:
    std::unique_ptr<platform::SharedMemory> section_;
};

}  // namespace quillo
