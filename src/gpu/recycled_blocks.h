// A few fixed memory blocks that std::allocate_shared can use again and again, so that an object
// made and released in every frame (a texture opened for one present) costs no heap allocation
// once the first frames have run.
//
// RecycledBlocks holds the blocks; BlockAllocator is the allocator handed to allocate_shared. The
// allocator keeps the blocks alive (a shared reference, copied without allocating), so an object
// may outlive whoever made the blocks. A request that is too big, or made while every block is in
// use, goes to the heap as usual.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>

namespace quillo::gpu {

class RecycledBlocks {
  public:
    static constexpr std::size_t kBlockSize = 256;
    static constexpr std::size_t kBlockCount = 8;

    // Null when the block is too small or all are in use.
    void* Take(std::size_t bytes) {
        if (bytes > kBlockSize) return nullptr;
        for (std::size_t i = 0; i < kBlockCount; ++i) {
            bool expected = false;
            if (!used_[i].load(std::memory_order_relaxed) &&
                used_[i].compare_exchange_strong(expected, true, std::memory_order_acquire)) {
                return blocks_[i].bytes;
            }
        }
        return nullptr;
    }
    // False for memory that is not one of the blocks.
    bool Give(void* memory) {
        for (std::size_t i = 0; i < kBlockCount; ++i) {
            if (memory == blocks_[i].bytes) {
                used_[i].store(false, std::memory_order_release);
                return true;
            }
        }
        return false;
    }
    std::size_t InUse() const {
        std::size_t count = 0;
        for (const auto& used : used_) count += used.load() ? 1 : 0;
        return count;
    }

  private:
    struct alignas(std::max_align_t) Block {
        unsigned char bytes[kBlockSize];
    };
    Block blocks_[kBlockCount];
    std::atomic<bool> used_[kBlockCount] = {};
};

template <typename T>
class BlockAllocator {
  public:
    using value_type = T;

    explicit BlockAllocator(std::shared_ptr<RecycledBlocks> blocks) : blocks_(std::move(blocks)) {}
    template <typename U>
    BlockAllocator(const BlockAllocator<U>& other) : blocks_(other.blocks_) {}

    T* allocate(std::size_t n) {
        static_assert(alignof(T) <= alignof(std::max_align_t), "blocks are max_align_t aligned");
        if (void* memory = blocks_ ? blocks_->Take(n * sizeof(T)) : nullptr) {
            return static_cast<T*>(memory);
        }
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t) {
        if (!blocks_ || !blocks_->Give(p)) ::operator delete(p);
    }

    template <typename U>
    bool operator==(const BlockAllocator<U>& other) const {
        return blocks_ == other.blocks_;
    }
    template <typename U>
    bool operator!=(const BlockAllocator<U>& other) const {
        return !(*this == other);
    }

  private:
    template <typename U>
    friend class BlockAllocator;
    std::shared_ptr<RecycledBlocks> blocks_;
};

}  // namespace quillo::gpu
