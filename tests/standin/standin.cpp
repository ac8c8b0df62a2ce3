// A process that only exists under a given image name: it sleeps until it is killed, or for
// the number of seconds given as its first argument. The process-level tests start it as the
// companion ("Quillo.exe") or as the runtime's monitor ("vrmonitor.exe") and their look-alikes.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    // A day at most: a stand-in left behind by a crashed test does not live for ever.
    double seconds = 86400.0;
    if (argc > 1) {
        char* end = nullptr;
        const double given = std::strtod(argv[1], &end);
        if (end == argv[1] || *end != '\0' || !(given >= 0.0) || given > 86400.0) {
            std::fprintf(stderr, "usage: %s [seconds to live, 0 to 86400]\n", argv[0]);
            return 2;
        }
        seconds = given;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return 0;
}
