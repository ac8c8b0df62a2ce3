#include "host_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quillo::host {

namespace {

bool ParseUnsigned(const char* text, uint64_t maximum, uint64_t& out) {
    if (text == nullptr || *text == '\0' || *text == '-') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > maximum) return false;
    out = value;
    return true;
}

bool ParseNonNegative(const char* text, double& out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(value >= 0.0) || value > 1e9) return false;
    out = value;
    return true;
}

}  // namespace

const char* HostUsage() {
    return "Usage: quillo-host [options] <driver library>\n"
           "Loads an OpenVR driver library as the runtime does, runs it and prints what it\n"
           "publishes: devices, properties, poses, log lines and controller input.\n"
           "\n"
           "Options:\n"
           "  --driver <path>             the driver library (or give it as the last argument)\n"
           "  --settings <json>           settings in default.vrsettings form\n"
           "  --frames <n>                stop after n frames\n"
           "  --seconds <s>               stop after s seconds (default without --frames: 5)\n"
           "  --rate <hz>                 RunFrame calls per second (default 90; 0: unpaced)\n"
           "  --pose-every <n>            print poses every n frames (default: once a second)\n"
           "  --no-poses                  do not print poses\n"
           "  --haptic-every <n> <us>     every n frames, a haptic pulse of <us> microseconds\n"
           "                              on each active controller\n"
           "  --inline-activation         activate devices inside TrackedDeviceAdded\n"
           "  --frames-mode <mode>        display frames: none (default), auto, virtual or\n"
           "                              direct; options follow after commas:\n"
           "                              hold-sync-at=<n>, hold-sync-frames=<k>,\n"
           "                              shared-eye-texture\n"
           "  --quiet                     do not print property writes and setting reads\n"
           "  --help                      this text\n"
           "\n"
           "Exit status: 0 ran and cleaned up; 2 usage; 3 library not loaded; 4 no\n"
           "HmdDriverFactory; 5 factory gave no provider; 6 Init failed.\n";
}

bool ParseHostOptions(int argc, char** argv, HostOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        auto next = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            options.help = true;
        } else if (std::strcmp(arg, "--driver") == 0) {
            const char* v = next(arg);
            if (v == nullptr) return false;
            options.driverPath = v;
        } else if (std::strcmp(arg, "--settings") == 0) {
            const char* v = next(arg);
            if (v == nullptr) return false;
            options.settingsPath = v;
        } else if (std::strcmp(arg, "--frames") == 0) {
            const char* v = next(arg);
            if (v == nullptr) return false;
            if (!ParseUnsigned(v, UINT64_MAX, options.frames)) {
                error = "--frames needs a whole number";
                return false;
            }
        } else if (std::strcmp(arg, "--seconds") == 0) {
            const char* v = next(arg);
            if (v == nullptr) return false;
            if (!ParseNonNegative(v, options.seconds)) {
                error = "--seconds needs a non-negative number";
                return false;
            }
        } else if (std::strcmp(arg, "--rate") == 0) {
            const char* v = next(arg);
            if (v == nullptr) return false;
            if (!ParseNonNegative(v, options.rate) || options.rate > 100000.0) {
                error = "--rate needs a number of calls per second (0 to 100000)";
                return false;
            }
        } else if (std::strcmp(arg, "--pose-every") == 0) {
            const char* v = next(arg);
            if (v == nullptr) return false;
            if (!ParseUnsigned(v, UINT64_MAX, options.poseEvery)) {
                error = "--pose-every needs a whole number";
                return false;
            }
        } else if (std::strcmp(arg, "--no-poses") == 0) {
            options.printPoses = false;
        } else if (std::strcmp(arg, "--haptic-every") == 0) {
            const char* frames = next(arg);
            if (frames == nullptr) return false;
            const char* duration = next(arg);
            if (duration == nullptr) return false;
            uint64_t micros = 0;
            if (!ParseUnsigned(frames, UINT64_MAX, options.hapticEvery) ||
                options.hapticEvery == 0 || !ParseUnsigned(duration, 65535, micros)) {
                error =
                    "--haptic-every needs a frame count (1 or more) and a duration in "
                    "microseconds (0 to 65535)";
                return false;
            }
            options.hapticDurationMicros = static_cast<uint16_t>(micros);
        } else if (std::strcmp(arg, "--inline-activation") == 0) {
            options.inlineActivation = true;
        } else if (std::strcmp(arg, "--frames-mode") == 0) {
            const char* v = next(arg);
            if (v == nullptr) return false;
            options.framesMode = v;
        } else if (std::strcmp(arg, "--quiet") == 0) {
            options.quiet = true;
        } else if (arg[0] == '-' && arg[1] == '-') {
            error = std::string("unknown option ") + arg;
            return false;
        } else if (options.driverPath.empty()) {
            options.driverPath = arg;
        } else {
            error = std::string("unexpected argument ") + arg;
            return false;
        }
    }
    if (!options.help && options.driverPath.empty()) {
        error = "no driver library given";
        return false;
    }
    if (options.frames == 0 && options.seconds == 0.0) {
        options.seconds = 5.0;
    }
    return true;
}

}  // namespace quillo::host
