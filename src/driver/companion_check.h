// Whether the companion application runs: a process whose image name is exactly
// "Quillo.exe" (whole name, letter case included).
#pragma once

#include <string>
#include <vector>

#include "platform/process.h"

namespace quillo {

constexpr const char* kCompanionImageName = "Quillo.exe";

// First entry, in snapshot order, whose image name is exactly `imageName`; null if none.
const platform::ProcessEntry* FindProcessByImageName(
    const std::vector<platform::ProcessEntry>& processes, const std::string& imageName);

// Takes a process snapshot and looks for the companion. False as well when the snapshot
// cannot be taken.
bool IsCompanionRunning();

}  // namespace quillo
