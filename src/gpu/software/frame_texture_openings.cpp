#include "gpu/software/frame_texture_openings.h"

namespace quillo::gpu::software {

std::shared_ptr<SoftwareTexture> FrameTextureOpenings::Open(uint64_t handle) {
    const uint32_t low = static_cast<uint32_t>(handle);
    ++useCount_;
    Entry* found = nullptr;
    Entry* victim = &entries_[0];
    for (Entry& entry : entries_) {
        if (entry.texture && !entry.texture->CreatorHoldsTexture()) entry = Entry{};
        if (entry.texture && entry.handle == low && low != 0) found = &entry;
        // Free slots first, then the one used longest ago.
        if (!entry.texture) {
            if (victim->texture) victim = &entry;
        } else if (victim->texture && entry.lastUse < victim->lastUse) {
            victim = &entry;
        }
    }
    if (low == 0) return nullptr;
    if (found != nullptr) {
        if (found->texture.use_count() == 1) {
            found->lastUse = useCount_;
            return found->texture;
        }
        return SoftwareTexture::Open(handle);
    }
    std::shared_ptr<SoftwareTexture> opened = SoftwareTexture::Open(handle);
    // A texture its creator has already released is served once but not kept.
    if (!opened || !opened->CreatorHoldsTexture()) return opened;
    victim->handle = low;
    victim->lastUse = useCount_;
    victim->texture = opened;
    return opened;
}

std::size_t FrameTextureOpenings::size() const {
    std::size_t count = 0;
    for (const Entry& entry : entries_) count += entry.texture ? 1 : 0;
    return count;
}

}  // namespace quillo::gpu::software
