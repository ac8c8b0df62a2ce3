#include "support/temp_dir.h"

#include <atomic>
#include <filesystem>
#include <random>
#include <system_error>

#include "platform/process.h"

namespace quillo::test {

namespace {
std::atomic<unsigned> g_counter{0};
}

TempDir::TempDir(const std::string& label) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) {
        return;
    }
    std::random_device entropy;
    // A few attempts: a name left by a crashed run with the same pid is skipped.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = label + "-" + std::to_string(platform::CurrentProcessId()) + "-" +
                                 std::to_string(g_counter++) + "-" +
                                 std::to_string(entropy() % 1000000u);
        const std::filesystem::path candidate = base / name;
        if (std::filesystem::create_directory(candidate, error) && !error) {
            path_ = candidate.generic_string();
            return;
        }
    }
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(path_), ignored);
    }
}

std::string TempDir::File(const std::string& name) const {
    return path_ + "/" + name;
}

}  // namespace quillo::test
