#include "companion_options.h"

#include <algorithm>

#include <CLI/CLI.hpp>

namespace quillo::companion {

namespace {

constexpr const char* kDescription =
    "The reference companion of driver_quillo: creates the two pipes, waits for the driver,\n"
    "sends refresh rate, head tracking and controller records, prints every FrameInfo and\n"
    "HapticPulse it receives and takes the driver back after it left.";

constexpr const char* kMotionFiles =
    "Motion files: CSV lines 't,qx,qy,qz,qw,px,py,pz' (seconds, quaternion, metres;\n"
    "a header line and lines starting with '#' are skipped), or JSON: an array of\n"
    "{\"t\": s, \"q\": [x, y, z, w], \"p\": [x, y, z]}. Each pose holds until the next.\n";

void AddLinkOptions(CLI::App& app, CompanionOptions& options) {
    app.add_option("--rate", options.refreshRate, "refresh rate sent on every connection (0: none)")
        ->capture_default_str()
        ->type_name("HZ")
        ->check(CLI::Range(0, 100000));
    app.add_option_function<std::string>(
           "--tracking-kind",
           [&options](const std::string& text) {
               if (!ParseTrackingKind(text, options.trackingKind)) {
                   throw CLI::ValidationError("--tracking-kind", "not a tracking kind: " + text);
               }
           },
           "tracking kind to send, by number or name (default 4, quaternion)")
        ->type_name("KIND");
    app.add_option("--tracking-rate", options.trackingRate,
                   "tracking messages per second (default: 76 for kind 2, else the refresh rate)")
        ->type_name("HZ")
        ->check(CLI::Range(0.01, 10000.0));
    app.add_flag_callback(
        "--no-tracking", [&options] { options.tracking = false; }, "send no tracking");
    app.add_option("--motion", options.motionFile,
                   "replay poses from a CSV or JSON file instead of the scripted head turn and "
                   "nod (see below)")
        ->type_name("FILE");
    app.add_flag("--loop-motion", options.loopMotion,
                 "replay the motion file over and over (default: hold its end)");
    app.add_option("--controllers", options.controllers, "scripted controllers")
        ->capture_default_str()
        ->type_name("N")
        ->check(CLI::Range(0, 2));
    app.add_option("--controller-rate", options.controllerRate,
                   "controller records per second each")
        ->capture_default_str()
        ->type_name("HZ")
        ->check(CLI::Range(0.01, 10000.0));
}

void AddCommandOptions(CLI::App& app, CompanionOptions& options) {
    app.add_option_function<std::vector<std::string>>(
           "--at",
           [&options](const std::vector<std::string>& texts) {
               for (const std::string& text : texts) {
                   TimedCommand timed;
                   std::string error;
                   if (!ParseTimedCommand(text, timed, error)) {
                       throw CLI::ValidationError("--at", error);
                   }
                   options.script.push_back(timed);
               }
           },
           "run a command that long after the first connection (repeatable)")
        ->type_name("SECONDS:COMMAND")
        ->expected(1)
        ->take_all();
    app.add_option_function<std::vector<std::string>>(
           "--script",
           [&options](const std::vector<std::string>& paths) {
               for (const std::string& path : paths) {
                   std::string error;
                   if (!LoadCommandScript(path, options.script, error)) {
                       throw CLI::ValidationError("--script", error);
                   }
               }
           },
           "timed commands from a file, one '<seconds> <command>' a line")
        ->type_name("FILE")
        ->expected(1)
        ->take_all();
    CLI::Option* readStdin =
        app.add_flag("--stdin,!--no-stdin", options.readStdin,
                     "read commands from standard input (default: when it is a terminal)");
    // Runs once every option is in: whether --stdin or --no-stdin was given at all.
    app.callback([&options, readStdin] { options.readStdinChosen = readStdin->count() > 0; });
}

void AddOutputOptions(CLI::App& app, CompanionOptions& options) {
    app.add_option("--seconds", options.seconds, "exit after this long (0: run until stopped)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.0, 1e9));
    app.add_option("--log", options.logPath, "write every event as one JSON object a line")
        ->type_name("FILE");
    app.add_flag("--quiet", options.quiet, "print connections and the summary only");
    app.add_flag("--frames", options.takeFrames, "open the output textures and read every frame");
    app.add_option("--png-dir", options.pngDir, "save frames as PNG there (implies --frames)")
        ->type_name("DIR");
    app.add_option("--png-every", options.pngEvery,
                   "save every nth frame (default 0: the first of each connection)")
        ->type_name("N")
        ->check(CLI::Range(0u, 1000000000u));
    app.add_option("--frame-stats", options.frameStatsPath,
                   "write frame timing statistics as JSON (implies --frames)")
        ->type_name("FILE");
}

}  // namespace

double EffectiveTrackingRate(const CompanionOptions& options) {
    if (options.trackingRate > 0.0) return options.trackingRate;
    // The driver's attitude filter assumes 76 samples per second.
    if (options.trackingKind == 2) return 76.0;
    return options.refreshRate > 0 ? options.refreshRate : 90.0;
}

ParseOutcome ParseCompanionOptions(int argc, const char* const* argv, CompanionOptions& options,
                                   std::string& message) {
    CLI::App app(kDescription, "Quillo.exe");
    app.footer(std::string(kMotionFiles) + "\n" + CommandHelp());
    AddLinkOptions(app, options);
    AddCommandOptions(app, options);
    AddOutputOptions(app, options);
    const ParseOutcome outcome = common::ParseCommandLine(app, argc, argv, message);
    if (outcome != ParseOutcome::kRun) return outcome;
    if (!options.pngDir.empty() || !options.frameStatsPath.empty()) options.takeFrames = true;
    std::stable_sort(
        options.script.begin(), options.script.end(),
        [](const TimedCommand& a, const TimedCommand& b) { return a.seconds < b.seconds; });
    return ParseOutcome::kRun;
}

}  // namespace quillo::companion
