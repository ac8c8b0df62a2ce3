// Named sections and mutexes of the platform layer, as the software backend and the link use
// them: a second opening sees the same bytes, creation modes, and mutual exclusion by name.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

namespace quillo::test {
namespace {

std::string UniqueName(const char* label) {
    static int serial = 0;
    char name[96];
    std::snprintf(name, sizeof name, "QuilloTest%s_%u_%d", label, platform::CurrentProcessId(),
                  ++serial);
    return name;
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
    EXPECT_TRUE(LockableElsewhere(opened, 0xFFFFFFFFu));
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
