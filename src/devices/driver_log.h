// The driver's one log operation and its target, the runtime's driver log.
#pragma once

#include "openvr/openvr_driver.h"

namespace quillo {

// Formats like printf into a 1024-byte buffer and hands the text unchanged to the log
// target. Nothing is added (no prefix, no line end); with no target the message is dropped.
// Safe to call from any thread.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format(printf, 1, 2)))
#endif
void WriteDriverLog(const char* format, ...);

// Points the log target at `log` unless a target is already set (Init).
void SetLogTargetIfUnset(vr::IVRDriverLog* log);
// Clears the log target; later messages are dropped (the start of Cleanup).
void ClearLogTarget();
vr::IVRDriverLog* LogTarget();

}  // namespace quillo
