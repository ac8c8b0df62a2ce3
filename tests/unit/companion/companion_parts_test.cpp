// The companion's own logic: its commands and options, motion files and the tracking payloads it
// builds for every kind (checked by decoding them as the driver does).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "companion_command.h"
#include "companion_options.h"
#include "link/head_tracking.h"
#include "link/tracking_math.h"
#include "link/wire_format.h"
#include "motion.h"
#include "support/temp_dir.h"
#include "support/test_files.h"
#include "tracking_payloads.h"

namespace quillo::test {
namespace {

using namespace quillo::companion;

// q and -q are the same rotation.
::testing::AssertionResult Rotation(const Quaternion& a, const Quaternion& b) {
    const float same = std::fmax(std::fmax(std::fabs(a.x - b.x), std::fabs(a.y - b.y)),
                                 std::fmax(std::fabs(a.z - b.z), std::fabs(a.w - b.w)));
    const float opposite = std::fmax(std::fmax(std::fabs(a.x + b.x), std::fabs(a.y + b.y)),
                                     std::fmax(std::fabs(a.z + b.z), std::fabs(a.w + b.w)));
    if (std::fmin(same, opposite) <= 1e-5f) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ", " << a.w
                                         << ") is not the rotation expected";
}

TEST(CompanionCommands, ParsesEveryFormAndRefusesTheRest) {
    Command command;
    std::string error;
    const struct {
        const char* text;
        CommandKind kind;
        int64_t value;
    } good[] = {{"  rate 72\n", CommandKind::kRate, 72},
                {"status=2", CommandKind::kStatus, 2},
                {"kind imu", CommandKind::kKind, 2},
                {"kind 2147483647", CommandKind::kKind, 2147483647}};
    for (const auto& g : good) {
        ASSERT_TRUE(ParseCommand(g.text, command, error)) << g.text << ": " << error;
        EXPECT_EQ(std::make_pair(command.kind, command.value), std::make_pair(g.kind, g.value));
    }
    ASSERT_TRUE(ParseCommand("shutdown", command, error));
    EXPECT_EQ(command.kind, CommandKind::kShutdown);

    for (const char* bad : {"", "rate", "rate fast", "status 256", "status -1", "kind sideways",
                            "recenter now", "explode"}) {
        error.clear();
        EXPECT_FALSE(ParseCommand(bad, command, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }

    TimedCommand timed;
    ASSERT_TRUE(ParseTimedCommand("2.5:recenter", timed, error)) << error;
    EXPECT_DOUBLE_EQ(timed.seconds, 2.5);
    EXPECT_EQ(timed.command.kind, CommandKind::kRecenter);
    EXPECT_FALSE(ParseTimedCommand("recenter", timed, error));
    EXPECT_FALSE(ParseTimedCommand("-1:recenter", timed, error));
}

TEST(CompanionCommands, ScriptFilesSkipCommentsAndNameTheBadLine) {
    TempDir dir("companion");
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(WriteWholeFile(dir.File("good.txt"),
                               "# a script\n\n1.0 rate 72\n0.5   recenter\n3 quit\n"));
    std::vector<TimedCommand> script;
    std::string error;
    ASSERT_TRUE(LoadCommandScript(dir.File("good.txt"), script, error)) << error;
    ASSERT_EQ(script.size(), 3u);
    EXPECT_EQ(script[1].command.kind, CommandKind::kRecenter);

    ASSERT_TRUE(WriteWholeFile(dir.File("bad.txt"), "1 recenter\n2 dance\n"));
    script.clear();
    EXPECT_FALSE(LoadCommandScript(dir.File("bad.txt"), script, error));
    EXPECT_NE(error.find("bad.txt:2:"), std::string::npos) << error;
    EXPECT_FALSE(LoadCommandScript(dir.File("missing.txt"), script, error));
}

TEST(CompanionOptions, DefaultsAndClearErrors) {
    auto parse = [](std::vector<const char*> args, CompanionOptions& options, std::string& error) {
        args.insert(args.begin(), "Quillo.exe");
        return ParseCompanionOptions(static_cast<int>(args.size()), args.data(), options, error) ==
               ParseOutcome::kRun;
    };
    CompanionOptions options;
    std::string error;
    ASSERT_TRUE(parse({}, options, error)) << error;
    EXPECT_EQ(options.refreshRate, 90);
    EXPECT_EQ(options.trackingKind, 4);
    EXPECT_FALSE(options.readStdinChosen);
    EXPECT_DOUBLE_EQ(EffectiveTrackingRate(options), 90.0);

    options = CompanionOptions();
    ASSERT_TRUE(parse({"--tracking-kind", "imu", "--at", "3:quit", "--no-stdin", "--at",
                       "1:recenter", "--png-dir", "frames"},
                      options, error))
        << error;
    // Inertial samples go at the rate the driver's filter assumes; commands sorted by time.
    EXPECT_DOUBLE_EQ(EffectiveTrackingRate(options), 76.0);
    ASSERT_EQ(options.script.size(), 2u);
    EXPECT_EQ(options.script[0].command.kind, CommandKind::kRecenter);
    EXPECT_TRUE(options.readStdinChosen);
    EXPECT_FALSE(options.readStdin);
    EXPECT_TRUE(options.takeFrames);

    struct Bad {
        std::vector<const char*> args;
        const char* says;
    };
    for (const Bad& bad : {Bad{{"--fly"}, "--fly"}, Bad{{"--rate"}, "--rate"},
                           Bad{{"--controllers", "3"}, "--controllers"},
                           Bad{{"--tracking-rate", "0"}, "--tracking-rate"},
                           Bad{{"--tracking-kind", "sideways"}, "not a tracking kind"},
                           Bad{{"--at", "1:recenter", "stray"}, "stray"},
                           Bad{{"--at", "soon:recenter"}, "bad time"}}) {
        options = CompanionOptions();
        error.clear();
        EXPECT_FALSE(parse(bad.args, options, error)) << bad.args[0];
        EXPECT_NE(error.find(bad.says), std::string::npos) << error;
    }
}

TEST(CompanionMotion, CsvAndJsonPosesHoldUntilTheNext) {
    MotionTrack track;
    std::string error;
    ASSERT_TRUE(
        track.Parse("t,qx,qy,qz,qw,px,py,pz\n# comment\n"
                    "1.0, 0,0,0,1, 1,2,3\n0.0,0,0.5,0,0.8660254,0,1.7,0\n",
                    error))
        << error;
    ASSERT_EQ(track.samples().size(), 2u);  // sorted by time
    EXPECT_FLOAT_EQ(track.At(-1.0, false).orientation.y, 0.5f);
    EXPECT_FLOAT_EQ(track.At(0.99, false).orientation.y, 0.5f);
    EXPECT_FLOAT_EQ(track.At(1.0, false).position.x, 1.0f);
    EXPECT_FLOAT_EQ(track.At(50.0, false).position.z, 3.0f);   // the end holds
    EXPECT_FLOAT_EQ(track.At(2.5, true).orientation.y, 0.5f);  // 2.5 wraps to 0.5

    ASSERT_TRUE(track.Parse(R"({"poses": [{"t": 0, "q": [0, 0, 0, 1], "p": [0.5, 1, 2]}]})", error))
        << error;
    EXPECT_FLOAT_EQ(track.At(0.0, false).position.x, 0.5f);
    ASSERT_TRUE(track.Parse(R"([{"t": 0, "q": [0, 1, 0, 0], "p": [0, 0, 0]}])", error));
    EXPECT_FLOAT_EQ(track.At(0.0, false).orientation.y, 1.0f);

    EXPECT_FALSE(track.Parse("0,0,0,0,1,0,0\n", error));  // seven values
    EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    EXPECT_FALSE(track.Parse(R"([{"t": 0, "q": [0, 0, 1], "p": [0, 0, 0]}])", error));
    EXPECT_NE(error.find("pose 0"), std::string::npos) << error;
    EXPECT_FALSE(track.Parse("# nothing\n", error));
}

TEST(CompanionTracking, EveryKindDecodesToThePoseItWasBuiltFrom) {
    HeadSample head;
    head.orientation = EulerToQuaternion(0.2f, -0.6f, 0.1f);
    head.position = Vector3{0.25f, 1.5f, -0.75f};
    TrackingPayloads payloads;
    uint8_t payload[wire::kMaxPayloadLength];
    for (int32_t kind : {0, 1, 3, 4, 5, 6, 50, 254, 2147483647, 77}) {
        const size_t length = payloads.Encode(kind, head, 2, payload, sizeof payload);
        ASSERT_GT(length, 0u) << kind;
        wire::TrackingUpdate update;
        ASSERT_EQ(wire::DecodeTrackingPayload(payload, length, update), wire::WireError::kNone)
            << kind;
        EXPECT_EQ(update.wireKind, kind);
        const Quaternion& q = head.orientation;
        switch (update.kind()) {
            case wire::TrackingKind::kRotationMatrix:
                EXPECT_TRUE(Rotation(MatrixToQuaternion(update.matrix), q)) << kind;
                break;
            case wire::TrackingKind::kPoseMatrix:
                EXPECT_TRUE(Rotation(MatrixToQuaternionCopysign(update.matrix), q));
                EXPECT_FLOAT_EQ(update.matrix[3], 0.25f);
                EXPECT_FLOAT_EQ(update.matrix[7], 1.5f);
                EXPECT_FLOAT_EQ(update.matrix[11], -0.75f);
                break;
            case wire::TrackingKind::kAnglesAndPosition:
                EXPECT_TRUE(Rotation(
                    EulerToQuaternion(update.angles[0], update.angles[1], update.angles[2]), q));
                EXPECT_FLOAT_EQ(update.position[2], -0.75f);
                break;
            case wire::TrackingKind::kQuaternionAndPosition:
                EXPECT_FLOAT_EQ(update.quaternion[0], q.x);
                EXPECT_FLOAT_EQ(update.quaternion[3], q.w);
                EXPECT_FLOAT_EQ(update.position[0], 0.25f);
                break;
            case wire::TrackingKind::kPositionOnly:
                EXPECT_FLOAT_EQ(update.position[1], 1.5f);
                break;
            case wire::TrackingKind::kStatus:
                EXPECT_EQ(update.status, 2);
                break;
            default:
                break;
        }
    }
}

// The inertial samples, run through the driver's own attitude filter, follow the motion they
// were made from: the gyroscope carries the filter along and the accelerometer and
// magnetometer agree with it, so no correction pulls it elsewhere.
TEST(CompanionTracking, InertialSamplesMakeTheDriversFilterFollowTheMotion) {
    TrackingState state;
    TrackingPayloads payloads;
    uint8_t payload[wire::kMaxPayloadLength];
    double worst = 0.0;
    for (int sample = 0; sample <= 6 * 76; ++sample) {
        const HeadSample head = ScriptedHead(sample / kInertialSampleRate);
        const size_t length = payloads.Encode(2, head, 0, payload, sizeof payload);
        ASSERT_EQ(state.DecodeTracking(payload, length), wire::WireError::kNone);
        const Quaternion& q = state.orientation();
        // Compare as rotations: the angle between the two.
        const double dot = std::fabs(q.x * head.orientation.x + q.y * head.orientation.y +
                                     q.z * head.orientation.z + q.w * head.orientation.w);
        const double norm = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
        const double angle = 2.0 * std::acos(std::fmin(1.0, dot / norm));
        worst = std::fmax(worst, angle);
    }
    EXPECT_LT(worst, 0.02) << "radians";  // about a degree over six seconds of turning
}

}  // namespace
}  // namespace quillo::test
