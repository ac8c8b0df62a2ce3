#include "integration/frames/frames_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <memory>

#include "platform/process.h"
#include "support/program_paths.h"
#include "support/test_files.h"
#include "support/wait_until.h"
#include "test_paths.h"

// The one translation unit of the tests that holds stb_image's code.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

namespace quillo::test {

// A direct-mode frame runs the software eye pass over 600000 pixels; in a sanitizer build on a
// busy machine that is about a second.
constexpr uint32_t kHostTimeoutMs = 600000;

FramesRun::FramesRun(const char* label) : dir(std::string("quillo-") + label) {
    static std::atomic<int> next{0};
    environment_ = {{"QUILLO_PIPE_SUFFIX", "_" + std::string(label) + "_" +
                                               std::to_string(platform::CurrentProcessId()) + "_" +
                                               std::to_string(next++)},
                    {"QUILLO_GPU_BACKEND", "software"}};
}

void FramesRun::StartCompanion(int rate, const std::vector<std::string>& arguments,
                               const std::vector<std::pair<std::string, std::string>>& variables) {
    ASSERT_TRUE(dir.ok());
    platform::ChildProcessOptions options;
    options.program = NativePath(QUILLO_TEST_PATH_QUILLO_COMPANION);
    options.arguments = {"--no-stdin", "--quiet", "--rate",        std::to_string(rate),
                         "--seconds",  "900",     "--controllers", "0"};
    options.environment = environment_;
    options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
    options.environment.insert(options.environment.end(), variables.begin(), variables.end());
    options.stdoutPath = options.stderrPath = File("companion.txt");
    std::string error;
    ASSERT_TRUE(companion.Start(options, &error)) << error;
    ASSERT_TRUE(WaitUntil([&] {
        return ReadWholeFile(File("companion.txt")).find("waiting for the driver") !=
               std::string::npos;
    })) << ReadWholeFile(File("companion.txt"));
}

void FramesRun::RunHost(int hmdMode, const std::string& mode,
                        const std::vector<std::string>& length) {
    ASSERT_TRUE(
        WriteWholeFile(File("settings.json"),
                       "{\"driver_quillo\": {\"windowWidth\": " + std::to_string(kFrameWidth) +
                           ", \"windowHeight\": " + std::to_string(kFrameHeight) +
                           ", \"renderScale\": 100, \"hmdMode\": " + std::to_string(hmdMode) +
                           ", \"fakeSensorEnabled\": false}}"));
    platform::ChildProcessOptions options;
    options.program = NativePath(QUILLO_TEST_PATH_QUILLO_HOST);
    options.arguments = {"--settings",    NativePath(File("settings.json")),
                         "--rate",        "0",
                         "--no-poses",    "--quiet",
                         "--frames-mode", mode};
    options.environment = environment_;
    options.arguments.insert(options.arguments.end(), length.begin(), length.end());
    options.arguments.push_back(NativePath(QUILLO_TEST_PATH_DRIVER_QUILLO));
    options.stdoutPath = options.stderrPath = File("host.txt");
    platform::ChildProcess host;
    std::string error;
    ASSERT_TRUE(host.Start(options, &error)) << error;
    ASSERT_TRUE(host.Wait(kHostTimeoutMs)) << ReadWholeFile(File("host.txt"));
    hostOutput = ReadWholeFile(File("host.txt"));
    ASSERT_EQ(host.exitCode(), 0) << hostOutput;
}

bool ReadPng(const std::string& path, PngImage& out, std::string& error) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes) || bytes.empty() || bytes.size() > INT_MAX) {
        error = "cannot read " + path;
        return false;
    }
    int width = 0, height = 0, channels = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                              static_cast<int>(bytes.size()), &width, &height, &channels, 4),
        stbi_image_free);
    if (pixels == nullptr || channels != 4) {
        error = path + ": " + (pixels ? "not RGBA" : stbi_failure_reason());
        return false;
    }
    out.width = static_cast<uint32_t>(width);
    out.height = static_cast<uint32_t>(height);
    out.rgba.assign(pixels.get(), pixels.get() + static_cast<size_t>(width) * height * 4);
    return true;
}

}  // namespace quillo::test
