#include "link/quillo_core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "link/frame_shared_memory.h"
#include "link/little_endian.h"
#include "platform/named_mutex.h"
#include "platform/shared_memory.h"
#include "unit/core/core_fixture.h"

namespace quillo::test {
namespace {

TEST(LinkName, FiftyEightCharactersOfTheAlphabetThenTwoNuls) {
    std::set<std::string> seen;
    std::set<char> used;
    for (int round = 0; round < 50; ++round) {
        char name[QuilloCore::kLinkNameFieldSize];
        std::memset(name, 'x', sizeof name);
        QuilloCore::GenerateLinkName(name);
        ASSERT_EQ(name[59], '\0');
        ASSERT_EQ(std::strlen(name), 58u);
        used.insert(name, name + 58);
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 50u) << "every link gets its own name";
    // 2900 draws from the 62 letters and digits: all of them, and nothing else, turn up.
    std::string alphabet;
    for (char c : used) alphabet += c;
    EXPECT_EQ(alphabet, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
}

// The companion opens the link's two mutexes (name + "0", "1") and its section by name.
TEST(QuilloCoreStart, InitializeCreatesTheNamedObjectsAndTheLinkClosesThem) {
    FakeClock clock;
    auto core = std::make_unique<QuilloCore>(clock);
    core->Initialize(UniquePipeSuffix());
    ASSERT_TRUE(core->initialized());
    const std::string name = core->linkName();
    ASSERT_EQ(name.size(), 58u);

    {
        platform::NamedMutex zero, one;
        EXPECT_TRUE(zero.Open((name + "0").c_str()));
        EXPECT_TRUE(one.Open((name + "1").c_str()));
        platform::SharedMemory section;
        ASSERT_TRUE(section.Open(name.c_str()));
        ASSERT_GE(section.size(), FrameSharedMemory::kSize);
        const uint8_t* slots = static_cast<const uint8_t*>(section.data());
        EXPECT_EQ(le::ReadU32(slots), 0u);
        EXPECT_EQ(le::ReadU32(slots + 4), 0u);
    }
    // The link closes its named objects with it.
    core.reset();
    platform::NamedMutex zero;
    EXPECT_FALSE(zero.Open((name + "0").c_str()));
    platform::SharedMemory section;
    EXPECT_FALSE(section.Open(name.c_str()));
}

// ---- hand-over ----------------------------------------------------------------------------

using Handover = CoreFixture;

TEST_F(Handover, VirtualDisplayCopiesTheBackBufferIntoTheTextureItHandsOver) {
    auto back = MakeRuntimeTexture(kWidth, kHeight);
    ASSERT_TRUE(back);
    std::vector<uint8_t> picture(kWidth * kHeight * 4);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 7 + i / 997);
    ASSERT_EQ(back->AcquireSync(0, 0), gpu::SyncResult::Ok);
    ASSERT_TRUE(peer->UpdateTexture(*back, picture.data(), kWidth * 4));
    ASSERT_TRUE(back->ReleaseSync(0));

    core->PresentVirtual(back->SharedHandle());
    ASSERT_EQ(core->frameIndex(), 1);
    auto out0 = OpenOutput(0);
    ASSERT_EQ(out0->AcquireSync(0, 0), gpu::SyncResult::Ok);
    EXPECT_EQ(Read(*out0), picture);
    out0->ReleaseSync(0);
    // The driver gave the back buffer's mutex back.
    EXPECT_EQ(back->AcquireSync(0, 0), gpu::SyncResult::Ok);
    back->ReleaseSync(0);
}

TEST_F(Handover, VirtualDisplayWithAnUnknownBackBufferStillHandsOver) {
    core->PresentVirtual(0x7777);
    EXPECT_EQ(core->frameIndex(), 1);
}

// ---- direct mode --------------------------------------------------------------------------

class DirectMode : public CoreFixture {
  protected:
    static constexpr uint32_t kEyeWidth = kWidth / 2;

    void SetUp() override {
        CoreFixture::SetUp();
        for (int eye = 0; eye < 2; ++eye) {
            swap[eye] = core->Compositor().CreateSwapTexture(kEyeWidth, kHeight, kRgba8);
            ASSERT_NE(swap[eye].handle, 0u);
            core->Compositor().OpenSharedTexture(swap[eye].handle);
        }
    }
    // The runtime renders both eyes of a frame, each in a colour of its own: red for the right
    // eye, blue for the left, green in odd frames (0 and 255 only, which the gamma encoding
    // keeps).
    static uint32_t Colour(int eye, uint8_t frame) {
        return 0xFF000000u | (eye ? 0xFFu : 0xFF0000u) | (frame % 2 ? 0xFF00u : 0u);
    }
    void Render(uint8_t frame) {
        for (int eye = 0; eye < 2; ++eye) {
            const std::vector<uint32_t> pixels(kEyeWidth * kHeight, Colour(eye, frame));
            auto texture = peer->OpenSharedTexture(swap[eye].handle);
            ASSERT_TRUE(texture);
            ASSERT_TRUE(peer->UpdateTexture(*texture, pixels.data(), kEyeWidth * 4));
        }
    }
    SubmittedLayer Layer() const { return {{swap[0].handle, swap[1].handle}, {}}; }
    // Checks that output texture `index` shows `frame`: left eye left, right eye right.
    void ExpectFrame(int index, uint8_t frame) {
        auto output = OpenOutput(index);
        ASSERT_EQ(output->AcquireSync(0, 0), gpu::SyncResult::Ok);
        const std::vector<uint8_t> bytes = Read(*output);
        output->ReleaseSync(0);
        ASSERT_EQ(bytes.size(), size_t{kWidth} * kHeight * 4);
        for (size_t p = 0; p < bytes.size() / 4; ++p) {
            ASSERT_EQ(le::ReadU32(&bytes[4 * p]), Colour(p % kWidth >= kEyeWidth, frame)) << p;
        }
    }

