// Command line of the reference companion (Quillo.exe).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "companion_command.h"

#include "common/command_line.h"

namespace quillo::companion {

struct CompanionOptions {
    int32_t refreshRate = 90;          // announced on every connection; 0: never sent
    int32_t trackingKind = 4;          // wire value of the TrackingKind to send
    double trackingRate = 0.0;         // messages per second; 0: 76 for kind 2, else refreshRate
    bool tracking = true;              // send tracking at all
    std::string motionFile;            // CSV or JSON poses to replay; empty: scripted motion
    bool loopMotion = false;           // replay the file over and over instead of holding its end
    int controllers = 2;               // 0, 1 or 2 scripted controllers
    double controllerRate = 60.0;      // controller records per second per controller
    double seconds = 0.0;              // run this long, then exit; 0: until stopped
    std::vector<TimedCommand> script;  // --at and --script, sorted by time
    std::string logPath;               // JSON lines of every event; empty: none
    bool readStdin = false;            // commands from standard input
    bool readStdinChosen = false;      // --stdin or --no-stdin given; else: when it is a terminal
    bool quiet = false;                // no per-message lines; connection lines and summary only
    // The frame side (frame_side.h) reads these.
    bool takeFrames = false;     // open the output textures and read every frame
    std::string pngDir;          // write frames as PNG files here; empty: none
    uint32_t pngEvery = 0;       // every Nth frame; 0: only the first frame of a connection
    std::string frameStatsPath;  // timing statistics of received frames (JSON); empty: none
};

using common::ParseOutcome;

// Parses argv (CLI11): every option in one --long-name style, the help generated from the
// same declarations.
ParseOutcome ParseCompanionOptions(int argc, const char* const* argv, CompanionOptions& options,
                                   std::string& message);

// Tracking rate in effect for `options` (see trackingRate).
double EffectiveTrackingRate(const CompanionOptions& options);

}  // namespace quillo::companion
