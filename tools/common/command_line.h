// What reading a tool's command line came to, shared by quillo-host and quillo-companion so
// both treat --help and mistakes alike.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace quillo::common {

enum class ParseOutcome {
    kRun,         // the options hold the command line
    kHelp,        // --help: `message` holds the generated help text
    kUsageError,  // `message` says which option or value was wrong
};

// Runs `app` (its options already declared) over argv. CLI11 reports help and mistakes as
// exceptions; they end here as an outcome and a message, so no exception reaches main().
ParseOutcome ParseCommandLine(CLI::App& app, int argc, const char* const* argv,
                              std::string& message);

}  // namespace quillo::common
