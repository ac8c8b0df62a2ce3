#include "platform/log_sink.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace quillo::platform {

namespace {
std::atomic<LogSink> g_sink{nullptr};
}  // namespace

void SetLogSink(LogSink sink) {
    g_sink.store(sink);
}

void LogLine(const char* format, ...) {
    const LogSink sink = g_sink.load();
    if (sink == nullptr) {
        return;
    }
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    sink(line);
}

}  // namespace quillo::platform
