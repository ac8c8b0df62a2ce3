#include "gpu/software/software_texture.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "gpu/software/streaming_copy.h"
#include "gpu/software/texel_format.h"
#include "platform/process.h"

namespace quillo::gpu::software {

namespace {

constexpr uint32_t kMagic = 0x58545351u;  // "QSTX"
constexpr uint32_t kLayoutVersion = 1;
constexpr uint32_t kCreatorHoldsOffset = 36;
constexpr uint32_t kOwnerWordOffset = 40;
// How many handles a creation tries before it gives up (names left behind by processes that
// died, or this process's own live textures after the serial wrapped).
constexpr int kHandleAttempts = 256;

uint32_t ReadU32(const uint8_t* base, uint32_t offset) {
    const uint8_t* p = base + offset;
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void WriteU32(uint8_t* base, uint32_t offset, uint32_t value) {
    uint8_t* p = base + offset;
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

std::atomic<uint64_t>* OwnerWord(void* section) {
    static_assert(sizeof(std::atomic<uint64_t>) == 8 && std::atomic<uint64_t>::is_always_lock_free,
                  "the owner word is shared between processes");
    return reinterpret_cast<std::atomic<uint64_t>*>(static_cast<uint8_t*>(section) +
                                                    kOwnerWordOffset);
}

// High 16 bits: the creating process id folded to 16 bits; low 16 bits: a per-process serial.
// A value comes back only after 65535 more textures of the same process (or from a process
// whose id folds alike), and only when no section of that name exists at that moment.
uint32_t NextHandleCandidate() {
    static std::atomic<uint32_t> serial{0};
    const uint32_t pid = platform::CurrentProcessId();
    const uint32_t pidPart = ((pid & 0xFFFFu) ^ (pid >> 16)) << 16;
    for (;;) {
        const uint32_t candidate = pidPart | ((serial.fetch_add(1) + 1) & 0xFFFFu);
        if ((candidate & 0xFFFFu) != 0) return candidate;
    }
}

bool ValidDesc(const TextureDesc& desc) {
    return desc.width > 0 && desc.height > 0 && desc.width <= SoftwareTexture::kMaxDimension &&
           desc.height <= SoftwareTexture::kMaxDimension && TexelSize(desc.format) != 0;
}

std::atomic<uint32_t>* CreatorHoldsWord(void* section) {
    static_assert(sizeof(std::atomic<uint32_t>) == 4 && std::atomic<uint32_t>::is_always_lock_free,
                  "the flag is shared between processes");
    return reinterpret_cast<std::atomic<uint32_t>*>(static_cast<uint8_t*>(section) +
                                                    kCreatorHoldsOffset);
}

}  // namespace

void SectionNameForHandle(uint32_t handle, char (&name)[40]) {
    std::snprintf(name, sizeof name, "QuilloSoftTex_%08X", handle);
}

void LockNameForHandle(uint32_t handle, char (&name)[40]) {
    std::snprintf(name, sizeof name, "QuilloSoftTexLock_%08X", handle);
}

void FillRect(const SoftwareTexture& texture, uint32_t texelSize, const uint8_t* texel, int x0,
              int x1, int y0, int y1) {
    if (x0 >= x1 || y0 >= y1 || texelSize == 0) return;
    // One row texel by texel (fixed-size copies the compiler turns into stores), the others
    // copied from it.
    const size_t offset = static_cast<size_t>(x0) * texelSize;
    uint8_t* first = texture.Row(static_cast<uint32_t>(y0)) + offset;
    uint8_t* out = first;
    for (int x = x0; x < x1; ++x, out += texelSize) {
        switch (texelSize) {
            case 4:
                std::memcpy(out, texel, 4);
                break;
            case 8:
                std::memcpy(out, texel, 8);
                break;
            default:
                std::memcpy(out, texel, 16);
                break;
        }
    }
    const size_t rowBytes = static_cast<size_t>(x1 - x0) * texelSize;
    for (int y = y0 + 1; y < y1; ++y) {
        StreamingCopy(texture.Row(static_cast<uint32_t>(y)) + offset, first, rowBytes);
    }
}

bool SoftwareTexture::DeferClear(const uint8_t* texel, uint32_t texelSize) {
    if (texelSize == 0 || texelSize > sizeof pendingClear_ || !lock_.valid() || !lock_.held()) {
        return false;
    }
    std::memcpy(pendingClear_, texel, texelSize);
    pendingClearSize_ = texelSize;
    return true;
}

void SoftwareTexture::WritePendingClear() {
    if (pendingClearSize_ == 0) return;
    FillRect(*this, pendingClearSize_, pendingClear_, 0, static_cast<int>(desc_.width), 0,
             static_cast<int>(desc_.height));
    pendingClearSize_ = 0;
}

SoftwareTexture::~SoftwareTexture() {
    WritePendingClear();
    // Openings that other code keeps between frames see this and let go of the texture.
    if (creator_) CreatorHoldsWord(section_.data())->store(0, std::memory_order_release);
    // The lock goes first: it releases the keyed mutex if this opening holds it, which touches
    // the owner word in the section.
    lock_.Close();
    section_.Close();
}

std::shared_ptr<SoftwareTexture> SoftwareTexture::Create(const TextureDesc& desc) {
    if (!ValidDesc(desc)) return nullptr;
    std::shared_ptr<SoftwareTexture> texture(new (std::nothrow) SoftwareTexture());
    if (!texture) return nullptr;
    texture->desc_ = desc;
    texture->rowPitch_ = desc.width * TexelSize(desc.format);
    const size_t pixelBytes = static_cast<size_t>(texture->rowPitch_) * desc.height;

    const bool shared = (desc.miscFlags & (kMiscShared | kMiscSharedKeyedMutex)) != 0;
    if (!shared) {
        texture->memory_.assign(pixelBytes, 0);
        texture->pixels_ = texture->memory_.data();
        return texture;
    }

    const bool keyed = (desc.miscFlags & kMiscSharedKeyedMutex) != 0;
    for (int attempt = 0; attempt < kHandleAttempts; ++attempt) {
        const uint32_t handle = NextHandleCandidate();
        char sectionName[40];
        SectionNameForHandle(handle, sectionName);
        const auto result = texture->section_.Create(sectionName, kHeaderSize + pixelBytes,
                                                     platform::SharedMemory::Mode::CreateNew);
        if (result == platform::SharedMemory::Result::AlreadyExists) continue;
        if (result != platform::SharedMemory::Result::Ok) return nullptr;

        uint8_t* base = static_cast<uint8_t*>(texture->section_.data());
        new (OwnerWord(base)) std::atomic<uint64_t>(0);
        if (keyed) {
            char lockName[40];
            LockNameForHandle(handle, lockName);
            bool taken = false;
            if (!texture->lock_.Create(lockName, OwnerWord(base), true, &taken)) {
                texture->section_.Close();
                if (taken) continue;  // a lock of that name outlived its texture
                return nullptr;
            }
        }
        // The header is written last: an opener that finds the section before this point
        // sees no magic and fails instead of reading a half-made texture.
        WriteU32(base, 4, kLayoutVersion);
        WriteU32(base, 8, desc.width);
        WriteU32(base, 12, desc.height);
        WriteU32(base, 16, desc.format);
        WriteU32(base, 20, desc.bindFlags);
        WriteU32(base, 24, desc.miscFlags);
        WriteU32(base, 28, texture->rowPitch_);
        WriteU32(base, 32, platform::CurrentProcessId());
        new (CreatorHoldsWord(base)) std::atomic<uint32_t>(1);
        std::atomic_thread_fence(std::memory_order_release);
        WriteU32(base, 0, kMagic);
        texture->pixels_ = base + kHeaderSize;
        texture->handle_ = handle;
        texture->creator_ = true;
        return texture;
    }
    return nullptr;
}

std::shared_ptr<SoftwareTexture> SoftwareTexture::Open(uint64_t handle) {
    const uint32_t low = static_cast<uint32_t>(handle);
    if (low == 0) return nullptr;
    std::shared_ptr<SoftwareTexture> texture(new (std::nothrow) SoftwareTexture());
    if (!texture) return nullptr;
    char sectionName[40];
    SectionNameForHandle(low, sectionName);
    if (!texture->section_.Open(sectionName)) return nullptr;

    // Everything in the header is checked against the mapped size before it is used: the
    // section may come from another (possibly older or faulty) process.
    const size_t size = texture->section_.size();
    uint8_t* base = static_cast<uint8_t*>(texture->section_.data());
    if (size < kHeaderSize || ReadU32(base, 0) != kMagic || ReadU32(base, 4) != kLayoutVersion) {
        return nullptr;
    }
    std::atomic_thread_fence(std::memory_order_acquire);
    TextureDesc desc;
    desc.width = ReadU32(base, 8);
    desc.height = ReadU32(base, 12);
    desc.format = ReadU32(base, 16);
    desc.bindFlags = ReadU32(base, 20);
    desc.miscFlags = ReadU32(base, 24);
    const uint32_t rowPitch = ReadU32(base, 28);
    if (!ValidDesc(desc)) return nullptr;
    const uint64_t minimumPitch = static_cast<uint64_t>(desc.width) * TexelSize(desc.format);
    if (rowPitch < minimumPitch || rowPitch > 4 * minimumPitch ||
        kHeaderSize + static_cast<uint64_t>(rowPitch) * desc.height > size) {
        return nullptr;
    }
    if ((desc.miscFlags & kMiscSharedKeyedMutex) != 0) {
        char lockName[40];
        LockNameForHandle(low, lockName);
        if (!texture->lock_.Open(lockName, OwnerWord(base))) return nullptr;
    }
    texture->desc_ = desc;
    texture->rowPitch_ = rowPitch;
    texture->pixels_ = base + kHeaderSize;
    texture->handle_ = low;
    return texture;
}

bool SoftwareTexture::CreatorHoldsTexture() const {
    if (handle_ == 0) return true;  // not shared: only its creator knows it
    return CreatorHoldsWord(pixels_ - kHeaderSize)->load(std::memory_order_acquire) != 0;
}

SyncResult SoftwareTexture::AcquireSync(uint64_t key, uint32_t timeoutMs) {
    // Only key 0 is used by the frame path; other keys are not modelled.
    if (key != 0 || !lock_.valid()) return SyncResult::Failed;
    switch (lock_.Acquire(timeoutMs)) {
        case platform::CrossProcessLock::Result::Acquired:
            return SyncResult::Ok;
        case platform::CrossProcessLock::Result::TimedOut:
            return SyncResult::Timeout;
        case platform::CrossProcessLock::Result::Abandoned:
            return SyncResult::Abandoned;
        case platform::CrossProcessLock::Result::Failed:
            break;
    }
    return SyncResult::Failed;
}

bool SoftwareTexture::ReleaseSync(uint64_t key) {
    if (key != 0) return false;
    WritePendingClear();  // before anyone else can take the texture
    return lock_.Release();
}

}  // namespace quillo::gpu::software
