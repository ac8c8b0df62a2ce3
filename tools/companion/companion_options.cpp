#include "companion_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quillo::companion {

namespace {

bool ParseNumber(const char* text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0';
}

bool ParseWhole(const char* text, long long minimum, long long maximum, long long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= minimum && value <= maximum;
}

}  // namespace

double EffectiveTrackingRate(const CompanionOptions& options) {
    if (options.trackingRate > 0.0) return options.trackingRate;
    // The driver's attitude filter assumes 76 samples per second.
    if (options.trackingKind == 2) return 76.0;
    return options.refreshRate > 0 ? options.refreshRate : 90.0;
}

bool ParseCompanionOptions(int argc, char** argv, CompanionOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        auto flag = [&](const char* flagName, bool& target, bool value) {
            if (name != flagName) return false;
            target = value;
            return true;
        };
        if (flag("--no-tracking", options.tracking, false) ||
            flag("--loop-motion", options.loopMotion, true) ||
            flag("--quiet", options.quiet, true) || flag("--frames", options.takeFrames, true)) {
            continue;
        }
        if (name == "--stdin" || name == "--no-stdin") {
            options.readStdin = name == "--stdin";
            options.readStdinChosen = true;
            continue;
        }
        static const char* const kValueOptions[] = {
            "--rate",       "--tracking-kind", "--tracking-rate", "--controller-rate",
            "--seconds",    "--motion",        "--controllers",   "--at",
            "--script",     "--log",           "--png-dir",       "--png-every",
            "--frame-stats"};
        bool takesValue = false;
        for (const char* known : kValueOptions) takesValue = takesValue || name == known;
        if (!takesValue) {
            error = "unknown option: " + name;
            return false;
        }
        if (i + 1 >= argc) {
            error = name + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        double number = 0.0;
        long long whole = 0;
        if (name == "--rate") {
            if (!ParseWhole(value, 0, 100000, whole)) {
                error = "--rate needs a whole number of Hz (0: do not send)";
                return false;
            }
            options.refreshRate = static_cast<int32_t>(whole);
        } else if (name == "--tracking-kind") {
            if (!ParseTrackingKind(value, options.trackingKind)) {
                error = std::string("--tracking-kind: not a tracking kind: ") + value;
                return false;
            }
        } else if (name == "--tracking-rate" || name == "--controller-rate" ||
                   name == "--seconds") {
            const bool isSeconds = name == "--seconds";
            if (!ParseNumber(value, number) || number < 0.0 || (!isSeconds && number > 10000.0) ||
                (!isSeconds && number == 0.0)) {
                error = name + (isSeconds ? " needs a number of seconds (0: run until stopped)"
                                          : " needs a positive rate in Hz");
                return false;
            }
            (name == "--tracking-rate"     ? options.trackingRate
             : name == "--controller-rate" ? options.controllerRate
                                           : options.seconds) = number;
        } else if (name == "--motion") {
            options.motionFile = value;
        } else if (name == "--controllers") {
            if (!ParseWhole(value, 0, 2, whole)) {
                error = "--controllers needs 0, 1 or 2";
                return false;
            }
            options.controllers = static_cast<int>(whole);
        } else if (name == "--at") {
            TimedCommand timed;
            if (!ParseTimedCommand(value, timed, error)) {
                error = "--at: " + error;
                return false;
            }
            options.script.push_back(timed);
        } else if (name == "--script") {
            if (!LoadCommandScript(value, options.script, error)) return false;
        } else if (name == "--log") {
            options.logPath = value;
        } else if (name == "--png-dir") {
            options.pngDir = value;
            options.takeFrames = true;
        } else if (name == "--png-every") {
            if (!ParseWhole(value, 0, 1000000000, whole)) {
                error = "--png-every needs a whole number of frames";
                return false;
            }
            options.pngEvery = static_cast<uint32_t>(whole);
        } else if (name == "--frame-stats") {
            options.frameStatsPath = value;
            options.takeFrames = true;
        }
    }
    std::stable_sort(
        options.script.begin(), options.script.end(),
        [](const TimedCommand& a, const TimedCommand& b) { return a.seconds < b.seconds; });
    return true;
}

const char* CompanionUsage() {
    return "Usage: Quillo.exe [options]\n"
           "The reference companion of driver_quillo: creates the two pipes, waits for the\n"
           "driver, sends refresh rate, head tracking and controller records, prints every\n"
           "FrameInfo and HapticPulse it receives and takes the driver back after it left.\n"
           "\n"
           "Options:\n"
           "  --rate <hz>              refresh rate sent on every connection (default 90;\n"
           "                           0: none)\n"
           "  --tracking-kind <kind>   tracking kind to send (default 4, quaternion)\n"
           "  --tracking-rate <hz>     tracking messages per second (default: 76 for kind 2,\n"
           "                           else the refresh rate)\n"
           "  --no-tracking            send no tracking\n"
           "  --motion <file>          replay poses from a CSV or JSON file instead of the\n"
           "                           scripted head turn and nod (see below)\n"
           "  --loop-motion            replay the file over and over (default: hold the end)\n"
           "  --controllers <0..2>     scripted controllers (default 2)\n"
           "  --controller-rate <hz>   controller records per second each (default 60)\n"
           "  --at <seconds>:<command> run a command that long after the first connection\n"
           "  --script <file>          timed commands, one '<seconds> <command>' a line\n"
           "  --stdin, --no-stdin      read commands from standard input (default: when it\n"
           "                           is a terminal)\n"
           "  --seconds <n>            exit after n seconds (default: run until stopped)\n"
           "  --log <file>             write every event as one JSON object a line\n"
           "  --quiet                  print connections and the summary only\n"
           "  --frames                 open the output textures and read every frame\n"
           "  --png-dir <dir>          save frames as PNG there (implies --frames)\n"
           "  --png-every <n>          save every nth frame (default: the first of each\n"
           "                           connection)\n"
           "  --frame-stats <file>     write frame timing statistics as JSON (implies\n"
           "                           --frames)\n"
           "  --help                   this text\n"
           "\n"
           "Motion files: CSV lines 't,qx,qy,qz,qw,px,py,pz' (seconds, quaternion, metres;\n"
           "a header line and lines starting with '#' are skipped), or JSON: an array of\n"
           "{\"t\": s, \"q\": [x, y, z, w], \"p\": [x, y, z]}. Each pose holds until the next.\n"
           "\n";
}

}  // namespace quillo::companion
