// The tracking kinds that act on the pose the headset already has, carried through the real
// pipe into the pose the headset hands to the runtime: a status out of range, then recompose
// and recenter kinds. (What each kind's data does is checked in process: the companion's
// payloads in unit/companion, the driver's decoding and tracking state in unit/wire and
// unit/tracking.)
#include <gtest/gtest.h>

#include "integration/link/link_processes.h"

namespace quillo::test {
namespace {

constexpr double kIdentity[4] = {1.0, 0.0, 0.0, 0.0};

TEST(TrackingKinds, StatusRecenterAndRecomposeKindsActOnTheCurrentPose) {
    LinkRun run("special");
    ASSERT_TRUE(run.ok());
    // A pure turn of 30 degrees, so that a recenter cancels it completely.
    const std::string motion = run.dir().File("turn.csv");
    ASSERT_TRUE(WriteWholeFile(motion, "0,0,0.258819,0,0.965926,0,1.5,0\n"));
    platform::ChildProcess companion;
    // Quaternions first; status 1 (out of range) for a while; then only kind 1 (recompose)
    // messages, and among them one recenter of kind 50.
    ASSERT_TRUE(run.StartCompanion(
        companion, {"--tracking-kind", "4", "--motion", NativePath(motion), "--controllers", "0",
                    "--at", "0.5:status=1", "--at", "1.0:status=0", "--at", "1.2:kind=recompose",
                    "--at", "1.4:recenter-kind"}));
    platform::ChildProcess host;
    ASSERT_TRUE(run.StartHost(host, {"--seconds", "60", "--pose-every", "10", "--quiet"}));

    // Watch the host's poses: out of range first, then recentered and tracking again.
    bool sawOutOfRange = false;
    const bool recentered = WaitUntil(
        [&] {
            for (const HostPose& pose : HeadsetPoses(run.HostOutput())) {
                if (pose.result == 201) sawOutOfRange = true;
                if (sawOutOfRange && pose.result == 200 &&
                    SameRotation(pose.rotation, kIdentity, 2e-3)) {
                    return true;
                }
            }
            return false;
        },
        std::chrono::milliseconds(60000));
    host.Kill();
    companion.Kill();
    const std::vector<HostPose> poses = HeadsetPoses(run.HostOutput());
    ASSERT_FALSE(poses.empty()) << run.HostOutput();
    EXPECT_TRUE(sawOutOfRange) << run.HostOutput();
    EXPECT_TRUE(recentered) << poses.back().line << "\n" << run.CompanionOutput();
    // Out of range came with the turned pose, not the recentered one.
    for (const HostPose& pose : poses) {
        if (pose.result == 201) {
            const double turned[4] = {0.965926, 0, 0.258819, 0};
            EXPECT_TRUE(SameRotation(pose.rotation, turned, 2e-3)) << pose.line;
        }
    }
}

}  // namespace
}  // namespace quillo::test
