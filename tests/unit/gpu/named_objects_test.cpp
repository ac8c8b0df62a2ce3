// Keyed mutexes of software textures and the cross-process lock under them (who may release,
// time-outs, hand-over between threads, a holder that died), and the other named objects of the
// platform layer that the software backend and the link share between processes: sections
// and mutexes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "gpu/gpu_backend.h"
#include "platform/cross_process_lock.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

namespace quillo::test {
namespace {

// Every wait that should end at once or by another thread's release is bounded by this, far
// beyond any scheduling delay, so that a lock that never ends the wait fails the test instead of
// hanging it.
constexpr uint32_t kBoundMs = 20000;

class KeyedMutexTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device = gpu::CreateSoftwareDevice();
        ASSERT_TRUE(device);
        gpu::TextureDesc desc{16, 16, 28, gpu::kBindRenderTarget | gpu::kBindShaderResource,
                              gpu::kMiscSharedKeyedMutex};
        texture = device->CreateTexture(desc);
        ASSERT_TRUE(texture);
        ASSERT_TRUE(texture->HasKeyedMutex());
    }

    // Another opening of the same texture, as the companion or the runtime would have.
    std::shared_ptr<gpu::Texture> Peer() {
        auto peer = device->OpenSharedTexture(texture->SharedHandle());
        EXPECT_TRUE(peer);
        return peer;
    }

    std::unique_ptr<gpu::Device> device;
    std::shared_ptr<gpu::Texture> texture;
};

TEST_F(KeyedMutexTest, OnlyTheHolderReleasesOnceAndClosingAHeldOpeningLetsOthersIn) {
    auto peer = Peer();
    EXPECT_FALSE(texture->ReleaseSync(0));                           // never acquired: refused
    EXPECT_EQ(texture->AcquireSync(1, 0), gpu::SyncResult::Failed);  // only key 0 is used
    ASSERT_EQ(texture->AcquireSync(0, 0), gpu::SyncResult::Ok);
    // Acquiring again while holding would wait for itself.
    EXPECT_EQ(texture->AcquireSync(0, kBoundMs), gpu::SyncResult::Failed);
    EXPECT_EQ(peer->AcquireSync(0, 30), gpu::SyncResult::Timeout);
    EXPECT_FALSE(peer->ReleaseSync(0));  // not the holder
    EXPECT_FALSE(texture->ReleaseSync(1));
    EXPECT_EQ(peer->AcquireSync(0, 0), gpu::SyncResult::Timeout);

    EXPECT_TRUE(texture->ReleaseSync(0));
    EXPECT_FALSE(texture->ReleaseSync(0));  // must not hand out a second count
    {
        auto holder = Peer();
        ASSERT_EQ(holder->AcquireSync(0, 0), gpu::SyncResult::Ok);
        EXPECT_EQ(peer->AcquireSync(0, 0), gpu::SyncResult::Timeout);
        EXPECT_EQ(texture->AcquireSync(0, 0), gpu::SyncResult::Timeout);
    }
    EXPECT_EQ(peer->AcquireSync(0, kBoundMs), gpu::SyncResult::Ok);
    EXPECT_TRUE(peer->ReleaseSync(0));

    // A shared texture without a keyed mutex has nothing to take.
    auto shared = device->CreateTexture({4, 4, 28, gpu::kBindShaderResource, gpu::kMiscShared});
    ASSERT_TRUE(shared);
    EXPECT_FALSE(shared->HasKeyedMutex());
    EXPECT_EQ(shared->AcquireSync(0, 0), gpu::SyncResult::Failed);
    EXPECT_FALSE(shared->ReleaseSync(0));
}

TEST_F(KeyedMutexTest, TwoThreadsTakeTurnsWithMutualExclusion) {
    auto peer = Peer();
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> failures{0};
    constexpr int kRounds = 300;
    auto worker = [&](gpu::Texture& opening) {
        for (int i = 0; i < kRounds; ++i) {
            if (opening.AcquireSync(0, kBoundMs) != gpu::SyncResult::Ok) {
                ++failures;
                return;
            }
            if (inside.fetch_add(1) != 0) ++overlaps;
            std::this_thread::yield();
            inside.fetch_sub(1);
            if (!opening.ReleaseSync(0)) ++failures;
        }
    };
    std::thread first(worker, std::ref(*texture));
    std::thread second(worker, std::ref(*peer));
    first.join();
    second.join();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(texture->AcquireSync(0, 0), gpu::SyncResult::Ok);
}

TEST_F(KeyedMutexTest, AWaitEndsWhenTheHolderReleasesOnAnotherThread) {
    auto peer = Peer();
    ASSERT_EQ(texture->AcquireSync(0, 0), gpu::SyncResult::Ok);
    std::atomic<bool> started{false};
    gpu::SyncResult result = gpu::SyncResult::Failed;
    std::thread waiter([&] {
        started = true;
        result = peer->AcquireSync(0, kBoundMs);
    });
    while (!started) std::this_thread::yield();
    EXPECT_TRUE(texture->ReleaseSync(0));
    waiter.join();
    EXPECT_EQ(result, gpu::SyncResult::Ok);
    EXPECT_TRUE(peer->ReleaseSync(0));
}

