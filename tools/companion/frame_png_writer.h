// Writes PNG files on a thread of its own, so that encoding a frame never holds up the frame
// reader (while it encodes, the driver would go on handing frames over unread).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillo::companion {

class FramePngWriter {
  public:
    // Frames waiting beyond this many are dropped (and counted) rather than queued.
    static constexpr size_t kMaxPending = 4;

    FramePngWriter();
    // Writes what is queued, then ends the thread.
    ~FramePngWriter();
    FramePngWriter(const FramePngWriter&) = delete;
    FramePngWriter& operator=(const FramePngWriter&) = delete;

    // Queues a copy of tightly packed RGBA8 rows. False when the queue is full.
    bool Queue(const std::string& path, const uint8_t* rgba, uint32_t width, uint32_t height);
    // Waits until everything queued so far is written. Returns the number of files that could
    // not be written since the last call.
    uint32_t Flush();

  private:
    struct Job {
        std::string path;
        std::vector<uint8_t> pixels;
        uint32_t width = 0;
        uint32_t height = 0;
    };
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool stopping_ = false;
    uint32_t failures_ = 0;
    std::thread thread_;
};

}  // namespace quillo::companion
