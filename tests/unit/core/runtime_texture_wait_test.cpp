// How long the driver waits for the runtime's texture (its keyed mutex): one frame interval.
// A holder that lets go within the interval still gets its frame presented; one that holds
// longer makes the driver drop the frame; a holder that died leaves an abandoned mutex, which
// the driver releases so that the next frame flows. The short holder lets go 900 ms before the
// driver would give up; the long one holds until the driver has given up, so a loaded machine
// does not change the outcome.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/shared_memory.h"
#include "unit/core/core_fixture.h"

namespace quillo::test {
namespace {

class RuntimeTextureWait : public CoreFixture {
  protected:
    // The runtime holds its back buffer and lets go after `holdMs` on another thread (-1: once
    // the present returned); the driver presents meanwhile. Returns whether the frame was
    // presented (the output index moved on).
    bool PresentWhileHeld(int refreshHz, int holdMs) {
        core->OnFramerateUpdated(refreshHz);
        auto backBuffer = MakeRuntimeTexture(16, 16);
        EXPECT_TRUE(backBuffer);
        EXPECT_EQ(backBuffer->AcquireSync(0, 0), gpu::SyncResult::Ok);
        std::thread holder([&] {
            if (holdMs < 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
            backBuffer->ReleaseSync(0);
        });
        const int before = core->frameIndex();
        core->PresentVirtual(backBuffer->SharedHandle());
        holder.join();
        if (holdMs < 0) backBuffer->ReleaseSync(0);
        return core->frameIndex() != before;
    }
};

TEST_F(RuntimeTextureWait, AHolderShorterThanTheIntervalStillPresents) {
    EXPECT_TRUE(PresentWhileHeld(1, 100));  // waits up to 1000 ms
}

TEST_F(RuntimeTextureWait, AHolderLongerThanTheIntervalDropsTheFrame) {
    LogCapture log;
    EXPECT_FALSE(PresentWhileHeld(10, -1));
    // The wait it gave up on was one interval long.
    EXPECT_EQ(log.Count("back buffer was not released within 100 ms"), 1u);
}

TEST_F(RuntimeTextureWait, AnAbandonedMutexIsReleasedAndTheNextFrameFlows) {
    LogCapture log;
    core->OnFramerateUpdated(90);
    auto backBuffer = MakeRuntimeTexture(16, 16);
    ASSERT_TRUE(backBuffer);
    ASSERT_EQ(backBuffer->AcquireSync(0, 0), gpu::SyncResult::Ok);
    // Make the holder a process that no longer exists: the texture's owner word (offset 40 of
    // its section) names the owning process in its high half.
    char name[40];
    std::snprintf(name, sizeof name, "QuilloSoftTex_%08X",
                  static_cast<uint32_t>(backBuffer->SharedHandle()));
    platform::SharedMemory section;
    ASSERT_TRUE(section.Open(name));
    auto* owner =
        reinterpret_cast<std::atomic<uint64_t>*>(static_cast<uint8_t*>(section.data()) + 40);
    owner->store(uint64_t{0x7FFFFFF0u} << 32 | 1u);

    const int before = core->frameIndex();
    core->PresentVirtual(backBuffer->SharedHandle());
    EXPECT_EQ(core->frameIndex(), before) << "the frame with an abandoned mutex is dropped";
    EXPECT_EQ(log.Count("dropping frames"), 1u);
    core->PresentVirtual(backBuffer->SharedHandle());
    EXPECT_NE(core->frameIndex(), before) << "the driver released the mutex it took over";
    EXPECT_EQ(log.Count("frames flow again after 1 dropped"), 1u);
}

}  // namespace
}  // namespace quillo::test
