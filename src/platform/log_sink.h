// Where the layers below the driver (the companion link, the GPU path, the platform itself)
// send their log lines. They cannot reach the runtime's driver log, so the driver points this
// sink at its log when it starts and clears it when it stops. Without a sink lines are dropped.
#pragma once

namespace quillo::platform {

// Receives one finished line (with its own line end). Called from whichever thread logs.
using LogSink = void (*)(const char* line);

// Sets (or with nullptr clears) the sink. Safe from any thread.
void SetLogSink(LogSink sink);

// Formats like printf into a 1024-byte buffer and hands it to the sink.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format(printf, 1, 2)))
#endif
void LogLine(const char* format, ...);

}  // namespace quillo::platform
