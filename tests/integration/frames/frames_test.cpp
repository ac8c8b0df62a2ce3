// Frames across processes: quillo-host runs the driver library and presents a stamped test
// picture every frame, the reference companion reads the driver's output textures under the
// keyed-mutex rule and writes what it saw as JSON (and PNG). The GPU backend is the software
// one in every process, so the shared textures and their keyed mutexes are cross-process
// objects of the platform layer (Direct3D under Wine has neither).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/child_process.h"
#include "host/frame_pattern.h"
#include "integration/frames/png_reader.h"
#include "platform/process.h"
#include "support/program_paths.h"
#include "support/temp_dir.h"
#include "support/test_files.h"
#include "support/wait_until.h"
#include "test_paths.h"

namespace quillo::test {
namespace {

// The smallest window the headset allows; frames are drawn at this size.
constexpr uint32_t kWidth = 1000;
constexpr uint32_t kHeight = 600;
// The companion asks for this rate. The driver does not wait for the companion to read a frame,
// only for it to release the texture it holds, so a companion that falls behind by more than a
// frame loses frames; 100 ms a frame leaves room for a busy machine running Wine.
constexpr int kRefreshRate = 10;
// A direct-mode frame runs the software eye pass over 600000 pixels; in a sanitizer build on a
// busy machine that is about a second.
constexpr uint32_t kHostTimeoutMs = 600000;
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
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        static std::atomic<int> next{0};
        suffix = "_h5frames_" + std::to_string(platform::CurrentProcessId()) + "_" +
                 std::to_string(next++);
    }

    std::vector<std::pair<std::string, std::string>> Environment() const {
        return {{"QUILLO_PIPE_SUFFIX", suffix}, {"QUILLO_GPU_BACKEND", "software"}};
    }

    // Starts the companion and waits until its pipes exist.
    void StartCompanion(const std::vector<std::string>& extra = {},
                        const std::string& holdTexture = "") {
        platform::ChildProcessOptions options;
        options.program = test::NativePath(QUILLO_TEST_PATH_QUILLO_COMPANION);
        options.arguments = {"--no-stdin",    "--quiet",
                             "--rate",        std::to_string(kRefreshRate),
                             "--controllers", "0",
                             "--seconds",     "900",
                             "--frame-stats", test::NativePath(dir.File("stats.json")),
                             "--png-dir",     test::NativePath(dir.path()),
                             "--png-every",   "10"};
        options.arguments.insert(options.arguments.end(), extra.begin(), extra.end());
        options.environment = Environment();
        if (!holdTexture.empty()) {
            options.environment.emplace_back("QUILLO_COMPANION_HOLD_TEXTURE", holdTexture);
        }
        options.stdoutPath = dir.File("companion.txt");
        options.stderrPath = dir.File("companion.txt");
        std::string error;
        ASSERT_TRUE(companion.Start(options, &error)) << error;
        ASSERT_TRUE(test::WaitUntil([&] {
            return test::ReadWholeFile(dir.File("companion.txt")).find("waiting for the driver") !=
                   std::string::npos;
        })) << test::ReadWholeFile(dir.File("companion.txt"));
    }

    // Runs the host for `frames` frames in headset mode `hmdMode` with --frames-mode `mode`.
    void RunHost(int hmdMode, const std::string& mode, int frames) {
        ASSERT_TRUE(test::WriteWholeFile(
            dir.File("settings.json"),
            "{\"driver_quillo\": {\"windowWidth\": " + std::to_string(kWidth) +
                ", \"windowHeight\": " + std::to_string(kHeight) +
                ", \"renderScale\": 100, \"hmdMode\": " + std::to_string(hmdMode) +
                ", \"fakeSensorEnabled\": false}}"));
        platform::ChildProcessOptions options;
        options.program = test::NativePath(QUILLO_TEST_PATH_QUILLO_HOST);
        options.arguments = {"--settings",
                             test::NativePath(dir.File("settings.json")),
                             "--frames",
                             std::to_string(frames),
                             "--rate",
                             "0",
                             "--no-poses",
                             "--quiet",
                             "--frames-mode",
                             mode,
                             test::NativePath(QUILLO_TEST_PATH_DRIVER_QUILLO)};
        options.environment = Environment();
        options.stdoutPath = dir.File("host.txt");
        options.stderrPath = dir.File("host.txt");
        platform::ChildProcess host;
        std::string error;
        ASSERT_TRUE(host.Start(options, &error)) << error;
        ASSERT_TRUE(host.Wait(kHostTimeoutMs)) << test::ReadWholeFile(dir.File("host.txt"));
        hostOutput = test::ReadWholeFile(dir.File("host.txt"));
        ASSERT_EQ(host.exitCode(), 0) << hostOutput;
        ASSERT_NE(hostOutput.find("frame loop: " + std::to_string(frames) + " frames presented"),
                  std::string::npos)
            << hostOutput;
    }

    // Waits until the companion has seen `disconnects` disconnections and reads its statistics.
    void ReadStats(int disconnects) {
        ASSERT_TRUE(test::WaitUntil([&] {
            std::string text;
            if (!test::ReadWholeFile(dir.File("stats.json"), text)) return false;
            stats = nlohmann::json::parse(text, nullptr, false);
            return stats.is_object() && Number(stats, "disconnects") >= disconnects;
        })) << test::ReadWholeFile(dir.File("companion.txt"));
        received.clear();
        for (const nlohmann::json& frame : stats.at("received")) {
            received.push_back({frame.at(0).get<uint32_t>(), frame.at(1).get<int>()});
        }
    }

