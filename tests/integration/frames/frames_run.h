// The companion and quillo-host run against each other for the frame tests: on pipes of their
// own, both on the software GPU backend (so the shared textures and their keyed mutexes are
// cross-process objects of the platform layer; Direct3D under Wine has neither), their files
// in one temporary folder.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/child_process.h"
#include "support/temp_dir.h"

namespace quillo::test {

// The smallest window the headset allows; frames are drawn at this size.
constexpr uint32_t kFrameWidth = 1000;
constexpr uint32_t kFrameHeight = 600;

class FramesRun {
  public:
    explicit FramesRun(const char* label);

    // Starts the companion at `rate` frames a second with `arguments` after the usual ones and
    // `variables` in its environment (its output in File("companion.txt")) and waits until its
    // pipes exist.
    void StartCompanion(int rate, const std::vector<std::string>& arguments,
                        const std::vector<std::pair<std::string, std::string>>& variables = {});
    // Runs quillo-host to its end in headset mode `hmdMode` with --frames-mode `mode` and
    // `length` (--frames N or --seconds S); its output in hostOutput.
    void RunHost(int hmdMode, const std::string& mode, const std::vector<std::string>& length);

    std::string File(const std::string& name) const { return dir.File(name); }

    TempDir dir;
    platform::ChildProcess companion;
    std::string hostOutput;

  private:
    std::vector<std::pair<std::string, std::string>> environment_;
};

struct PngImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;  // rows of width * 4 bytes, top row first
};

// The PNG file at `path`, decoded with stb_image (a decoder that shares no code with the
// companion's writer, so a test sees what any image viewer would show). False with a reason
// for a file that is missing, does not decode or is not RGBA.
bool ReadPng(const std::string& path, PngImage& out, std::string& error);

}  // namespace quillo::test
