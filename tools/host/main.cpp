// quillo-host: loads an OpenVR driver library exactly as the runtime does and prints what the
// driver publishes. The test bench for driver work and the demo without the runtime.
#include <cstdio>
#include <string>

#include "host_options.h"
#include "host_run.h"

int main(int argc, char** argv) {
    quillo::host::HostOptions options;
    std::string error;
    if (!quillo::host::ParseHostOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "quillo-host: %s\n\n%s", error.c_str(), quillo::host::HostUsage());
        return quillo::host::kExitUsage;
    }
    if (options.help) {
        std::fputs(quillo::host::HostUsage(), stdout);
        return quillo::host::kExitOk;
    }
    return quillo::host::RunHost(options);
}
