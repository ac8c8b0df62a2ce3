#include "link/frame_shared_memory.h"

#include "link/little_endian.h"
#include "platform/shared_memory.h"

namespace quillo {

FrameSharedMemory::FrameSharedMemory() = default;
FrameSharedMemory::~FrameSharedMemory() = default;

bool FrameSharedMemory::Create(const char* name) {
    auto section = std::make_unique<platform::SharedMemory>();
    if (section->Create(name, kSize) != platform::SharedMemory::Result::Ok || !section->mapped()) {
        return false;
    }
    section_ = std::move(section);
    for (int i = 0; i < kSlotCount; ++i) WriteSlot(i, 0);
    return true;
}

bool FrameSharedMemory::mapped() const {
    return section_ != nullptr && section_->mapped();
}

void FrameSharedMemory::WriteSlot(int index, uint32_t value) {
    if (!mapped() || index < 0 || index >= kSlotCount) return;
    le::WriteU32(static_cast<uint8_t*>(section_->data()) + 4 * index, value);
}

uint32_t FrameSharedMemory::ReadSlot(int index) const {
    if (!mapped() || index < 0 || index >= kSlotCount) return 0;
    return le::ReadU32(static_cast<const uint8_t*>(section_->data()) + 4 * index);
}

}  // namespace quillo
