// The platform pipes on their own: client and server ends, one companion per name, and waking a
// thread blocked in a read (what Stop relies on). Delivery in order, writes to a reader that is
// gone and full pipes are covered by the channel tests.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "link/pipe_names.h"
#include "platform/pipe.h"
#include "unit/pipe/test_companion.h"

namespace quillo::test {
namespace {

using platform::PipeAccess;
using platform::PipeListener;
using platform::PipeStream;

// A connected pair: the server reads what the client writes.
struct Pair {
    PipeListener listener;
    PipeStream server;
    PipeStream client;

    bool Open() {
        const std::string path = platform::PipePath(kPipeBaseNameIn, UniquePipeSuffix());
        std::string error;
        if (!listener.Create(path, PipeAccess::kRead, error)) {
            ADD_FAILURE() << error;
            return false;
        }
        return platform::OpenPipeClient(path, PipeAccess::kWrite, client) &&
               listener.Accept(server, kAcceptTimeoutMs);
    }
};

TEST(PipeStream, ClientOpenFailsWithoutServerAndSucceedsOnceItExists) {
    const std::string path = platform::PipePath(kPipeBaseNameOut, UniquePipeSuffix());
    PipeStream client;
    EXPECT_FALSE(platform::OpenPipeClient(path, PipeAccess::kRead, client));
    EXPECT_FALSE(client.IsOpen());

    PipeListener listener;
    std::string error;
    ASSERT_TRUE(listener.Create(path, PipeAccess::kWrite, error)) << error;
    PipeStream server;
    EXPECT_FALSE(listener.Accept(server, 50)) << "no client yet";
    EXPECT_FALSE(server.IsOpen());
    // The client may open before the server accepts; the server then finds it waiting.
    ASSERT_TRUE(platform::OpenPipeClient(path, PipeAccess::kRead, client));
    ASSERT_TRUE(listener.Accept(server, kAcceptTimeoutMs));

#if !defined(_WIN32)
    // A second server cannot take a name that is being served. (On Windows the first-instance
    // flag says the same, but Wine 8 does not enforce it, so it is not checked there.)
    PipeListener second;
    EXPECT_FALSE(second.Create(path, PipeAccess::kWrite, error));
    EXPECT_FALSE(error.empty());
#endif

    // Once the listener has closed, no new client gets in.
    listener.Close();
    PipeStream late;
    EXPECT_FALSE(platform::OpenPipeClient(path, PipeAccess::kRead, late));
}

TEST(PipeStream, InterruptWakesAReaderBeforeOrInsideItsRead) {
    {
        // An interrupt before the read is not lost.
        Pair early;
        ASSERT_TRUE(early.Open());
        early.server.Interrupt();
        uint8_t byte;
        EXPECT_EQ(early.server.ReadSome(&byte, 1), 0u);
    }
    Pair pair;
    ASSERT_TRUE(pair.Open());
    std::atomic<bool> entered{false};
    size_t result = 1;
    std::thread reader([&] {
        uint8_t buffer[16];
        entered = true;
        result = pair.server.ReadSome(buffer, sizeof buffer);
    });
    ASSERT_TRUE(WaitFor([&] { return entered.load(); }));
    // Whether the reader is already inside the read or not yet, the interrupt ends it.
    pair.server.Interrupt();
    reader.join();
    EXPECT_EQ(result, 0u);
    // The stream stays interrupted: later calls fail at once, and the handle is still valid.
    uint8_t byte;
    EXPECT_EQ(pair.server.ReadSome(&byte, 1), 0u);
    EXPECT_TRUE(pair.server.IsOpen());
}

}  // namespace
}  // namespace quillo::test