// A process id no system hands out: the holder it names is not running.
constexpr uint64_t kDeadOwner = (uint64_t{0x7FFFFFF0} << 32) | 1;

TEST(CrossProcessLockTest, AHolderThatDiedIsTakenOverAsAbandonedAndANameIsCreatedOnce) {
    const std::string name = "QuilloTestLock_" + std::to_string(platform::CurrentProcessId());
    std::atomic<uint64_t> owner{0};
    platform::CrossProcessLock creator, waiter, exclusive;
    ASSERT_TRUE(creator.Create(name.c_str(), &owner, true));
    bool taken = false;
    EXPECT_FALSE(exclusive.Create(name.c_str(), &owner, true, &taken));
    EXPECT_TRUE(taken);
    ASSERT_TRUE(waiter.Open(name.c_str(), &owner));

    ASSERT_EQ(creator.Acquire(0), platform::CrossProcessLock::Result::Acquired);
    EXPECT_EQ(waiter.Acquire(0), platform::CrossProcessLock::Result::TimedOut);  // alive holder
    owner = kDeadOwner;  // as if the holder's process had ended with the lock taken
    EXPECT_EQ(waiter.Acquire(kBoundMs), platform::CrossProcessLock::Result::Abandoned);
    EXPECT_TRUE(waiter.held());
    EXPECT_FALSE(creator.Release());  // it lost the lock
    EXPECT_TRUE(waiter.Release());
    EXPECT_EQ(creator.Acquire(0), platform::CrossProcessLock::Result::Acquired);
    EXPECT_TRUE(creator.Release());

    // The creator removes the name (or closes the last handle): nothing left to open.
    creator.Close();
    waiter.Close();
    platform::CrossProcessLock late;
    EXPECT_FALSE(late.Open(name.c_str(), &owner));
}

std::string UniqueName(const char* label) {
    static int serial = 0;
    return std::string("QuilloTest") + label + "_" + std::to_string(platform::CurrentProcessId()) +
           "_" + std::to_string(++serial);
}

TEST(SharedMemoryTest, ASecondOpeningSharesTheBytesOfANewZeroedSection) {
    const std::string name = UniqueName("Section");
    platform::SharedMemory creator, other, opened, exclusive, missing;
    ASSERT_EQ(creator.Create(name.c_str(), 8), platform::SharedMemory::Result::Ok);
    EXPECT_EQ(creator.size(), 8u);
    const uint8_t zeros[8] = {};
    EXPECT_EQ(std::memcmp(creator.data(), zeros, 8), 0);

    // CreateOrOpen of an existing section opens it.
    ASSERT_EQ(other.Create(name.c_str(), 8), platform::SharedMemory::Result::Ok);
    ASSERT_TRUE(opened.Open(name.c_str()));
    EXPECT_GE(opened.size(), 8u);
    static_cast<uint8_t*>(creator.data())[3] = 0xA5;
    EXPECT_EQ(static_cast<uint8_t*>(other.data())[3], 0xA5);
    EXPECT_EQ(static_cast<uint8_t*>(opened.data())[3], 0xA5);

    EXPECT_EQ(exclusive.Create(name.c_str(), 8, platform::SharedMemory::Mode::CreateNew),
              platform::SharedMemory::Result::AlreadyExists);
    EXPECT_FALSE(exclusive.mapped());
    EXPECT_FALSE(missing.Open(UniqueName("Missing").c_str()));
    EXPECT_FALSE(missing.mapped());
    EXPECT_EQ(missing.Create("", 0), platform::SharedMemory::Result::Failed);
}

// Whether `mutex` can be locked within `timeoutMs` from another thread (unlocked again if so).
bool LockableElsewhere(platform::NamedMutex& mutex, uint32_t timeoutMs) {
    bool locked = false;
    std::thread([&] {
        locked = mutex.Lock(timeoutMs);
        if (locked) mutex.Unlock();
    }).join();
    return locked;
}

TEST(NamedMutexTest, ANewMutexIsFreeAndExcludesAnotherOpeningUntilUnlockedOnce) {
    const std::string name = UniqueName("Mutex");
    platform::NamedMutex creator, opened, missing;
    ASSERT_TRUE(creator.Create(name.c_str()));
    ASSERT_TRUE(opened.Open(name.c_str()));
    EXPECT_TRUE(LockableElsewhere(opened, 0));
    ASSERT_TRUE(creator.Lock(0));
    EXPECT_FALSE(LockableElsewhere(opened, 20));
    creator.Unlock();
    EXPECT_TRUE(LockableElsewhere(opened, kBoundMs));
    // A second Unlock of a free mutex changes nothing: still one holder at a time.
    creator.Unlock();
    ASSERT_TRUE(creator.Lock(0));
    EXPECT_FALSE(LockableElsewhere(opened, 0));
    creator.Unlock();

    EXPECT_FALSE(missing.Open(UniqueName("Missing").c_str()));
    EXPECT_FALSE(missing.valid());
}

}  // namespace
}  // namespace quillo::test
