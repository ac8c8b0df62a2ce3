// The small helpers the tests share: temporary folders, whole files, paths for Wine, waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "support/program_paths.h"
#include "support/temp_dir.h"
#include "support/test_files.h"
#include "support/wait_until.h"

namespace quillo::test {
namespace {

TEST(TempDirTest, ExistsWhileAliveAndIsRemovedWithItsContents) {
    std::string path;
    {
        TempDir dir("helpers");
        ASSERT_TRUE(dir.ok());
        path = dir.path();
        EXPECT_TRUE(std::filesystem::is_directory(path));
        EXPECT_EQ(path.find('\\'), std::string::npos);
        ASSERT_TRUE(std::filesystem::create_directory(dir.File("nested")));
        ASSERT_TRUE(WriteWholeFile(dir.File("nested/file.bin"), "data"));

        TempDir other("helpers");
        ASSERT_TRUE(other.ok());
        EXPECT_NE(other.path(), path);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(TestFilesTest, RoundTripKeepsEveryByte) {
    TempDir dir("helpers");
    ASSERT_TRUE(dir.ok());
    // NUL, CR LF and a byte above 127: text-mode translation would change these.
    const std::string bytes("a\0b\r\nc\n\xff", 8);
    ASSERT_TRUE(WriteWholeFile(dir.File("f"), bytes));
    std::string read;
    EXPECT_TRUE(ReadWholeFile(dir.File("f"), read));
    EXPECT_EQ(read, bytes);

    ASSERT_TRUE(WriteWholeFile(dir.File("f"), "short"));
    EXPECT_EQ(ReadWholeFile(dir.File("f")), "short");
}

TEST(TestFilesTest, TextReadingDropsCarriageReturnsBeforeLineBreaks) {
    TempDir dir("helpers");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(WriteWholeFile(dir.File("t"), "one\r\ntwo\rthree\n\r\n\r"));
    EXPECT_EQ(ReadTextFile(dir.File("t")), "one\ntwo\rthree\n\n\r");
}

TEST(TestFilesTest, MissingFileReadsAsFailure) {
    TempDir dir("helpers");
    ASSERT_TRUE(dir.ok());
    std::string read = "stale";
    EXPECT_FALSE(ReadWholeFile(dir.File("absent"), read));
    EXPECT_TRUE(read.empty());
    EXPECT_FALSE(WriteWholeFile(dir.File("absent-folder/f"), "x"));
}

TEST(ProgramPathsTest, UnixPathsGoThroughDriveZ) {
    EXPECT_EQ(ToWinePath("/work/build/tests/unit.exe"), "Z:/work/build/tests/unit.exe");
    EXPECT_EQ(ToWinePath("relative/path"), "relative/path");
    EXPECT_EQ(ToWinePath("C:/already/windows"), "C:/already/windows");
    EXPECT_EQ(ToWinePath(""), "");
#if defined(_WIN32)
    EXPECT_EQ(NativePath("/work/x.exe"), "Z:/work/x.exe");
#else
    EXPECT_EQ(NativePath("/work/x"), "/work/x");
#endif
}

TEST(WaitUntilTest, SeesAConditionSetByAnotherThread) {
    std::atomic<bool> flag{false};
    std::thread setter([&] { flag = true; });
    EXPECT_TRUE(WaitUntil([&] { return flag.load(); }));
    setter.join();
}

TEST(WaitUntilTest, GivesUpWithTheConditionsLastAnswer) {
    int calls = 0;
    EXPECT_FALSE(WaitUntil(
        [&] {
            ++calls;
            return false;
        },
        std::chrono::milliseconds(30)));
    EXPECT_GE(calls, 2);  // asked during the wait and once more at the deadline
}

}  // namespace
}  // namespace quillo::test
