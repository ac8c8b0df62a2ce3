// Command line of quillo-host.
#pragma once

#include <cstdint>
#include <string>

#include "common/command_line.h"

namespace quillo::host {

struct HostOptions {
    std::string driverPath;
    std::string settingsPath;  // empty: no settings, every key reads as absent
    uint64_t frames = 0;       // 0: not limited by frames
    double seconds = 0.0;      // 0: not limited by time (5 s when neither limit is given)
    double rate = 90.0;        // RunFrame calls per second; 0: as fast as the frame loop allows
    uint64_t poseEvery = 0;    // print poses every N frames; 0: once per second of frames
    bool printPoses = true;
    uint64_t hapticEvery = 0;  // 0: no haptic pulses
    uint16_t hapticDurationMicros = 0;
    bool inlineActivation = false;  // activate inside TrackedDeviceAdded instead of after it
    bool quiet = false;             // no property and setting lines, only log, devices, input
    std::string framesMode = "none";
};

using common::ParseOutcome;

// Parses argv (CLI11): every option in one --long-name style, the help generated from the
// same declarations.
ParseOutcome ParseHostOptions(int argc, const char* const* argv, HostOptions& options,
                              std::string& message);

}  // namespace quillo::host
