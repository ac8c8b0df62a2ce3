// A texture of the software backend.
//
// A shared texture lives in a named shared-memory section, so that any process can open it by
// its handle: the section "QuilloSoftTex_XXXXXXXX" (the handle's low 32 bits in hex) holds a
// 64-byte header followed by the rows. Its keyed mutex, if it has one, is the cross-process
// lock "QuilloSoftTexLock_XXXXXXXX" whose owner word is in the header.
//
// Header layout (little-endian, the same on every system that maps it):
//   0 magic "QSTX"   4 layout version (1)   8 width   12 height   16 format   20 bind flags
//   24 misc flags    28 row pitch           32 creating process id
//   36 creator holds the texture (1 from creation until the creator releases it, then 0)
//   40 keyed-mutex owner word (64-bit)      48..63 reserved          64 first row
//
// Handles are made of the creating process id (folded to 16 bits) and a per-process serial
// (16 bits), and are taken only if no section of that name exists yet, so a live handle is
// unique across processes and its low 32 bits alone find the texture. A handle value is not
// given out again until 65535 more textures have been made.
//
// Lifetime: the section lives while its creator holds the texture; openings made before keep
// their mapping after that. On Windows a new opening also succeeds while any opening exists;
// on POSIX the creator removes the name when it releases the texture (so a process that dies
// holding an opening leaves nothing behind in /dev/shm).
//
// Textures that are not shared are plain process memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "gpu/gpu_device.h"
#include "platform/cross_process_lock.h"
#include "platform/shared_memory.h"

namespace quillo::gpu::software {

class SoftwareTexture final : public Texture {
  public:
    static constexpr uint32_t kHeaderSize = 64;
    static constexpr uint32_t kMaxDimension = 16384;

    // Null for an unsupported format or size, or when no section can be made.
    static std::shared_ptr<SoftwareTexture> Create(const TextureDesc& desc);
    // Null when no valid section is found under the handle's low 32 bits.
    static std::shared_ptr<SoftwareTexture> Open(uint64_t handle);

    ~SoftwareTexture() override;

    TextureDesc Describe() const override { return desc_; }
    uint64_t SharedHandle() const override { return handle_; }
    bool HasKeyedMutex() const override { return lock_.valid(); }
    SyncResult AcquireSync(uint64_t key, uint32_t timeoutMs) override;
    bool ReleaseSync(uint64_t key) override;

    // False once the process that made the texture has released it (this opening and other
    // openings may still keep the memory mapped). A process that died holding its texture
    // leaves this set, but then its name is never removed, so its handle is not given out again.
    bool CreatorHoldsTexture() const;

    uint8_t* Row(uint32_t y) const { return pixels_ + static_cast<size_t>(y) * rowPitch_; }
    uint32_t rowPitch() const { return rowPitch_; }

    // A clear of every texel that is recorded instead of written, while this opening holds the
    // keyed mutex: no other process may look at the texels until it is released, and the next
    // eye passes usually replace every one of them anyway. The device writes a pending clear
    // before anything of its own reads or partly overwrites the texels, or drops it when a
    // draw or copy replaces all of them; releasing the keyed mutex (or closing this opening)
    // writes it first, so whoever takes the texture next sees exactly what an immediate clear
    // would have left.
    bool DeferClear(const uint8_t* texel, uint32_t texelSize);
    bool clearPending() const { return pendingClearSize_ != 0; }
    const uint8_t* pendingClearTexel() const { return pendingClear_; }
    uint32_t pendingClearSize() const { return pendingClearSize_; }
    void DropPendingClear() { pendingClearSize_ = 0; }

  private:
    SoftwareTexture() = default;

    TextureDesc desc_;
    uint64_t handle_ = 0;
    uint32_t rowPitch_ = 0;
    uint8_t* pixels_ = nullptr;
    bool creator_ = false;  // this object made the section
    platform::SharedMemory section_;
    std::vector<uint8_t> memory_;  // textures that are not shared
    platform::CrossProcessLock lock_;
    uint8_t pendingClear_[16] = {};
    uint32_t pendingClearSize_ = 0;  // 0: no clear pending

    // Writes a pending clear on the calling thread.
    void WritePendingClear();
};

// Writes `texel` (texelSize bytes) into every texel of columns [x0, x1) of rows [y0, y1).
void FillRect(const SoftwareTexture& texture, uint32_t texelSize, const uint8_t* texel, int x0,
              int x1, int y0, int y1);

// Section and lock names of a handle.
void SectionNameForHandle(uint32_t handle, char (&name)[40]);
void LockNameForHandle(uint32_t handle, char (&name)[40]);

}  // namespace quillo::gpu::software
