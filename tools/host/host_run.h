// One run of a driver library in the fake runtime, from loading to unloading.
#pragma once

#include "host_options.h"

namespace quillo::host {

enum HostExitCode {
    kExitOk = 0,
    kExitUsage = 2,
    kExitLibraryNotLoaded = 3,
    kExitNoFactory = 4,
    kExitNoProvider = 5,
    kExitInitFailed = 6,
};

int RunHost(const HostOptions& options);

}  // namespace quillo::host
