// Objects made with allocate_shared over recycled blocks: the heap when all blocks are taken,
// blocks given back as objects go, and blocks that live as long as an object made in them.
#include "gpu/recycled_blocks.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace quillo::test {
namespace {

using gpu::BlockAllocator;
using gpu::RecycledBlocks;

struct Opened {
    explicit Opened(int value) : value(value) {}
    int value;
    char payload[64] = {};
};

std::shared_ptr<Opened> Make(const std::shared_ptr<RecycledBlocks>& blocks, int value) {
    return std::allocate_shared<Opened>(BlockAllocator<Opened>(blocks), value);
}

TEST(RecycledBlocks, AllBlocksTakenMeansTheHeapAndObjectsKeepTheirBlocksAlive) {
    auto blocks = std::make_shared<RecycledBlocks>();
    std::vector<std::shared_ptr<Opened>> held;
    for (int i = 0; i < static_cast<int>(RecycledBlocks::kBlockCount) + 3; ++i) {
        held.push_back(Make(blocks, i));
    }
    EXPECT_EQ(blocks->InUse(), RecycledBlocks::kBlockCount);
    for (int i = 0; i < static_cast<int>(held.size()); ++i) EXPECT_EQ(held[i]->value, i);
    RecycledBlocks* raw = blocks.get();
    blocks.reset();  // the device that made them goes first
    held.erase(held.begin(), held.begin() + 4);
    EXPECT_EQ(raw->InUse(), RecycledBlocks::kBlockCount - 4);
    held.clear();  // the last object frees the blocks (AddressSanitizer sees any misuse)
}

}  // namespace
}  // namespace quillo::test
