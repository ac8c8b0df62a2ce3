// The runtime's shared textures that the present paths open by handle (virtual-display back
// buffers, the direct-mode sync texture), kept open between frames.
//
// Opening a shared handle on every present would allocate on every frame (the device makes a
// new texture object each time). The runtime cycles through a handful of such textures for its
// whole session, so the last few opened stay open, least recently used out first. A texture
// that stays open here outlives the runtime's own release of it only until it is pushed out;
// while it is open its handle cannot name another texture, so a cached entry never goes stale.
// Handles that cannot be opened are not remembered: they are tried again next frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "gpu/gpu_device.h"

namespace quillo {

class FrameCompositor;

class FrameTextureCache {
  public:
    // Back buffers of a swap chain plus a sync texture fit.
    static constexpr std::size_t kCapacity = 4;

    // The open texture for `handle`, opening it through `compositor` when it is not open yet.
    // Null for handle 0 or when the handle cannot be opened.
    gpu::Texture* Open(FrameCompositor& compositor, uint64_t handle);
    // Closes everything (before the device that opened the textures goes away).
    void Clear();
    std::size_t size() const;

  private:
    struct Entry {
        uint64_t handle = 0;
        uint64_t lastUse = 0;
        std::shared_ptr<gpu::Texture> texture;
    };
    Entry entries_[kCapacity];
    uint64_t useCount_ = 0;
};

}  // namespace quillo
