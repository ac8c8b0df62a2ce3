#include <signal.h>
#include <unistd.h>

#include "common/console.h"

namespace quillo::platform {

namespace {
std::atomic<bool>* g_stopRequested = nullptr;

void OnSignal(int) {
    if (g_stopRequested != nullptr) {
        g_stopRequested->store(true);
    }
}
}  // namespace

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

void RequestStopOnInterrupt(std::atomic<bool>* stopRequested) {
    g_stopRequested = stopRequested;
    struct sigaction action = {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace quillo::platform
