// The companion's main loop: waits for the driver, announces the refresh rate on every
// connection, streams head tracking and controller records at their rates, runs timed and
// typed commands, and reports what the driver sends.
#pragma once

#include "companion_options.h"

namespace quillo::companion {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the pipes could not be created, a file could not be read
constexpr int kExitUsage = 2;

int RunCompanion(const CompanionOptions& options);

}  // namespace quillo::companion
