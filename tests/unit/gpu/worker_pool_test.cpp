// The pool that spreads the software backend's passes over the cores: every item of a job is
// handled exactly once whatever the thread timing, and the chunks shrink from large (few chunk
// starts: the filtered eye pass repeats a source row's decoding at each one) to the grain (the
// threads finish together).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "gpu/software/worker_pool.h"

namespace quillo::test {
namespace {

using gpu::software::WorkerPool;

TEST(WorkerPool, HandlesEveryItemOnceInChunksThatShrinkToTheGrain) {
    WorkerPool pool(3);
    struct Case {
        size_t count, grain;
    };
    // Counts below, at and far above the grain, and not multiples of it; the eye-sized job
    // repeated, as frames run one after another on the same pool.
    const Case cases[] = {{1, 8}, {7, 8}, {8, 8}, {13, 3}, {1000, 8}, {1440, 8}, {1440, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " items, grain " << c.grain);
        std::vector<std::atomic<int>> handled(c.count + 64);  // room to see items past the end
        std::mutex chunksLock;
        std::vector<std::pair<size_t, size_t>> chunks;
        auto body = [&](size_t begin, size_t end, unsigned worker) {
            ASSERT_LT(worker, pool.size());
            for (size_t i = begin; i < end && i < handled.size(); ++i) ++handled[i];
            std::lock_guard<std::mutex> guard(chunksLock);
            chunks.emplace_back(begin, end);
        };
        pool.ForEach(c.count, c.grain, body);

        for (size_t i = 0; i < handled.size(); ++i) {
            ASSERT_EQ(handled[i].load(), i < c.count ? 1 : 0) << "item " << i;
        }
        for (const auto& [begin, end] : chunks) {
            if (end != c.count) {
                EXPECT_GE(end - begin, c.grain) << "chunk at " << begin;
            }
        }
        if (c.count >= 1000) {
            // Fixed chunks of the grain would make count / grain of them (125 and 180); shares
            // of what is left make a few dozen, and the job still ends in grain-sized ones.
            EXPECT_LT(chunks.size(), c.count / c.grain / 3);
            const auto last = std::max_element(chunks.begin(), chunks.end());
            EXPECT_LE(last->second - last->first, c.grain);
        }
    }
}

}  // namespace
}  // namespace quillo::test
