// The frames show the tracking: the companion turns the head by a known yaw, and the room
// quillo-host draws from the pose the driver publishes moves across the frames the companion
// receives by as much as the headset's projection says; after a recenter the view faces the
// room as at the start again.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "integration/frames/png_reader.h"
#include "platform/process.h"
#include "support/program_paths.h"
#include "support/temp_dir.h"
#include "support/test_files.h"
#include "support/wait_until.h"
#include "test_paths.h"

namespace quillo::test {
namespace {

constexpr uint32_t kWidth = 1000;
constexpr uint32_t kHeight = 600;
constexpr int kRefreshRate = 20;
// The host runs for kHostSeconds, at most kRefreshRate frames a second (fewer in a sanitizer
// build); the companion saves every kPngEvery-th frame.
constexpr int kHostSeconds = 11;
constexpr int kFrames = kHostSeconds * kRefreshRate;
constexpr int kPngEvery = 4;
constexpr uint32_t kHostTimeoutMs = 600000;
// The head looks straight ahead, turns left by kYaw at 3 s and is recentered at 7 s (times
// from the driver's connection; the host's first frames can come seconds after it on a busy
// machine, so the frames before the turn may all be missed).
const double kYaw = 20.0 * std::acos(-1.0) / 180.0;
// Rows left out when looking for the box: the stamp and check bands at the top and bottom
// carry the left eye's red and green checkerboard.
constexpr uint32_t kEdgeRows = 16;

struct Centroid {
    bool found = false;
    double x = 0.0;  // in pixels from the eye's left edge, pixel centres at i + 0.5
};

// Mean x of the pixels that are exactly (255, 0, 0): the red box's face toward the start
// view, which nothing else in the room has.
Centroid RedCentroid(const test::PngImage& image, int eye) {
    const uint32_t eyeWidth = image.width / 2;
    double sum = 0.0;
    uint64_t count = 0;
    for (uint32_t y = kEdgeRows; y + kEdgeRows < image.height; ++y) {
        const uint8_t* row =
            image.rgba.data() +
            (static_cast<size_t>(y) * image.width + static_cast<size_t>(eye) * eyeWidth) * 4;
        for (uint32_t x = 0; x < eyeWidth; ++x) {
            const uint8_t* p = row + 4 * static_cast<size_t>(x);
            if (p[0] == 255 && p[1] == 0 && p[2] == 0) {
                sum += x + 0.5;
                ++count;
            }
        }
    }
    Centroid centroid;
    // A 50 cm face 2.75 m away is some 40 x 50 pixels here; a few stray pixels are no face.
    centroid.found = count > 200;
    centroid.x = count ? sum / static_cast<double>(count) : 0.0;
    return centroid;
}

class HeadTurn : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.ok()); }

    test::TempDir dir{"quillo-head-turn"};
    platform::ChildProcess companion;
};

