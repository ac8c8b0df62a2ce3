// Waiting for something another thread or process does, with a time-out instead of a sleep.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace quillo::test {

// Long enough for a loaded two-core machine running Wine; a test that needs it fails anyway.
constexpr std::chrono::milliseconds kGenerousTimeout{30000};
// For a child process to start, do its work and end.
constexpr uint32_t kChildTimeoutMs = 60000;

// Calls `condition` until it returns true or `timeout` has passed, with short pauses that
// grow to at most 20 ms. Returns the condition's last answer (it is asked once more at the
// end, so a condition that turned true at the deadline counts).
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = kGenerousTimeout);

}  // namespace quillo::test
