// Frames across processes: quillo-host runs the driver library and presents a stamped test
// picture every frame, the reference companion reads the driver's output textures under the
// keyed-mutex rule and writes what it saw as JSON (and PNG).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/frame_pattern.h"
#include "integration/frames/frames_run.h"
#include "support/program_paths.h"
#include "support/test_files.h"
#include "support/wait_until.h"

namespace quillo::test {
namespace {

// The companion asks for this rate. The driver does not wait for the companion to read a frame,
// only for it to release the texture it holds, so a companion that falls behind by more than a
// frame loses frames; 100 ms a frame leaves room for a busy machine running Wine.
constexpr int kRefreshRate = 10;
// Frames the companion may miss while it starts reading; what a test looks at comes later.
constexpr uint32_t kStartFrames = 10;

int64_t Number(const nlohmann::json& object, const char* key) {
    const auto value = object.find(key);
    return value != object.end() && value->is_number() ? value->get<int64_t>() : -1;
}

struct Received {
    uint32_t sequence;
    int textureIndex;
};

class FramesAcrossProcesses : public ::testing::Test {
  protected:
    void StartCompanion(const std::vector<std::string>& extra = {},
                        const std::vector<std::pair<std::string, std::string>>& variables = {}) {
        std::vector<std::string> arguments = {"--frame-stats", NativePath(run.File("stats.json")),
                                              "--png-dir",     NativePath(run.dir.path()),
                                              "--png-every",   "10"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        run.StartCompanion(kRefreshRate, arguments, variables);
    }

    void RunHost(int hmdMode, const std::string& mode, int frames) {
        run.RunHost(hmdMode, mode, {"--frames", std::to_string(frames)});
        ASSERT_NE(
            run.hostOutput.find("frame loop: " + std::to_string(frames) + " frames presented"),
            std::string::npos)
            << run.hostOutput;
    }

    // Waits until the companion has seen `disconnects` disconnections and reads its statistics.
    void ReadStats(int disconnects) {
        ASSERT_TRUE(WaitUntil([&] {
            std::string text;
            if (!ReadWholeFile(run.File("stats.json"), text)) return false;
            stats = nlohmann::json::parse(text, nullptr, false);
            return stats.is_object() && Number(stats, "disconnects") >= disconnects;
        })) << ReadWholeFile(run.File("companion.txt"));
        received.clear();
        for (const nlohmann::json& frame : stats.at("received")) {
            received.push_back({frame.at(0).get<uint32_t>(), frame.at(1).get<int>()});
        }
        EXPECT_EQ(Number(stats, "badPictures"), 0);
    }

    // Every frame from the first one received to the last one presented arrived, each with the
    // right picture in each half, in alternating output textures.
    void ExpectEveryFrame(int frames) {
        SCOPED_TRACE("companion statistics: " + ReadWholeFile(run.File("stats.json")) +
                     "\ncompanion output:\n" + ReadWholeFile(run.File("companion.txt")));
        EXPECT_EQ(Number(stats, "unstamped"), 0);
        EXPECT_EQ(Number(stats, "alternationBreaks"), 0);
        ASSERT_FALSE(received.empty());
        // The companion starts reading when the first FrameInfo arrives; frames handed over
        // while it opens the textures (slow under Wine on a busy machine) are not waited for.
        EXPECT_LE(received.front().sequence, kStartFrames);
        // The last frame is handed over; the companion may see the driver go before reading it.
        EXPECT_GE(received.back().sequence + 2, static_cast<uint32_t>(frames - 1));
        for (size_t i = 1; i < received.size(); ++i) {
            ASSERT_EQ(received[i].sequence, received[i - 1].sequence + 1);
            EXPECT_NE(received[i].textureIndex, received[i - 1].textureIndex)
                << "frame " << received[i].sequence;
        }
    }

    // The PNG the companion saved of its tenth frame (it saves every tenth) shows that frame
    // in both halves: its stamp and its check bands.
    void ExpectSavedPicture() {
        ASSERT_GE(received.size(), 10u);
        const uint32_t sequence = received[9].sequence;
        char name[64];
        std::snprintf(name, sizeof name, "frame_c1_%08u.png", sequence);
        // The companion encodes on a thread of its own, behind the frames it reads.
        PngImage image;
        std::string error;
        ASSERT_TRUE(WaitUntil([&] { return ReadPng(run.File(name), image, error); })) << error;
        ASSERT_EQ(image.width, kFrameWidth);
        ASSERT_EQ(image.height, kFrameHeight);
        const uint32_t eyeWidth = kFrameWidth / 2;
        for (uint8_t eye = 0; eye < 2; ++eye) {
            const uint8_t* half = image.rgba.data() + eye * eyeWidth * 4;
            frames::FrameStamp stamp;
            ASSERT_TRUE(frames::ReadStamp(half, kFrameWidth * 4, eyeWidth, kFrameHeight, stamp));
            EXPECT_EQ(stamp.eye, eye);
            EXPECT_EQ(stamp.sequence, sequence);
            EXPECT_EQ(frames::CountCheckBandMismatches(half, kFrameWidth * 4, eyeWidth,
                                                       kFrameHeight, eye, sequence, 1, 8),
                      0u);
        }
    }

    FramesRun run{"frames"};
    nlohmann::json stats;
    std::vector<Received> received;
};

// A run of `frames` frames in one headset mode; with `hold` (frame:milliseconds), the companion
// keeps one texture that long.
struct Delivery {
    const char* name;
    int hmdMode;
    const char* mode;
    int frames;
    const char* hold = "";
};

auto DeliveryName = [](const auto& info) { return std::string(info.param.name); };

class EveryFrame : public FramesAcrossProcesses, public ::testing::WithParamInterface<Delivery> {};

TEST_P(EveryFrame, ArrivesOnceWithItsPictureInAlternatingTextures) {
    const Delivery& d = GetParam();
    StartCompanion();
    RunHost(d.hmdMode, d.mode, d.frames);
    ReadStats(1);
    EXPECT_EQ(stats.value("frameInfosPerConnection", std::vector<int64_t>{}),
              std::vector<int64_t>{1});
    ExpectEveryFrame(d.frames);
    ExpectSavedPicture();
    if (d.hmdMode == 0) {
        EXPECT_NE(run.hostOutput.find("frame counter mismatches 0"), std::string::npos)
            << run.hostOutput;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, EveryFrame,
                         ::testing::Values(Delivery{"VirtualDisplay", 0, "virtual", 40},
                                           Delivery{"DirectMode", 2, "direct", 20},
                                           Delivery{"DirectModeWithBothEyesInOneTexture", 2,
                                                    "direct,shared-eye-texture", 20}),
                         DeliveryName);

// Each received frame's output texture follows from its sequence number and the `count` frames
// from `first` on that the driver dropped (never handed over, so they must not move its output
// index). Frames the companion was too slow to read (a loaded machine) leave no gap in
// this rule, so it holds whatever the companion missed.
void ExpectTextureFollowsSequence(const std::vector<Received>& received, uint32_t first = 0,
                                  uint32_t count = 0) {
    ASSERT_FALSE(received.empty());
    auto handedOver = [&](uint32_t sequence) {
        return sequence >= first + count ? sequence - count : sequence;
    };
    const int firstIndex = received.front().textureIndex;
    const uint32_t base = handedOver(received.front().sequence);
    for (const Received& frame : received) {
        EXPECT_FALSE(frame.sequence >= first && frame.sequence < first + count)
            << "frame " << frame.sequence << " was to be dropped";
        EXPECT_EQ(frame.textureIndex, (firstIndex + (handedOver(frame.sequence) - base)) % 2)
            << "frame " << frame.sequence;
    }
}

TEST_F(FramesAcrossProcesses, SyncTextureHeldTooLongDropsFramesWithoutAdvancing) {
    // The host keeps the sync texture locked through its presents of frames 14 to 16: the
    // driver's wait for it times out each time, whatever the machine's load.
    StartCompanion();
    RunHost(2, "direct,hold-sync-at=14,hold-sync-frames=3", 24);
    ReadStats(1);
    SCOPED_TRACE("companion statistics: " + ReadWholeFile(run.File("stats.json")));
    for (const char* line : {"dropping frames, the runtime's sync texture was not released",
                             "frames flow again after 3 dropped"}) {
        EXPECT_NE(run.hostOutput.find(line), std::string::npos) << run.hostOutput;
    }
    ASSERT_FALSE(received.empty());
    EXPECT_GT(received.back().sequence, 16u);
    ExpectTextureFollowsSequence(received, 14, 3);
}

TEST_F(FramesAcrossProcesses, OneFrameInfoPerConnection) {
    // The companion drops the connection after a while; the driver connects again and the
    // first present after that announces the textures once more.
    StartCompanion({"--at", "1.5:disconnect"});
    RunHost(0, "virtual", 60);
    ReadStats(2);
    EXPECT_EQ(stats.value("frameInfosPerConnection", std::vector<int64_t>{}),
              (std::vector<int64_t>{1, 1}));
    EXPECT_EQ(Number(stats, "alternationBreaks"), 0);
}

// While the companion keeps a texture the driver waits for it at its next hand-over, so the
// runtime's presenting thread stands still: at most the frame it was already drawing gets a
// time stamp inside the hold. Once the texture is released, frames flow again. The companion
// may miss frames on a loaded machine (it has one frame interval to take each texture), so
// what is checked does not depend on it reading every one.
class CompanionHoldingATexture : public FramesAcrossProcesses,
                                 public ::testing::WithParamInterface<Delivery> {};

TEST_P(CompanionHoldingATexture, StallsThePresentsUntilReleased) {
    const Delivery& h = GetParam();
    StartCompanion({}, {{"QUILLO_COMPANION_HOLD_TEXTURE", h.hold}});
    RunHost(h.hmdMode, h.mode, h.frames);
    ReadStats(1);
    const auto holds = stats.find("holds");
    ASSERT_TRUE(holds != stats.end() && holds->size() == 1u);
    const nlohmann::json& hold = holds->at(0);
    EXPECT_EQ(Number(hold, "ms"), 1500);
    EXPECT_LE(Number(hold, "framesStampedDuring"), 1);
    EXPECT_GT(Number(hold, "framesAfter"), 3);
    ExpectTextureFollowsSequence(received);
}

INSTANTIATE_TEST_SUITE_P(Modes, CompanionHoldingATexture,
                         ::testing::Values(Delivery{"VirtualDisplay", 0, "virtual", 40, "12:1500"},
                                           Delivery{"DirectMode", 2, "direct", 24, "5:1500"}),
                         DeliveryName);

}  // namespace
}  // namespace quillo::test
