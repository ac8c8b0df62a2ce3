#include "gpu/gpu_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace quillo {

namespace {
std::atomic<GpuLogSink> g_sink{nullptr};
}  // namespace

void SetGpuLogSink(GpuLogSink sink) {
    g_sink.store(sink);
}

void GpuLog(const char* format, ...) {
    const GpuLogSink sink = g_sink.load();
    if (sink == nullptr) return;
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    sink(line);
}

}  // namespace quillo
