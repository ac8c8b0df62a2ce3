#include <windows.h>

#include "common/console.h"

namespace quillo::platform {

namespace {
std::atomic<bool>* g_stopRequested = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (g_stopRequested != nullptr && (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT)) {
        g_stopRequested->store(true);
        return TRUE;
    }
    return FALSE;
}

bool IsConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != FALSE;
}
}  // namespace

bool StdoutIsTerminal() {
    return IsConsole(STD_OUTPUT_HANDLE);
}

bool StdinIsTerminal() {
    return IsConsole(STD_INPUT_HANDLE);
}

void RequestStopOnInterrupt(std::atomic<bool>* stopRequested) {
    g_stopRequested = stopRequested;
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

}  // namespace quillo::platform
