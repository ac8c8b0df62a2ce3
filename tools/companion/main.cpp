// Quillo.exe: the reference companion application of driver_quillo.
#include <cstdio>
#include <string>

#include "companion_app.h"
#include "companion_command.h"
#include "companion_options.h"

int main(int argc, char** argv) {
    using namespace quillo::companion;
    CompanionOptions options;
    std::string error;
    if (!ParseCompanionOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "Quillo.exe: %s\n(see --help)\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(CompanionUsage(), stdout);
        std::fputs(CommandHelp(), stdout);
        return kExitOk;
    }
    return RunCompanion(options);
}
