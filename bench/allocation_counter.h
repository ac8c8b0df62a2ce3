// Counts heap allocations through a replaced global operator new, so a bench can print how
// many a steady-state frame makes (the goal is zero). Include it in exactly one source file
// of a program.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace bench {

inline std::atomic<long long>& AllocationCount() {
    static std::atomic<long long> count{0};
    return count;
}

inline long long Allocations() {
    return AllocationCount().load(std::memory_order_relaxed);
}

}  // namespace bench

void* operator new(std::size_t size) {
    bench::AllocationCount().fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    bench::AllocationCount().fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
