// A value written by one thread and read by any number of others, each reader getting one
// consistent copy without taking a lock and without ever waiting for a write in progress.
//
// Two slots, each guarded by its own sequence counter (odd while being written), and an atomic
// index of the slot last completed. The single writer always fills the slot the index does not
// point to and then flips the index, so a reader copies a completed slot even when the writer
// is descheduled halfway through an update. A reader retries only if the writer completed two
// further updates while it was copying (it then reads the newer slot).
//
// Every shared word is a std::atomic<uint32_t>, so ThreadSanitizer sees no plain data shared
// between the threads. Data stores are release and data loads acquire: a reader that sees any
// word of a newer update is thereby ordered after that update's odd sequence store, so its
// final sequence check fails and it retries; no standalone fences are needed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace quillo {

template <typename T>
class PublishedValue {
    static_assert(std::is_trivially_copyable<T>::value, "published by copying its bytes");

  public:
    explicit PublishedValue(const T& initial) {
        for (Slot& slot : slots_) {
            for (std::atomic<uint32_t>& word : slot.words) word.store(0, std::memory_order_relaxed);
        }
        Publish(initial);
    }
    PublishedValue(const PublishedValue&) = delete;
    PublishedValue& operator=(const PublishedValue&) = delete;

    // Only one thread may publish (the same one every time, or calls ordered by other means).
    void Publish(const T& value) {
        uint32_t words[kWords] = {};
        std::memcpy(words, &value, sizeof(T));
        const uint32_t next = 1u - latest_.load(std::memory_order_relaxed);
        Slot& slot = slots_[next];
        const uint32_t sequence = slot.sequence.load(std::memory_order_relaxed);
        slot.sequence.store(sequence + 1, std::memory_order_relaxed);
        for (size_t i = 0; i < kWords; ++i) {
            slot.words[i].store(words[i], std::memory_order_release);
        }
        slot.sequence.store(sequence + 2, std::memory_order_release);
        latest_.store(next, std::memory_order_release);
    }

    // Any thread, any time.
    T Load() const {
        uint32_t words[kWords];
        for (;;) {
            const Slot& slot = slots_[latest_.load(std::memory_order_acquire)];
            const uint32_t before = slot.sequence.load(std::memory_order_acquire);
            if (before & 1u) continue;  // lapped by the writer: the index has moved on
            for (size_t i = 0; i < kWords; ++i) {
                words[i] = slot.words[i].load(std::memory_order_acquire);
            }
            if (slot.sequence.load(std::memory_order_relaxed) == before) break;
        }
        T value;
        std::memcpy(&value, words, sizeof(T));
        return value;
    }

  private:
    static constexpr size_t kWords = (sizeof(T) + sizeof(uint32_t) - 1) / sizeof(uint32_t);

    struct Slot {
        std::atomic<uint32_t> sequence{0};
        std::atomic<uint32_t> words[kWords];
    };

    Slot slots_[2];
    std::atomic<uint32_t> latest_{0};
};

}  // namespace quillo
