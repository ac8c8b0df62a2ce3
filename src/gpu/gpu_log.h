// Log lines from the GPU layer (device creation, backend fallbacks). The GPU layer sits below
// the driver and cannot call the driver log itself, so the driver points this sink at its log
// when it starts (Init) and clears it when it stops (Cleanup). Without a sink lines are
// dropped.
#pragma once

namespace quillo {

// Receives one finished line (with its own line end). Called from whichever thread logs.
using GpuLogSink = void (*)(const char* line);

// Sets (or with nullptr clears) the sink. Safe from any thread.
void SetGpuLogSink(GpuLogSink sink);

// Formats like printf into a 1024-byte buffer and hands it to the sink.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format(printf, 1, 2)))
#endif
void GpuLog(const char* format, ...);

}  // namespace quillo
