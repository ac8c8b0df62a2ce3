// A small program the child-process tests start: it carries out the commands given as its
// arguments, left to right, so a test can check what a child receives (arguments,
// environment, working folder, output files) and how it ends.
//
//   out <text>    writes <text> and a line break to standard output
//   err <text>    writes <text> and a line break to standard error
//   env <name>    writes "<name>=<value>" or "<name> unset" to standard output
//   cwd           writes the working folder to standard output
//   stdin         writes "stdin:" and the number of bytes it could read from standard input
//   args          writes every remaining argument as "[<argument>]" on its own line, then stops
//   sleep <ms>    waits
//   hang          waits until killed (a day at most)
//   exit <code>   ends with that exit code
// Unknown commands end the program with exit code 64.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* command = argv[i];
        const char* operand = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(command, "out") == 0 && operand != nullptr) {
            std::printf("%s\n", operand);
            ++i;
        } else if (std::strcmp(command, "err") == 0 && operand != nullptr) {
            std::fprintf(stderr, "%s\n", operand);
            ++i;
        } else if (std::strcmp(command, "env") == 0 && operand != nullptr) {
            const char* value = std::getenv(operand);
            if (value != nullptr) {
                std::printf("%s=%s\n", operand, value);
            } else {
                std::printf("%s unset\n", operand);
            }
            ++i;
        } else if (std::strcmp(command, "cwd") == 0) {
            std::printf("%s\n", std::filesystem::current_path().generic_string().c_str());
        } else if (std::strcmp(command, "stdin") == 0) {
            char buffer[256];
            const size_t got = std::fread(buffer, 1, sizeof buffer, stdin);
            std::printf("stdin:%lu\n", static_cast<unsigned long>(got));
        } else if (std::strcmp(command, "args") == 0) {
            for (int j = i + 1; j < argc; ++j) {
                std::printf("[%s]\n", argv[j]);
            }
            break;
        } else if (std::strcmp(command, "sleep") == 0 && operand != nullptr) {
            std::fflush(stdout);
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(operand)));
            ++i;
        } else if (std::strcmp(command, "hang") == 0) {
            std::fflush(stdout);
            std::this_thread::sleep_for(std::chrono::hours(24));
        } else if (std::strcmp(command, "exit") == 0 && operand != nullptr) {
            std::fflush(stdout);
            std::fflush(stderr);
            return std::atoi(operand);
        } else {
            std::fprintf(stderr, "child_probe: unknown command '%s'\n", command);
            return 64;
        }
        std::fflush(stdout);
    }
    return 0;
}
