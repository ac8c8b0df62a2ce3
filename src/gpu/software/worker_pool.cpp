#include "gpu/software/worker_pool.h"

#include <algorithm>

namespace quillo::gpu::software {

unsigned WorkerPool::DefaultThreadCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 1u, 8u);
}

WorkerPool::WorkerPool(unsigned threads) {
    threads = std::max(threads, 1u);
    threads_.reserve(threads - 1);
    for (unsigned worker = 1; worker < threads; ++worker) {
        threads_.emplace_back([this, worker] { WorkerLoop(worker); });
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Work(const Job& job, unsigned worker) {
    // Chunks shrink as the job runs: each takes a share of what is left (half of an even split
    // among the threads), and never less than the grain. Large early chunks keep the per-chunk
    // cost low (the filtered eye pass decodes one source row more at each chunk start), small
    // late ones let the threads finish together instead of one waiting for another's last chunk.
    const size_t share = 2 * static_cast<size_t>(size());
    size_t begin = next_.load(std::memory_order_relaxed);
    for (;;) {
        if (begin >= job.count) return;
        const size_t chunk = std::max(job.grain, (job.count - begin) / share);
        // On failure `begin` is reloaded with the counter's current value.
        if (!next_.compare_exchange_weak(begin, begin + chunk, std::memory_order_relaxed)) continue;
        job.body(job.context, begin, std::min(begin + chunk, job.count), worker);
        begin = next_.load(std::memory_order_relaxed);
    }
}

void WorkerPool::Run(size_t count, size_t grain, Body body, void* context) {
    if (count == 0) return;
    grain = std::max<size_t>(grain, 1);
    if (threads_.empty() || count <= grain) {
        body(context, 0, count, 0);
        return;
    }
    Job job{body, context, count, grain};
    {
        std::lock_guard<std::mutex> guard(lock_);
        job_ = job;
        next_.store(0, std::memory_order_relaxed);
        closed_ = false;
        ++generation_;
    }
    wake_.notify_all();
    Work(job, 0);
    // Threads that have not joined by now find nothing left and are not waited for.
    std::unique_lock<std::mutex> guard(lock_);
    closed_ = true;
    done_.wait(guard, [this] { return inFlight_ == 0; });
}

void WorkerPool::WorkerLoop(unsigned worker) {
    uint64_t seen = 0;
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait(guard, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            if (closed_) continue;
            job = job_;
            ++inFlight_;
        }
        Work(job, worker);
        std::lock_guard<std::mutex> guard(lock_);
        if (--inFlight_ == 0 && closed_) done_.notify_one();
    }
}

}  // namespace quillo::gpu::software
