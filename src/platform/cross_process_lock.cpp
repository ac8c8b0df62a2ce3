#include "platform/cross_process_lock.h"

#include <algorithm>
#include <chrono>

#include "platform/process.h"

namespace quillo::platform {

namespace {

// How often a waiter looks whether the holder's process is still there.
constexpr uint32_t kOwnerCheckMs = 100;

uint64_t NextToken() {
    static std::atomic<uint32_t> counter{0};
    const uint32_t serial = counter.fetch_add(1, std::memory_order_relaxed) + 1;
    return (static_cast<uint64_t>(CurrentProcessId()) << 32) | serial;
}

uint32_t OwnerPid(uint64_t owner) {
    return static_cast<uint32_t>(owner >> 32);
}

}  // namespace

CrossProcessLock::CrossProcessLock() : token_(NextToken()) {}

CrossProcessLock::~CrossProcessLock() {
    Close();
}

bool CrossProcessLock::Create(const char* name, std::atomic<uint64_t>* ownerWord, bool exclusive,
                              bool* alreadyExists) {
    Close();
    if (ownerWord == nullptr) return false;
    if (!semaphore_.Create(name, exclusive, alreadyExists)) return false;
    ownerWord_ = ownerWord;
    return true;
}

bool CrossProcessLock::Open(const char* name, std::atomic<uint64_t>* ownerWord) {
    Close();
    if (ownerWord == nullptr) return false;
    if (!semaphore_.Open(name)) return false;
    ownerWord_ = ownerWord;
    return true;
}

void CrossProcessLock::Close() {
    if (ownerWord_ != nullptr && held()) Release();
    semaphore_.Close();
    ownerWord_ = nullptr;
}

bool CrossProcessLock::held() const {
    return ownerWord_ != nullptr && ownerWord_->load(std::memory_order_acquire) == token_;
}

CrossProcessLock::Result CrossProcessLock::Acquire(uint32_t timeoutMs) {
    if (!valid() || held()) return Result::Failed;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    for (;;) {
        uint32_t slice = kOwnerCheckMs;
        if (timeoutMs != kInfinite) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            const uint64_t left =
                elapsed >= static_cast<int64_t>(timeoutMs) ? 0 : timeoutMs - elapsed;
            slice = static_cast<uint32_t>(std::min<uint64_t>(left, kOwnerCheckMs));
        }
        switch (semaphore_.Wait(slice)) {
            case NamedSemaphore::WaitResult::Signaled:
                ownerWord_->store(token_, std::memory_order_release);
                return Result::Acquired;
            case NamedSemaphore::WaitResult::Failed:
                return Result::Failed;
            case NamedSemaphore::WaitResult::TimedOut:
                break;
        }
        // The semaphore stays taken while its holder is dead: take the lock over from it
        // without touching the semaphore (its count of 0 now stands for us).
        uint64_t owner = ownerWord_->load(std::memory_order_acquire);
        if (owner != 0 && OwnerPid(owner) != CurrentProcessId() &&
            !ProcessIsAlive(OwnerPid(owner)) &&
            ownerWord_->compare_exchange_strong(owner, token_, std::memory_order_acq_rel)) {
            return Result::Abandoned;
        }
        if (timeoutMs != kInfinite &&
            Clock::now() - start >= std::chrono::milliseconds(timeoutMs)) {
            return Result::TimedOut;
        }
    }
}

bool CrossProcessLock::Release() {
    if (ownerWord_ == nullptr) return false;
    uint64_t expected = token_;
    // Clearing the owner first makes a second release (from another thread of this process,
    // say) fail instead of posting the semaphore twice.
    if (!ownerWord_->compare_exchange_strong(expected, 0, std::memory_order_acq_rel)) {
        return false;
    }
    semaphore_.Post();
    return true;
}

}  // namespace quillo::platform
