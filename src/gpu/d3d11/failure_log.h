// Logging for failures that repeat (a shared handle that keeps failing to open, a constant
// buffer that keeps refusing to map): one line when the failure starts and one when it ends,
// never one per attempt. Safe to use from several threads; a line may be lost in a race
// between two threads, never repeated endlessly.
#pragma once

#include <atomic>
#include <cstdint>

namespace quillo::gpu::d3d11 {

class RepeatedFailure {
  public:
    explicit RepeatedFailure(const char* what) : what_(what) {}
    // Records one attempt: logs "<what> failed (0x...)" at the first failure of a run of
    // failures and "<what> works again" at the first success after it.
    void Record(bool succeeded, uint32_t result);
    bool failing() const { return failing_.load(std::memory_order_relaxed); }

  private:
    const char* what_;
    std::atomic<bool> failing_{false};
};

// Logs the printf-formatted line only the first time it is called with `once`.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format(printf, 2, 3)))
#endif
void LogOnce(std::atomic<bool>& once, const char* format, ...);

}  // namespace quillo::gpu::d3d11
