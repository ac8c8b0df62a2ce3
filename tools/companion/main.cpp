// Quillo.exe: the reference companion application of driver_quillo.
#include <cstdio>
#include <string>

#include "companion_app.h"
#include "companion_options.h"

int main(int argc, char** argv) {
    using namespace quillo::companion;
    CompanionOptions options;
    std::string message;
    switch (ParseCompanionOptions(argc, argv, options, message)) {
        case ParseOutcome::kHelp:
            std::fputs(message.c_str(), stdout);
            return kExitOk;
        case ParseOutcome::kUsageError:
            std::fprintf(stderr, "Quillo.exe: %s\n(see --help)\n", message.c_str());
            return kExitUsage;
        case ParseOutcome::kRun:
            break;
    }
    return RunCompanion(options);
}
