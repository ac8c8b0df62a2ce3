#include "gpu/d3d11/failure_log.h"

#include <cstdarg>
#include <cstdio>

#include "platform/log_sink.h"

namespace quillo::gpu::d3d11 {

void RepeatedFailure::Record(bool succeeded, uint32_t result) {
    if (succeeded) {
        if (failing_.exchange(false, std::memory_order_relaxed)) {
            platform::LogLine("driver_quillo: Direct3D 11: %s works again\n", what_);
        }
        return;
    }
    if (!failing_.exchange(true, std::memory_order_relaxed)) {
        platform::LogLine("driver_quillo: Direct3D 11: %s failed (0x%08X)\n", what_,
                          static_cast<unsigned>(result));
    }
}

void LogOnce(std::atomic<bool>& once, const char* format, ...) {
    if (once.exchange(true, std::memory_order_relaxed)) return;
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    platform::LogLine("%s", line);
}

}  // namespace quillo::gpu::d3d11
