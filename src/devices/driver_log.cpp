#include "devices/driver_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace quillo {

namespace {

// Written by Init and Cleanup on the runtime's thread, read by every thread that logs
// (including the link's reader thread), hence atomic.
std::atomic<vr::IVRDriverLog*> g_logTarget{nullptr};

constexpr size_t kLogBufferSize = 1024;

}  // namespace

void WriteDriverLog(const char* format, ...) {
    vr::IVRDriverLog* target = g_logTarget.load(std::memory_order_acquire);
    if (target == nullptr || format == nullptr) {
        return;
    }
    char buffer[kLogBufferSize];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (length < 0) {
        return;
    }
    // Text longer than the buffer is cut to 1023 characters rather than dropped: the start
    // of a line says what happened. Every message of the driver ends its own line, so a cut
    // message keeps its line end and the next message does not run on after it.
    if (static_cast<size_t>(length) >= sizeof(buffer)) {
        size_t formatLength = std::strlen(format);
        if (formatLength > 0 && format[formatLength - 1] == '\n') {
            buffer[sizeof(buffer) - 2] = '\n';
        }
    }
    target->Log(buffer);
}

void SetLogTargetIfUnset(vr::IVRDriverLog* log) {
    vr::IVRDriverLog* expected = nullptr;
    g_logTarget.compare_exchange_strong(expected, log, std::memory_order_acq_rel);
}

void ClearLogTarget() {
    g_logTarget.store(nullptr, std::memory_order_release);
}

vr::IVRDriverLog* LogTarget() {
    return g_logTarget.load(std::memory_order_acquire);
}

}  // namespace quillo
