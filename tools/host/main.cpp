// quillo-host: loads an OpenVR driver library exactly as the runtime does and prints what the
// driver publishes. The test bench for driver work and the demo without the runtime.
#include <cstdio>
#include <string>

#include "host_options.h"
#include "host_run.h"

int main(int argc, char** argv) {
    using namespace quillo::host;
    HostOptions options;
    std::string message;
    switch (ParseHostOptions(argc, argv, options, message)) {
        case ParseOutcome::kHelp:
            std::fputs(message.c_str(), stdout);
            return kExitOk;
        case ParseOutcome::kUsageError:
            std::fprintf(stderr, "quillo-host: %s\n(see --help)\n", message.c_str());
            return kExitUsage;
        case ParseOutcome::kRun:
            break;
    }
    return RunHost(options);
}
