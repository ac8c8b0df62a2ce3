#include "link/shutdown_request.h"

#include <string>

namespace quillo {

namespace {

constexpr const char* kMonitorImageName = "vrmonitor.exe";

}  // namespace

bool FindMonitorProcess(const std::vector<platform::ProcessEntry>& processes, uint32_t& pid) {
    bool found = false;
    for (size_t i = 1; i < processes.size(); ++i) {
        if (processes[i].imageName == kMonitorImageName) {
            pid = processes[i].pid;
            found = true;
        }
    }
    return found;
}

void ShutdownRuntime() {
    // Without a readable host path the request is ignored, as a sign that the process
    // services are not usable.
    const std::string hostPath = platform::CurrentExecutablePath();
    if (hostPath.empty()) return;

    // A host whose path started with "vrserver" would end itself instead. The path is always
    // a full path (a drive letter or a leading slash), so that branch can never be taken and
    // is left out on purpose: whichever process hosts the driver, the monitor is the one ended.

    std::vector<platform::ProcessEntry> processes;
    if (!platform::ListProcesses(processes)) return;

    uint32_t pid = 0;
    if (FindMonitorProcess(processes, pid)) platform::TerminateProcessById(pid);
}

}  // namespace quillo
