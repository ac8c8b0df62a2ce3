// The console a tool runs in: whether its output is a terminal (for a live status line) and a
// way to be told that the user asked it to stop (Ctrl+C, or SIGTERM on POSIX).
#pragma once

#include <atomic>

namespace quillo::platform {

bool StdoutIsTerminal();
bool StdinIsTerminal();

// From now on Ctrl+C (and on POSIX SIGTERM) sets `*stopRequested` instead of ending the
// process, so the tool can shut down cleanly. `stopRequested` must live until process exit.
void RequestStopOnInterrupt(std::atomic<bool>* stopRequested);

}  // namespace quillo::platform
