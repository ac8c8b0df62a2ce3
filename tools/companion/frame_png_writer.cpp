#include "frame_png_writer.h"

#include "frame_png.h"

namespace quillo::companion {

FramePngWriter::FramePngWriter() : thread_([this] { Run(); }) {}

FramePngWriter::~FramePngWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool FramePngWriter::Queue(const std::string& path, const uint8_t* rgba, uint32_t width,
                           uint32_t height) {
    Job job;
    job.path = path;
    job.pixels.assign(rgba, rgba + static_cast<size_t>(width) * height * 4);
    job.width = width;
    job.height = height;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (jobs_.size() >= kMaxPending) return false;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

uint32_t FramePngWriter::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
    const uint32_t failures = failures_;
    failures_ = 0;
    return failures;
}

void FramePngWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // stopping, and everything is written
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        const bool written = WritePng(job.path, job.pixels.data(),
                                      static_cast<size_t>(job.width) * 4, job.width, job.height);
        lock.lock();
        busy_ = false;
        if (!written) ++failures_;
        idle_.notify_all();
    }
}

}  // namespace quillo::companion
