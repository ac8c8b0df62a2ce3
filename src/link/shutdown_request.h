// The companion's request to bring the runtime down: the runtime's monitor process is ended
// by force. Runs on the pipe's reader thread and reports nothing back.
#pragma once

namespace quillo {

// Ends the last process named exactly "vrmonitor.exe" (case-sensitive) in snapshot order.
// Every failure ends the operation silently.
void ShutdownRuntime();

}  // namespace quillo
