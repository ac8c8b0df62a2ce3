#include "driver/companion_check.h"

namespace quillo {

const platform::ProcessEntry* FindProcessByImageName(
    const std::vector<platform::ProcessEntry>& processes, const std::string& imageName) {
    for (const platform::ProcessEntry& process : processes) {
        if (process.imageName == imageName) {
            return &process;
        }
    }
    return nullptr;
}

bool IsCompanionRunning() {
    std::vector<platform::ProcessEntry> processes;
    if (!platform::ListProcesses(processes)) {
        return false;
    }
    return FindProcessByImageName(processes, kCompanionImageName) != nullptr;
}

}  // namespace quillo