TEST_F(HeadTurn, RoomMovesByTheProjectedAngleAndComesBackAfterARecenter) {
    static std::atomic<int> next{0};
    const std::string suffix =
        "_h5turn_" + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(next++);
    const std::vector<std::pair<std::string, std::string>> environment = {
        {"QUILLO_PIPE_SUFFIX", suffix}, {"QUILLO_GPU_BACKEND", "software"}};

    // A pure yaw about Y: (x, y, z, w) = (0, sin(yaw / 2), 0, cos(yaw / 2)), head at 1.7 m.
    char motion[256];
    std::snprintf(motion, sizeof motion,
                  "t,qx,qy,qz,qw,px,py,pz\n0,0,0,0,1,0,1.7,0\n3,0,%.9f,0,%.9f,0,1.7,0\n",
                  std::sin(kYaw / 2), std::cos(kYaw / 2));
    ASSERT_TRUE(test::WriteWholeFile(dir.File("motion.csv"), motion));

    platform::ChildProcessOptions companionOptions;
    companionOptions.program = test::NativePath(QUILLO_TEST_PATH_QUILLO_COMPANION);
    companionOptions.arguments = {"--no-stdin",    "--quiet",
                                  "--rate",        std::to_string(kRefreshRate),
                                  "--controllers", "0",
                                  "--seconds",     "900",
                                  "--motion",      test::NativePath(dir.File("motion.csv")),
                                  "--at",          "7:recenter",
                                  "--png-dir",     test::NativePath(dir.path()),
                                  "--png-every",   std::to_string(kPngEvery)};
    companionOptions.environment = environment;
    companionOptions.stdoutPath = dir.File("companion.txt");
    companionOptions.stderrPath = dir.File("companion.txt");
    std::string error;
    ASSERT_TRUE(companion.Start(companionOptions, &error)) << error;
    ASSERT_TRUE(test::WaitUntil([&] {
        return test::ReadWholeFile(dir.File("companion.txt")).find("waiting for the driver") !=
               std::string::npos;
    })) << test::ReadWholeFile(dir.File("companion.txt"));

    ASSERT_TRUE(test::WriteWholeFile(
        dir.File("settings.json"),
        "{\"driver_quillo\": {\"windowWidth\": " + std::to_string(kWidth) +
            ", \"windowHeight\": " + std::to_string(kHeight) +
            ", \"renderScale\": 100, \"hmdMode\": 0, \"fakeSensorEnabled\": false}}"));
    platform::ChildProcessOptions hostOptions;
    hostOptions.program = test::NativePath(QUILLO_TEST_PATH_QUILLO_HOST);
    hostOptions.arguments = {"--settings",
                             test::NativePath(dir.File("settings.json")),
                             "--seconds",
                             std::to_string(kHostSeconds),
                             "--rate",
                             "0",
                             "--no-poses",
                             "--quiet",
                             "--frames-mode",
                             "virtual",
                             test::NativePath(QUILLO_TEST_PATH_DRIVER_QUILLO)};
    hostOptions.environment = environment;
    hostOptions.stdoutPath = dir.File("host.txt");
    hostOptions.stderrPath = dir.File("host.txt");
    platform::ChildProcess host;
    ASSERT_TRUE(host.Start(hostOptions, &error)) << error;
    ASSERT_TRUE(host.Wait(kHostTimeoutMs)) << test::ReadWholeFile(dir.File("host.txt"));
    const std::string hostOutput = test::ReadWholeFile(dir.File("host.txt"));
    ASSERT_EQ(host.exitCode(), 0) << hostOutput;
    SCOPED_TRACE("host output:\n" + hostOutput + "\ncompanion output:\n" +
                 test::ReadWholeFile(dir.File("companion.txt")));

    // What the headset reported: each eye's projection and the IPD.
    float projection[2][4] = {};
    for (int eye = 0; eye < 2; ++eye) {
        const std::string key = eye == 0 ? "display: left eye" : "display: right eye";
        const size_t at = hostOutput.find(key);
        ASSERT_NE(at, std::string::npos);
        const size_t values = hostOutput.find("projection ", at);
        ASSERT_NE(values, std::string::npos);
        ASSERT_EQ(
            std::sscanf(hostOutput.c_str() + values, "projection %f %f %f %f", &projection[eye][0],
                        &projection[eye][1], &projection[eye][2], &projection[eye][3]),
            4);
    }
    const size_t ipdAt = hostOutput.find("IPD: ");
    ASSERT_NE(ipdAt, std::string::npos);
    const double ipd = std::strtod(hostOutput.c_str() + ipdAt + 5, nullptr);
    ASSERT_GT(ipd, 0.0);

    // Where the face's centroid should be, worked out by hand. The face's centre is at
    // (0, 1.7, -2.75), 2.75 m straight ahead of the head at eye height. Turning the head left
    // by yaw turns the room right by yaw as the head sees it: the centre is at
    // (2.75 sin(yaw), 0, -2.75 cos(yaw)) from the head. The left eye sits ipd/2 to the head's
    // left, so from it the centre is ipd/2 further right (the right eye: ipd/2 further left):
    //   tan = (2.75 sin(yaw) +- ipd/2) / (2.75 cos(yaw)).
    // The eye's picture spans tangents left..right over its width, so the centre lands at
    //   x = (tan - left) / (right - left) * width.
    // A square face turned by 20 degrees projects slightly wider on its near side; its
    // centroid lies within a pixel of the centre's image (0.7 here), and the scene's 2x2-pixel
    // rays move it by less than half a pixel more: 1.5 pixels of tolerance against a shift of
    // about 85 pixels, and less than the 2.3 pixels an eye on the wrong side of the head
    // would be off.
    const double eyeWidth = kWidth / 2;
    auto expectedX = [&](int eye, double yaw) {
        const double side = eye == 0 ? ipd / 2 : -ipd / 2;
        const double tangent = (2.75 * std::sin(yaw) + side) / (2.75 * std::cos(yaw));
        return (tangent - projection[eye][0]) / (projection[eye][1] - projection[eye][0]) *
               eyeWidth;
    };
    constexpr double kTolerance = 1.5;

    // Every saved frame, in order, is either straight ahead or turned.
    enum class View { kAhead, kTurned, kOther };
    std::vector<View> views;
    std::string trace;
    for (int sequence = 0; sequence <= kFrames; ++sequence) {
        char name[64];
        std::snprintf(name, sizeof name, "frame_c1_%08d.png", sequence);
        std::string bytes;
        if (!test::ReadWholeFile(dir.File(name), bytes)) continue;
        test::PngImage image;
        ASSERT_TRUE(test::ReadPng(bytes, image, error)) << name << ": " << error;
        ASSERT_EQ(image.width, kWidth);
        View both[2];
        for (int eye = 0; eye < 2; ++eye) {
            const Centroid centroid = RedCentroid(image, eye);
            both[eye] = !centroid.found                                             ? View::kOther
                        : std::fabs(centroid.x - expectedX(eye, 0.0)) < kTolerance  ? View::kAhead
                        : std::fabs(centroid.x - expectedX(eye, kYaw)) < kTolerance ? View::kTurned
                                                                                    : View::kOther;
            trace += std::string(name) + " eye " + std::to_string(eye) + " x " +
                     std::to_string(centroid.x) + "\n";
        }
        EXPECT_EQ(both[0], both[1]) << name;
        views.push_back(both[0]);
    }
    SCOPED_TRACE("red centroids:\n" + trace + "expected ahead " +
                 std::to_string(expectedX(0, 0.0)) + " / " + std::to_string(expectedX(1, 0.0)) +
                 ", turned " + std::to_string(expectedX(0, kYaw)) + " / " +
                 std::to_string(expectedX(1, kYaw)));
    ASSERT_GE(views.size(), 4u);
    // Turned, then ahead again after the recenter till the end; the poses step, so at most a
    // frame on each step shows something in between.
    const auto lastTurned = std::find(views.rbegin(), views.rend(), View::kTurned);
    ASSERT_NE(lastTurned, views.rend());
    ASSERT_NE(lastTurned, views.rbegin());
    EXPECT_EQ(views.back(), View::kAhead);
    EXPECT_LE(std::count(views.begin(), views.end(), View::kOther), 2);
}

}  // namespace
}  // namespace quillo::test
