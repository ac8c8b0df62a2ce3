#include "link/frame_texture_cache.h"

#include "gpu/frame_compositor.h"

namespace quillo {

gpu::Texture* FrameTextureCache::Open(FrameCompositor& compositor, uint64_t handle) {
    if (handle == 0) return nullptr;
    ++useCount_;
    Entry* victim = &entries_[0];
    for (Entry& entry : entries_) {
        if (entry.texture && entry.handle == handle) {
            entry.lastUse = useCount_;
            return entry.texture.get();
        }
        // Free slots first, then the one used longest ago.
        if (!entry.texture) {
            if (victim->texture) victim = &entry;
        } else if (victim->texture && entry.lastUse < victim->lastUse) {
            victim = &entry;
        }
    }
    std::shared_ptr<gpu::Texture> opened = compositor.OpenRuntimeTexture(handle);
    if (!opened) return nullptr;
    victim->handle = handle;
    victim->lastUse = useCount_;
    victim->texture = std::move(opened);
    return victim->texture.get();
}

void FrameTextureCache::Clear() {
    for (Entry& entry : entries_) entry = Entry{};
}

std::size_t FrameTextureCache::size() const {
    std::size_t count = 0;
    for (const Entry& entry : entries_) count += entry.texture ? 1 : 0;
    return count;
}

}  // namespace quillo
