// Every tracking kind the companion can send, carried through the real pipe into the pose the
// headset hands to the runtime. The companion replays a fixed pose (a turn of 30 degrees and a
// nod of 10 degrees at (0.1, 1.6, -0.2)); what reaches the runtime depends on the kind.
#include <gtest/gtest.h>

#include "integration/link/link_processes.h"

namespace quillo::test {
namespace {

// The target pose: EulerToQuaternion(10 degrees about X, 30 degrees about Y, 0), w x y z.
constexpr double kTarget[4] = {0.96225, 0.08419, 0.25783, -0.02256};
constexpr double kIdentity[4] = {1.0, 0.0, 0.0, 0.0};
constexpr double kTargetPosition[3] = {0.1, 1.6, -0.2};
constexpr double kStartPosition[3] = {0.0, 1.7, 0.0};

std::string FixedPoseCsv() {
    char line[128];
    std::snprintf(line, sizeof line, "t,qx,qy,qz,qw,px,py,pz\n0,%.5f,%.5f,%.5f,%.5f,%g,%g,%g\n",
                  kTarget[1], kTarget[2], kTarget[3], kTarget[0], kTargetPosition[0],
                  kTargetPosition[1], kTargetPosition[2]);
    return line;
}

// For the inertial kind: from looking straight ahead to the target pose in one second of
// samples, then holding it, so the gyroscope carries the driver's filter there.
std::string RampToTargetCsv() {
    const double half = std::acos(kTarget[0]);
    const double axisScale = 1.0 / std::sin(half);
    std::string text;
    for (int i = 0; i <= 76; ++i) {
        const double f = i / 76.0;
        const double s = std::sin(half * f) * axisScale;
        char line[160];
        std::snprintf(line, sizeof line, "%.6f,%.7f,%.7f,%.7f,%.7f,%g,%g,%g\n", f, kTarget[1] * s,
                      kTarget[2] * s, kTarget[3] * s, std::cos(half * f), kTargetPosition[0],
                      kTargetPosition[1], kTargetPosition[2]);
        text += line;
    }
    return text;
}

struct KindCase {
    const char* kind;
    const double* rotation;
    const double* position;
    double tolerance;
};

void PrintTo(const KindCase& c, std::ostream* os) {
    *os << "kind " << c.kind;
}

class TrackingKind : public ::testing::TestWithParam<KindCase> {};

TEST_P(TrackingKind, MovesTheHeadsetPoseAsTheKindSays) {
    const KindCase& c = GetParam();
    LinkRun run(std::string("kind") + c.kind);
    ASSERT_TRUE(run.ok());
    const bool inertial = std::string(c.kind) == "2";
    const std::string motion = run.dir().File("motion.csv");
    ASSERT_TRUE(WriteWholeFile(motion, inertial ? RampToTargetCsv() : FixedPoseCsv()));

    platform::ChildProcess companion;
    ASSERT_TRUE(run.StartCompanion(companion, {"--tracking-kind", c.kind, "--motion",
                                               NativePath(motion), "--controllers", "0"}));
    const std::string output =
        run.RunHost({"--seconds", inertial ? "4" : "3", "--pose-every", "30", "--quiet"});
    companion.Kill();

    const std::vector<HostPose> poses = HeadsetPoses(output);
    ASSERT_GE(poses.size(), 2u) << output;
    // Before the companion's first message the headset looks ahead at 1.7 m.
    EXPECT_TRUE(SameRotation(poses.front().rotation, kIdentity, 1e-4)) << poses.front().line;
    const HostPose& last = poses.back();
    EXPECT_TRUE(SameRotation(last.rotation, c.rotation, c.tolerance)) << last.line;
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(last.position[i], c.position[i], 1e-4) << last.line;
    }
    EXPECT_EQ(last.result, 200) << last.line;
    EXPECT_GE(CountEvents(ReadEventLog(run.CompanionLog()), "connected"), 1u);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, TrackingKind,
                         ::testing::Values(
                             // Rotation matrix: rotation only, the position stays where it was.
                             KindCase{"0", kTarget, kStartPosition, 2e-3},
                             // Inertial samples through the attitude filter: close, not exact (the
                             // filter's own normalisation and feedback).
                             KindCase{"2", kTarget, kStartPosition, 1e-2},
                             // Angles and position.
                             KindCase{"3", kTarget, kTargetPosition, 2e-3},
                             // Quaternion and position.
                             KindCase{"4", kTarget, kTargetPosition, 2e-3},
                             // Position only: the rotation is never recomposed.
                             KindCase{"5", kIdentity, kTargetPosition, 1e-4},
                             // Pose matrix: rotation and position.
                             KindCase{"6", kTarget, kTargetPosition, 2e-3},
                             // A kind the driver does not list is read as a rotation matrix.
                             KindCase{"77", kTarget, kStartPosition, 2e-3}),
                         [](const ::testing::TestParamInfo<KindCase>& info) {
                             return std::string("Kind") + info.param.kind;
                         });

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
