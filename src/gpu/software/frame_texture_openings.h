// Openings of the runtime's textures that the present paths open in every frame (back
// buffers, the sync texture), kept between frames so that opening one costs neither a system
// call, a page fault on every row, nor an allocation.
//
// An opening is handed out again only while it still is the texture its handle names: the
// creator's "holds the texture" flag, read from the opening's own mapping, is checked on every
// open. Once the creator has released a texture its name is removed (POSIX) or kept only by
// openings (Windows), so while the flag is set the handle cannot name another texture. Every
// open also lets go of every kept opening whose creator has released its texture, so a
// runtime that re-creates its buffers does not have its old ones kept alive here.
//
// An opening that a caller still holds is not handed out a second time (its keyed mutex
// belongs to that caller); such an open makes a separate opening.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "gpu/software/software_texture.h"

namespace quillo::gpu::software {

class FrameTextureOpenings {
  public:
    // A swap chain's back buffers plus a sync texture fit, with room for a runtime that is
    // changing over to new buffers.
    static constexpr std::size_t kCapacity = 8;

    // Null when the handle names no texture that can be opened.
    std::shared_ptr<SoftwareTexture> Open(uint64_t handle);
    // Openings kept now.
    std::size_t size() const;

  private:
    struct Entry {
        uint32_t handle = 0;
        uint64_t lastUse = 0;
        std::shared_ptr<SoftwareTexture> texture;
    };
    Entry entries_[kCapacity];
    uint64_t useCount_ = 0;
};

}  // namespace quillo::gpu::software