    std::vector<int64_t> Numbers(const char* key) {
        std::vector<int64_t> values;
        const auto array = stats.find(key);
        if (array != stats.end()) {
            for (const nlohmann::json& item : *array) values.push_back(item.get<int64_t>());
        }
        return values;
    }

    // Every frame from the first one received to the last one presented arrived, each with the
    // right picture in each half, in alternating output textures.
    void ExpectEveryFrame(int frames) {
        SCOPED_TRACE("companion statistics: " + test::ReadWholeFile(dir.File("stats.json")) +
                     "\ncompanion output:\n" + test::ReadWholeFile(dir.File("companion.txt")));
        EXPECT_EQ(Number(stats, "badPictures"), 0);
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
        std::string bytes;
        EXPECT_TRUE(test::WaitUntil([&] { return test::ReadWholeFile(dir.File(name), bytes); }))
            << name << " was not written";
        test::PngImage image;
        std::string error;
        ASSERT_TRUE(test::ReadPng(bytes, image, error)) << name << ": " << error;
        ASSERT_EQ(image.width, kWidth);
        ASSERT_EQ(image.height, kHeight);
        const uint32_t eyeWidth = kWidth / 2;
        for (uint8_t eye = 0; eye < 2; ++eye) {
            const uint8_t* half = image.rgba.data() + eye * eyeWidth * 4;
            frames::FrameStamp stamp;
            ASSERT_TRUE(frames::ReadStamp(half, kWidth * 4, eyeWidth, kHeight, stamp));
            EXPECT_EQ(stamp.eye, eye);
            EXPECT_EQ(stamp.sequence, sequence);
            EXPECT_EQ(frames::CountCheckBandMismatches(half, kWidth * 4, eyeWidth, kHeight, eye,
                                                       sequence, 1, 8),
                      0u);
        }
    }

    test::TempDir dir{"quillo-frames"};
    std::string suffix;
    platform::ChildProcess companion;
    std::string hostOutput;
    nlohmann::json stats;
    std::vector<Received> received;
};

TEST_F(FramesAcrossProcesses, VirtualDisplayDeliversEveryFrame) {
    StartCompanion();
    RunHost(0, "virtual", 40);
    ReadStats(1);
    EXPECT_EQ(Numbers("frameInfosPerConnection"), std::vector<int64_t>{1});
    ExpectEveryFrame(40);
    ExpectSavedPicture();
    EXPECT_NE(hostOutput.find("frame counter mismatches 0"), std::string::npos) << hostOutput;
}

TEST_F(FramesAcrossProcesses, DirectModeDeliversEveryFrame) {
    StartCompanion();
    RunHost(2, "direct", 20);
    ReadStats(1);
    EXPECT_EQ(Numbers("frameInfosPerConnection"), std::vector<int64_t>{1});
    ExpectEveryFrame(20);
    ExpectSavedPicture();
}

TEST_F(FramesAcrossProcesses, DirectModeWithBothEyesInOneTexture) {
    StartCompanion();
    RunHost(2, "direct,shared-eye-texture", 20);
    ReadStats(1);
    ExpectEveryFrame(20);
    ExpectSavedPicture();
}

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
    SCOPED_TRACE("companion statistics: " + test::ReadWholeFile(dir.File("stats.json")));
    EXPECT_NE(hostOutput.find("dropping frames, the runtime's sync texture was not released"),
              std::string::npos)
        << hostOutput;
    EXPECT_NE(hostOutput.find("frames flow again after 3 dropped"), std::string::npos)
        << hostOutput;
    EXPECT_EQ(Number(stats, "badPictures"), 0);
    EXPECT_GT(received.back().sequence, 16u);
    ExpectTextureFollowsSequence(received, 14, 3);
}

TEST_F(FramesAcrossProcesses, OneFrameInfoPerConnection) {
    // The companion drops the connection after a while; the driver connects again and the
    // first present after that announces the textures once more.
    StartCompanion({"--at", "1.5:disconnect"});
    RunHost(0, "virtual", 60);
    ReadStats(2);
    EXPECT_EQ(Numbers("frameInfosPerConnection"), (std::vector<int64_t>{1, 1}));
    EXPECT_EQ(Number(stats, "badPictures"), 0);
    EXPECT_EQ(Number(stats, "alternationBreaks"), 0);
}

// While the companion keeps a texture the driver waits for it at its next hand-over, so the
// runtime's presenting thread stands still: at most the frame it was already drawing gets a
// time stamp inside the hold. Once the texture is released, frames flow again. The companion
// may miss frames on a loaded machine (it has one frame interval to take each texture), so
// what is checked does not depend on it reading every one.
void ExpectStallAndResume(const nlohmann::json& stats, const std::vector<Received>& received) {
    EXPECT_EQ(Number(stats, "badPictures"), 0);
    const auto holds = stats.find("holds");
    ASSERT_TRUE(holds != stats.end() && holds->size() == 1u);
    const nlohmann::json& hold = holds->at(0);
    EXPECT_EQ(Number(hold, "ms"), 1500);
    EXPECT_LE(Number(hold, "framesStampedDuring"), 1);
    EXPECT_GT(Number(hold, "framesAfter"), 3);
    ExpectTextureFollowsSequence(received);
}

TEST_F(FramesAcrossProcesses, CompanionHoldingATextureStallsTheVirtualDisplay) {
    StartCompanion({}, "12:1500");
    RunHost(0, "virtual", 40);
    ReadStats(1);
    ExpectStallAndResume(stats, received);
}

TEST_F(FramesAcrossProcesses, CompanionHoldingATextureStallsDirectMode) {
    StartCompanion({}, "5:1500");
    RunHost(2, "direct", 24);
    ReadStats(1);
    ExpectStallAndResume(stats, received);
}

}  // namespace
}  // namespace quillo::test
