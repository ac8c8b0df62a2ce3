#include "companion_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace quillo::companion {

namespace {

struct KindName {
    int32_t kind;
    const char* name;
};

constexpr KindName kKindNames[] = {
    {0, "matrix"},     {1, "recompose"},
    {2, "imu"},        {3, "angles"},
    {4, "quaternion"}, {5, "position"},
    {6, "pose"},       {50, "recenter"},
    {254, "status"},   {2147483647, "recompose-only"},
};

bool ParseInteger(const std::string& text, int64_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0') return false;
    value = parsed;
    return true;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

bool ParseTrackingKind(const std::string& text, int32_t& kind) {
    for (const KindName& entry : kKindNames) {
        if (text == entry.name) {
            kind = entry.kind;
            return true;
        }
    }
    int64_t value = 0;
    if (!ParseInteger(text, value) || value < INT32_MIN || value > INT32_MAX) return false;
    kind = static_cast<int32_t>(value);
    return true;
}

const char* TrackingKindName(int32_t kind) {
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind) return entry.name;
    }
    return "unlisted (read as matrix)";
}

bool ParseCommand(const std::string& input, Command& out, std::string& error) {
    std::string text = Trim(input);
    std::string word = text;
    std::string argument;
    const size_t split = text.find_first_of(" =");
    if (split != std::string::npos) {
        word = text.substr(0, split);
        argument = Trim(text.substr(split + 1));
    }
    struct Plain {
        const char* name;
        CommandKind kind;
    };
    static const Plain plain[] = {
        {"recenter", CommandKind::kRecenter},
        {"recenter-kind", CommandKind::kRecenterKind},
        {"shutdown", CommandKind::kShutdown},
        {"tracking-off", CommandKind::kTrackingOff},
        {"tracking-on", CommandKind::kTrackingOn},
        {"controllers-off", CommandKind::kControllersOff},
        {"controllers-on", CommandKind::kControllersOn},
        {"disconnect", CommandKind::kDisconnect},
        {"quit", CommandKind::kQuit},
    };
    for (const Plain& entry : plain) {
        if (word == entry.name) {
            if (!argument.empty()) {
                error = "'" + word + "' takes no argument";
                return false;
            }
            out = Command{entry.kind, 0};
            return true;
        }
    }
    if (word == "rate" || word == "status") {
        int64_t value = 0;
        const bool isRate = word == "rate";
        if (!ParseInteger(argument, value) || value < (isRate ? INT32_MIN : 0) ||
            value > (isRate ? INT32_MAX : 255)) {
            error = isRate ? "'rate' needs a whole number of Hz" : "'status' needs 0..255";
            return false;
        }
        out = Command{isRate ? CommandKind::kRate : CommandKind::kStatus, value};
        return true;
    }
    if (word == "kind") {
        int32_t kind = 0;
        if (!ParseTrackingKind(argument, kind)) {
            error = "'kind' needs a tracking kind (number or name)";
            return false;
        }
        out = Command{CommandKind::kKind, kind};
        return true;
    }
    error = text.empty() ? "empty command" : "unknown command '" + word + "'";
    return false;
}

bool ParseTimedCommand(const std::string& text, TimedCommand& out, std::string& error) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        error = "expected <seconds>:<command>, got '" + text + "'";
        return false;
    }
    const std::string time = text.substr(0, colon);
    char* end = nullptr;
    const double seconds = std::strtod(time.c_str(), &end);
    if (time.empty() || end == nullptr || *end != '\0' || !(seconds >= 0.0)) {
        error = "bad time '" + time + "' (seconds after the first connection)";
        return false;
    }
    out.seconds = seconds;
    return ParseCommand(text.substr(colon + 1), out.command, error);
}

bool LoadCommandScript(const std::string& path, std::vector<TimedCommand>& out,
                       std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot open script " + path;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        const size_t space = line.find_first_of(" \t");
        TimedCommand timed;
        std::string reason;
        if (space == std::string::npos ||
            !ParseTimedCommand(line.substr(0, space) + ":" + Trim(line.substr(space)), timed,
                               reason)) {
            error = path + ":" + std::to_string(number) + ": " +
                    (reason.empty() ? "expected '<seconds> <command>'" : reason);
            return false;
        }
        out.push_back(timed);
    }
    return true;
}

std::string DescribeCommand(const Command& command) {
    switch (command.kind) {
        case CommandKind::kRecenter:
            return "recenter";
        case CommandKind::kRecenterKind:
            return "recenter-kind";
        case CommandKind::kShutdown:
            return "shutdown";
        case CommandKind::kRate:
            return "rate " + std::to_string(command.value);
        case CommandKind::kStatus:
            return "status " + std::to_string(command.value);
        case CommandKind::kKind:
            return "kind " + std::to_string(command.value);
        case CommandKind::kTrackingOff:
            return "tracking-off";
        case CommandKind::kTrackingOn:
            return "tracking-on";
        case CommandKind::kControllersOff:
            return "controllers-off";
        case CommandKind::kControllersOn:
            return "controllers-on";
        case CommandKind::kDisconnect:
            return "disconnect";
        case CommandKind::kQuit:
            return "quit";
    }
    return "?";
}

const char* CommandHelp() {
    return "Commands (standard input, --at <seconds>:<command>, or a --script file with\n"
           "'<seconds> <command>' lines; times count from the first connection):\n"
           "  recenter          send a RecenterMessage\n"
           "  recenter-kind     send one tracking message of kind 50\n"
           "  rate <hz>         send a RefreshRateMessage\n"
           "  status <0..255>   send one tracking message of kind 254 with that status\n"
           "  kind <kind>       switch the tracking kind\n"
           "  tracking-off, tracking-on, controllers-off, controllers-on\n"
           "  shutdown          send a ShutdownRuntimeMessage\n"
           "  disconnect        close the connection (the driver reconnects)\n"
           "  quit              end the companion\n"
           "Tracking kinds: 0 matrix, 1 recompose, 2 imu, 3 angles, 4 quaternion, 5 position,\n"
           "  6 pose, 50 recenter, 254 status, 2147483647 recompose-only; any other number is\n"
           "  sent as it stands (the driver reads it as a matrix).\n";
}

}  // namespace quillo::companion