    FrameCompositor::SwapTexture swap[2];
};

TEST_F(DirectMode, DrawsEveryLayerHandsOverClearsTheNextAndPaces) {
    Render(7);
    std::vector<SubmittedLayer> layers;
    layers.reserve(4);
    layers.push_back({{0x5151, 0x5252}, {}});  // draws nothing; the layer after it still does
    layers.push_back(Layer());
    const auto* storage = layers.data();
    core->PresentDirect(0, layers);
    EXPECT_TRUE(layers.empty());
    EXPECT_EQ(layers.data(), storage) << "the list keeps its storage";
    ASSERT_EQ(core->frameIndex(), 1);
    const int64_t firstFrame = core->lastFrameCounter();
    ExpectFrame(0, 7);

    // The texture the driver draws next was cleared to opaque black.
    std::vector<uint8_t> next;
    ASSERT_TRUE(
        core->Compositor().device()->ReadTexture(*core->Compositor().OutputTexture(1), next));
    for (size_t i = 0; i < next.size(); i += 4) ASSERT_EQ(le::ReadU32(&next[i]), 0xFF000000u) << i;

    // The second frame waits one interval after the first.
    Render(8);
    layers.push_back(Layer());
    core->PresentDirect(0, layers);
    ASSERT_EQ(core->frameIndex(), 0);
    EXPECT_GE(core->lastFrameCounter() - firstFrame,
              static_cast<int64_t>(core->frameIntervalMs() * clock.TicksPerMs()));
    ExpectFrame(1, 8);
}

TEST_F(DirectMode, SyncTextureHeldTooLongDropsTheFrame) {
    LogCapture log;
    core->OnFramerateUpdated(90);  // 11 ms time-out
    auto sync = MakeRuntimeTexture(16, 16);
    ASSERT_TRUE(sync);

    Render(1);
    std::vector<SubmittedLayer> layers{Layer()};
    core->PresentDirect(sync->SharedHandle(), layers);
    ASSERT_EQ(core->frameIndex(), 1);
    // The driver released the sync texture after pacing.
    ASSERT_EQ(sync->AcquireSync(0, 0), gpu::SyncResult::Ok);

    // The runtime keeps holding it: the next frame is dropped.
    const int64_t lastFrame = core->lastFrameCounter();
    Render(2);
    layers.push_back(Layer());
    core->PresentDirect(sync->SharedHandle(), layers);
    EXPECT_TRUE(layers.empty());
    EXPECT_EQ(core->frameIndex(), 1);
    EXPECT_EQ(core->lastFrameCounter(), lastFrame);
    EXPECT_EQ(log.Count("dropping frames"), 1u);

    ASSERT_TRUE(sync->ReleaseSync(0));
    layers.push_back(Layer());
    core->PresentDirect(sync->SharedHandle(), layers);
    EXPECT_EQ(core->frameIndex(), 0);
    EXPECT_GT(core->lastFrameCounter(), lastFrame);
    EXPECT_EQ(log.Count("frames flow again"), 1u);
}

TEST_F(DirectMode, WritesZeroIntoTheSlotOfTheTextureItDraws) {
    platform::SharedMemory section;
    ASSERT_TRUE(section.Open(core->linkName()));
    uint8_t* slots = static_cast<uint8_t*>(section.data());
    le::WriteU32(slots, 7);
    le::WriteU32(slots + 4, 9);
    std::vector<SubmittedLayer> layers;
    core->PresentDirect(0, layers);  // draws texture 0
    EXPECT_EQ(le::ReadU32(slots), 0u);
    EXPECT_EQ(le::ReadU32(slots + 4), 9u);
    le::WriteU32(slots, 7);
    core->PresentDirect(0, layers);  // draws texture 1
    EXPECT_EQ(le::ReadU32(slots), 7u);
    EXPECT_EQ(le::ReadU32(slots + 4), 0u);
    // Virtual-display frames leave the slots alone.
    le::WriteU32(slots, 5);
    core->PresentVirtual(0);
    EXPECT_EQ(le::ReadU32(slots), 5u);
}

}  // namespace
}  // namespace quillo::test
