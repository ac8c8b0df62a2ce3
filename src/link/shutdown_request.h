// The companion's request to bring the runtime down: the runtime's monitor process is ended
// by force. Runs on the pipe's reader thread and reports nothing back.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/process.h"

namespace quillo {

// Ends the last process named exactly "vrmonitor.exe" (case-sensitive) in snapshot order.
// Every failure ends the operation silently.
void ShutdownRuntime();

// The choice ShutdownRuntime makes from a process list in snapshot order: the first entry is
// never compared (the system idle process on Windows); of the rest, the last one named exactly
// "vrmonitor.exe". False when there is none.
bool FindMonitorProcess(const std::vector<platform::ProcessEntry>& processes, uint32_t& pid);

}  // namespace quillo
