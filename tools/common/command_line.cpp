#include "common/command_line.h"

#include <CLI/CLI.hpp>

namespace quillo::common {

ParseOutcome ParseCommandLine(CLI::App& app, int argc, const char* const* argv,
                              std::string& message) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        message = app.help();
        return ParseOutcome::kHelp;
    } catch (const CLI::ParseError& e) {
        message = e.what();
        return ParseOutcome::kUsageError;
    }
    return ParseOutcome::kRun;
}

}  // namespace quillo::common
