#include "host_options.h"

#include <utility>

#include <CLI/CLI.hpp>

namespace quillo::host {

namespace {

constexpr const char* kDescription =
    "Loads an OpenVR driver library as the runtime does, runs it and prints what it\n"
    "publishes: devices, properties, poses, log lines and controller input.";

constexpr const char* kExitStatus =
    "Exit status: 0 ran and cleaned up; 2 usage; 3 library not loaded; 4 no\n"
    "HmdDriverFactory; 5 factory gave no provider; 6 Init failed.\n";

// Frame counts: digits only, since the library's own conversion to unsigned lets "-5" through
// as a huge count and an overlong number through as the largest one.
const CLI::Validator kFrameCount(
    [](std::string& text) -> std::string {
        const bool digits = !text.empty() && text.size() <= 19 &&
                            text.find_first_not_of("0123456789") == std::string::npos;
        return digits ? std::string() : "not a whole number of frames: " + text;
    },
    "");

void AddRunOptions(CLI::App& app, HostOptions& options) {
    app.add_option("driver,--driver", options.driverPath, "the driver library")
        ->type_name("LIBRARY")
        ->required();
    app.add_option("--settings", options.settingsPath, "settings in default.vrsettings form")
        ->type_name("JSON");
    app.add_option("--frames", options.frames, "stop after n frames")
        ->type_name("N")
        ->check(kFrameCount);
    app.add_option("--seconds", options.seconds,
                   "stop after this long (default without --frames: 5)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.0, 1e9));
    app.add_option("--rate", options.rate, "RunFrame calls per second (0: unpaced)")
        ->capture_default_str()
        ->type_name("HZ")
        ->check(CLI::Range(0.0, 100000.0));
    app.add_flag("--inline-activation", options.inlineActivation,
                 "activate devices inside TrackedDeviceAdded");
    app.add_option("--frames-mode", options.framesMode,
                   "display frames: none, auto, virtual or direct; options follow after "
                   "commas: hold-sync-at=<n>, hold-sync-frames=<k>, shared-eye-texture")
        ->capture_default_str()
        ->type_name("MODE");
}

void AddOutputOptions(CLI::App& app, HostOptions& options) {
    app.add_option("--pose-every", options.poseEvery,
                   "print poses every n frames (default: once a second)")
        ->type_name("N")
        ->check(kFrameCount);
    app.add_flag_callback(
        "--no-poses", [&options] { options.printPoses = false; }, "do not print poses");
    app.add_option_function<std::pair<uint64_t, uint16_t>>(
           "--haptic-every",
           [&options](const std::pair<uint64_t, uint16_t>& haptic) {
               if (haptic.first == 0) {
                   throw CLI::ValidationError("--haptic-every",
                                              "the frame count must be 1 or more");
               }
               options.hapticEvery = haptic.first;
               options.hapticDurationMicros = haptic.second;
           },
           "every n frames, a haptic pulse of that many microseconds (0 to 65535) on each "
           "active controller")
        ->check(kFrameCount)
        ->type_name("N MICROSECONDS");
    app.add_flag("--quiet", options.quiet, "do not print property writes and setting reads");
}

}  // namespace

ParseOutcome ParseHostOptions(int argc, const char* const* argv, HostOptions& options,
                              std::string& message) {
    CLI::App app(kDescription, "quillo-host");
    app.footer(kExitStatus);
    AddRunOptions(app, options);
    AddOutputOptions(app, options);
    const ParseOutcome outcome = common::ParseCommandLine(app, argc, argv, message);
    if (outcome != ParseOutcome::kRun) return outcome;
    if (options.frames == 0 && options.seconds == 0.0) options.seconds = 5.0;
    return ParseOutcome::kRun;
}

}  // namespace quillo::host
