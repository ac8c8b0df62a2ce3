// Commands the companion runs while it is connected: typed on standard input, given with
// --at on the command line or read from a --script file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillo::companion {

enum class CommandKind {
    kRecenter,        // RecenterMessage (type 8)
    kRecenterKind,    // one TrackingMessage of kind 50
    kShutdown,        // ShutdownRuntimeMessage (type 14)
    kRate,            // RefreshRateMessage with `value`
    kStatus,          // one TrackingMessage of kind 254 with status byte `value`
    kKind,            // send tracking of kind `value` from now on
    kTrackingOff,     // stop sending tracking
    kTrackingOn,      // resume sending tracking
    kControllersOff,  // stop sending controller records
    kControllersOn,   // resume them
    kDisconnect,      // close the current connection; the driver reconnects
    kQuit,            // end the companion
};

struct Command {
    CommandKind kind = CommandKind::kQuit;
    int64_t value = 0;
};

struct TimedCommand {
    double seconds = 0.0;  // after the first connection
    Command command;
};

// Parses "recenter", "rate 72", "rate=72", "status 2", "kind 5", "shutdown", ...
// Returns false with a reason in `error` for anything else.
bool ParseCommand(const std::string& text, Command& out, std::string& error);

// Parses "<seconds>:<command>" as given to --at.
bool ParseTimedCommand(const std::string& text, TimedCommand& out, std::string& error);

// Reads a script file: one "<seconds> <command>" per line; blank lines and lines starting
// with '#' are skipped. Errors name the line.
bool LoadCommandScript(const std::string& path, std::vector<TimedCommand>& out, std::string& error);

// A tracking kind by number ("4", "2147483647") or name ("quaternion", "imu", ...; see
// CommandHelp). Any int32 number is accepted: unknown kinds are legal on the wire.
bool ParseTrackingKind(const std::string& text, int32_t& kind);
const char* TrackingKindName(int32_t kind);

// Text of a command for output lines ("rate 72").
std::string DescribeCommand(const Command& command);

const char* CommandHelp();

}  // namespace quillo::companion
