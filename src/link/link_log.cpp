#include "link/link_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace quillo {

namespace {
std::atomic<LinkLogSink> g_sink{nullptr};
}  // namespace

void SetLinkLogSink(LinkLogSink sink) {
    g_sink.store(sink);
}

void LinkLog(const char* format, ...) {
    const LinkLogSink sink = g_sink.load();
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

}  // namespace quillo
