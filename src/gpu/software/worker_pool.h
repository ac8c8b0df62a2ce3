// A small set of threads that share one piece of CPU work with the calling thread: the eye
// passes, clears and copies of the software backend run at display rate only when spread over
// the machine's cores.
//
// The threads are made once, with the pool, and sleep between jobs. A job is a range of items
// (rows) handed out in shrinking chunks through one atomic counter, so a thread that the system
// schedules late simply takes fewer chunks; the caller works too and returns when every chunk
// is done. Running a job allocates nothing and takes the pool's lock only to wake the threads
// and to collect them (once per thread per job). One caller at a time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace quillo::gpu::software {

class WorkerPool {
  public:
    // Body of a job: handles items [begin, end) on the thread numbered `worker` (0 is the
    // caller, 1..size()-1 the pool's threads), so each thread can keep its own scratch space.
    using Body = void (*)(void* context, size_t begin, size_t end, unsigned worker);

    // `threads` counts the caller: 1 makes no thread and runs every job on the caller.
    explicit WorkerPool(unsigned threads = DefaultThreadCount());
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // One per core the system reports, at most 8 (beyond that the memory bus, not the
    // arithmetic, limits a pass), at least 1.
    static unsigned DefaultThreadCount();
    // Threads that may work on a job, the caller included.
    unsigned size() const { return static_cast<unsigned>(threads_.size()) + 1; }

    // Runs `body` over [0, count) and returns when all is done. Chunks are never smaller than
    // `grain` items (except the last), and larger while much of the job is left.
    void Run(size_t count, size_t grain, Body body, void* context);

    // The same with any callable taking (begin, end, worker); it is called by reference.
    template <typename F>
    void ForEach(size_t count, size_t grain, F& f) {
        Run(
            count, grain,
            [](void* context, size_t begin, size_t end, unsigned worker) {
                (*static_cast<F*>(context))(begin, end, worker);
            },
            &f);
    }

  private:
    struct Job {
        Body body = nullptr;
        void* context = nullptr;
        size_t count = 0;
        size_t grain = 1;
    };

    void WorkerLoop(unsigned worker);
    // Takes chunks of the current job until none are left.
    void Work(const Job& job, unsigned worker);

    std::mutex lock_;
    std::condition_variable wake_;  // a new job, or the pool is closing
    std::condition_variable done_;  // the last thread in a closed job has left it
    Job job_;
    uint64_t generation_ = 0;  // bumped for every job
    bool closed_ = true;       // the caller has finished its chunks: no thread joins any more
    unsigned inFlight_ = 0;    // threads working on the current job
    bool stopping_ = false;
    std::atomic<size_t> next_{0};  // first item not yet handed out
    std::vector<std::thread> threads_;
};

}  // namespace quillo::gpu::software
