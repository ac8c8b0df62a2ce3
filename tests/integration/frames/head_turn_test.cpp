// The frames show the tracking: the companion holds the head turned by a known yaw, and the
// room quillo-host draws from the pose the driver publishes has moved, in the frame the
// companion receives, by as much as the headset's projection says; after a recenter the view
// faces the room as straight ahead. Each run is judged by the last frame the companion received
// (written when the driver disconnects), so how many frames a busy machine manages does not
// matter.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "integration/frames/frames_run.h"
#include "support/program_paths.h"
#include "support/test_files.h"
#include "support/wait_until.h"

namespace quillo::test {
namespace {

constexpr int kRefreshRate = 20;
// The host's frame loop runs this long; the recenter goes out 1 s after the driver connects,
// before the loop has even started on a busy machine or well within it otherwise.
constexpr int kHostSeconds = 4;
constexpr uint32_t kTimeoutMs = 600000;
const double kYaw = 20.0 * std::acos(-1.0) / 180.0;
// Rows left out when looking for the box: the stamp and check bands at the top and bottom
// carry the left eye's red and green checkerboard.
constexpr uint32_t kEdgeRows = 16;

// Mean x of the pixels that are exactly (255, 0, 0), in pixels from the eye's left edge (pixel
// centres at i + 0.5): the red box's face toward the start view, which nothing else in the room
// has. NaN when there is no face: a 50 cm face 2.75 m away is some 40 x 50 pixels here, and a
// few stray pixels are none.
double RedCentroid(const PngImage& image, int eye) {
    const uint32_t eyeWidth = image.width / 2;
    double sum = 0.0;
    uint64_t count = 0;
    for (uint32_t y = kEdgeRows; y + kEdgeRows < image.height; ++y) {
        const uint8_t* row =
            &image.rgba[(static_cast<size_t>(y) * image.width + eye * eyeWidth) * 4];
        for (uint32_t x = 0; x < eyeWidth; ++x) {
            if (row[4 * x] == 255 && row[4 * x + 1] == 0 && row[4 * x + 2] == 0) {
                sum += x + 0.5;
                ++count;
            }
        }
    }
    return count > 200 ? sum / static_cast<double>(count) : std::nan("");
}

// One companion and one host run with the head turned by kYaw all along; with `recenter`, the
// companion recenters 1 s after the driver connects. Leaves the host's output in `hostOutput`
// and the last frame the companion received in `lastFrame`.
void RunTurnedHead(bool recenter, std::string& hostOutput, PngImage& lastFrame) {
    FramesRun run{recenter ? "recentered" : "turned"};
    // A pure yaw about Y: (x, y, z, w) = (0, sin(yaw / 2), 0, cos(yaw / 2)), head at 1.7 m.
    char motion[256];
    std::snprintf(motion, sizeof motion, "t,qx,qy,qz,qw,px,py,pz\n0,0,%.9f,0,%.9f,0,1.7,0\n",
                  std::sin(kYaw / 2), std::cos(kYaw / 2));
    ASSERT_TRUE(WriteWholeFile(run.File("motion.csv"), motion));
    std::vector<std::string> arguments = {"--motion", NativePath(run.File("motion.csv")),
                                          "--png-dir", NativePath(run.dir.path())};
    if (recenter) arguments.insert(arguments.end(), {"--at", "1:recenter"});
    ASSERT_NO_FATAL_FAILURE(run.StartCompanion(kRefreshRate, arguments));
    ASSERT_NO_FATAL_FAILURE(run.RunHost(0, "virtual", {"--seconds", std::to_string(kHostSeconds)}));
    hostOutput = run.hostOutput;
    // The companion writes the last frame of a connection when the driver has gone.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return ReadWholeFile(run.File("companion.txt")).find("frames: last frame") !=
                   std::string::npos;
        },
        std::chrono::milliseconds(kTimeoutMs)))
        << ReadWholeFile(run.File("companion.txt"));
    std::string error;
    ASSERT_TRUE(ReadPng(run.File("last_frame.png"), lastFrame, error)) << error;
    ASSERT_EQ(lastFrame.width, kFrameWidth);
}

TEST(HeadTurn, RoomMovesByTheProjectedAngleAndFacesAheadAfterARecenter) {
    std::string hostOutput;
    PngImage turned, recentered;
    ASSERT_NO_FATAL_FAILURE(RunTurnedHead(false, hostOutput, turned));
    ASSERT_NO_FATAL_FAILURE(RunTurnedHead(true, hostOutput, recentered));
    SCOPED_TRACE("host output:\n" + hostOutput);

    // What the headset reported: each eye's horizontal projection and the IPD.
    float projection[2][2] = {};  // left and right tangents
    for (int eye = 0; eye < 2; ++eye) {
        const size_t at = hostOutput.find(eye == 0 ? "display: left eye" : "display: right eye");
        ASSERT_NE(at, std::string::npos);
        ASSERT_EQ(std::sscanf(hostOutput.c_str() + at, "%*[^,], projection %f %f",
                              &projection[eye][0], &projection[eye][1]),
                  2);
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
    const double eyeWidth = kFrameWidth / 2;
    auto expectedX = [&](int eye, double yaw) {
        const double side = eye == 0 ? ipd / 2 : -ipd / 2;
        const double tangent = (2.75 * std::sin(yaw) + side) / (2.75 * std::cos(yaw));
        return (tangent - projection[eye][0]) / (projection[eye][1] - projection[eye][0]) *
               eyeWidth;
    };
    constexpr double kTolerance = 1.5;

    for (int eye = 0; eye < 2; ++eye) {
        EXPECT_NEAR(RedCentroid(turned, eye), expectedX(eye, kYaw), kTolerance) << "eye " << eye;
        EXPECT_NEAR(RedCentroid(recentered, eye), expectedX(eye, 0.0), kTolerance) << "eye " << eye;
    }
}

}  // namespace
}  // namespace quillo::test
