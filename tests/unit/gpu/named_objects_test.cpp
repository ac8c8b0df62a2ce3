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
    platform::SharedMemory creator, other, opened;
    ASSERT_EQ(creator.Create(name.c_str(), 8), platform::SharedMemory::Result::Ok);
    ASSERT_TRUE(creator.mapped());
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

    platform::SharedMemory exclusive;
    EXPECT_EQ(exclusive.Create(name.c_str(), 8, platform::SharedMemory::Mode::CreateNew),
              platform::SharedMemory::Result::AlreadyExists);
    EXPECT_FALSE(exclusive.mapped());
}

TEST(SharedMemoryTest, NothingToOpenUnderAnUnusedName) {
    platform::SharedMemory section;
    EXPECT_FALSE(section.Open(UniqueName("Missing").c_str()));
    EXPECT_FALSE(section.mapped());
    EXPECT_EQ(section.Create("", 0), platform::SharedMemory::Result::Failed);
}

TEST(NamedMutexTest, ExcludesAnotherOpeningOnAnotherThreadUntilUnlocked) {
    const std::string name = UniqueName("Mutex");
    platform::NamedMutex creator, opened;
    ASSERT_TRUE(creator.Create(name.c_str()));
    ASSERT_TRUE(opened.Open(name.c_str()));
    ASSERT_TRUE(creator.Lock(0));
    bool lockedWhileHeld = true;
    std::thread([&] { lockedWhileHeld = opened.Lock(20); }).join();
    EXPECT_FALSE(lockedWhileHeld);
    creator.Unlock();
    bool lockedAfter = false;
    std::thread([&] {
        lockedAfter = opened.Lock(0xFFFFFFFFu);
        if (lockedAfter) opened.Unlock();
    }).join();
    EXPECT_TRUE(lockedAfter);
    // A second Unlock of a free mutex changes nothing: still one holder at a time.
    creator.Unlock();
    ASSERT_TRUE(creator.Lock(0));
    bool secondHolder = true;
    std::thread([&] { secondHolder = opened.Lock(0); }).join();
    EXPECT_FALSE(secondHolder);
    creator.Unlock();
}

TEST(NamedMutexTest, ANewMutexIsNotOwnedAndAMissingOneCannotBeOpened) {
    const std::string name = UniqueName("Fresh");
    platform::NamedMutex creator, missing;
    ASSERT_TRUE(creator.Create(name.c_str()));
    bool locked = false;
    std::thread([&] {
        platform::NamedMutex other;
        locked = other.Open(name.c_str()) && other.Lock(0);
        if (locked) other.Unlock();
    }).join();
    EXPECT_TRUE(locked);
    EXPECT_FALSE(missing.Open(UniqueName("Missing").c_str()));
    EXPECT_FALSE(missing.valid());
}

}  // namespace
}  // namespace quillo::test
