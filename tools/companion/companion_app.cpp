#include "companion_app.h"

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/console.h"
#include "companion_command.h"
#include "companion_link.h"
#include "companion_output.h"
#include "controller_script.h"
#include "frame_receiver.h"
#include "frame_side.h"
#include "link/wire_format.h"
#include "motion.h"
#include "platform/clock.h"
#include "platform/pipe.h"
#include "tracking_payloads.h"

namespace quillo::companion {

namespace {

using Clock = std::chrono::steady_clock;

std::string Hex(uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08" PRIx32, value);
    return buffer;
}

std::string Fixed(double value, int decimals) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

// Commands typed on standard input, handed to the main loop.
class StdinCommands {
  public:
    explicit StdinCommands(CompanionOutput& output) : output_(output) {}

    void Start() {
        running_ = true;
        std::thread([this] { Read(); }).detach();
    }
    // True while the reading thread may still be inside a read (it cannot be woken).
    bool Reading() const { return running_.load(); }

    bool Take(Command& command) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.empty()) return false;
        command = queue_.front();
        queue_.pop_front();
        return true;
    }

  private:
    void Read() {
        char line[256];
        while (std::fgets(line, sizeof line, stdin) != nullptr) {
            Command command;
            std::string error;
            if (ParseCommand(line, command, error)) {
                std::lock_guard<std::mutex> lock(mutex_);
                queue_.push_back(command);
            } else if (error != "empty command") {
                output_.Event("command not understood: " + error + " (try 'quit')", "", true);
            }
        }
        running_ = false;
    }

    CompanionOutput& output_;
    std::atomic<bool> running_{false};
    std::mutex mutex_;
    std::deque<Command> queue_;
};

class App {
  public:
    explicit App(const CompanionOptions& options)
        : options_(options),
          output_(platform::StdoutIsTerminal(), options.quiet),
          stdin_(output_),
          trackingKind_(options.trackingKind),
          trackingOn_(options.tracking),
          controllersOn_(options.controllers > 0) {}

    int Run();
    bool StdinReading() const { return stdin_.Reading(); }

  private:
    double Now() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
    // The steps of a run, in order.
    int Prepare();  // log, motion file, frame side and pipes; an exit code when one fails
    void Listen();  // waits for the driver on the pipes and reads typed commands
    void QueueDueCommands(double now);
    void RunPendingCommands();
    void Stream(double now, double trackingInterval, double controllerInterval);
    void Finish();  // ends the frame side and the link, prints the summary
    void HandleLinkEvent(const LinkEvent& event);
    void RunCommand(const Command& command);
    void SendTracking(int32_t kind, double now);
    void SendControllers(double now);
    void SendRefreshRate(int32_t hz);
    void Sent(const std::string& what, JsonLine json);
    void UpdateStatus(double now);

    const CompanionOptions& options_;
    CompanionOutput output_;
    StdinCommands stdin_;
    CompanionLink link_;
    MotionTrack motion_;
    TrackingPayloads payloads_;
    std::unique_ptr<FrameSide> frameSide_;
    std::atomic<bool> stopRequested_{false};
    Clock::time_point start_ = Clock::now();

    int32_t trackingKind_;
    bool trackingOn_;
    bool controllersOn_;
    uint8_t status_ = 0;
    double firstConnection_ = -1.0;  // seconds since start; -1 before the first connection
    size_t nextScripted_ = 0;
    std::deque<Command> pending_;  // due but waiting for a connection
    double nextTracking_ = 0.0;
    double nextControllers_ = 0.0;
    uint64_t inertialSamples_ = 0;
    uint32_t controllerPacket_ = 0;
    int32_t lastRate_ = 0;

    uint32_t connections_ = 0;
    uint64_t frameInfos_ = 0;
    uint64_t haptics_ = 0;
    bool haveHaptic_ = false;
    wire::HapticPulse lastHaptic_;
    double lastHapticAt_ = 0.0;
    double nextStatus_ = 0.0;
};

void App::Sent(const std::string& what, JsonLine json) {
    output_.Event("sent " + what, json.Add("t", Now()).Text());
}

void App::SendRefreshRate(int32_t hz) {
    uint8_t payload[wire::kRefreshRateSize];
    wire::EncodeRefreshRate(hz, payload, sizeof payload);
    if (link_.Send(wire::kRefreshRateMessage, payload, sizeof payload)) {
        lastRate_ = hz;
        Sent("rate " + std::to_string(hz),
             JsonLine().Add("event", "sent").Add("what", "rate").Add("value", hz));
    }
}

void App::SendTracking(int32_t kind, double now) {
    HeadSample head;
    double at = now - (firstConnection_ < 0.0 ? 0.0 : firstConnection_);
    if (kind == 2) {
        // Inertial samples follow the motion on the sample clock the driver's filter assumes.
        at = static_cast<double>(inertialSamples_++) / kInertialSampleRate;
    }
    head = motion_.empty() ? ScriptedHead(at) : motion_.At(at, options_.loopMotion);
    uint8_t payload[wire::kMaxPayloadLength];
    const size_t length = payloads_.Encode(kind, head, status_, payload, sizeof payload);
    if (length > 0) {
        link_.Send(wire::kTrackingMessage, payload, static_cast<uint32_t>(length));
    }
}

void App::SendControllers(double now) {
    const double at = now - (firstConnection_ < 0.0 ? 0.0 : firstConnection_);
    for (int index = 0; index < options_.controllers; ++index) {
        const ControllerRecord record = ScriptedController(index, at, ++controllerPacket_);
        uint8_t payload[wire::kControllerRecordSize];
        if (wire::EncodeControllerRecord(record, payload, sizeof payload) ==
            wire::WireError::kNone) {
            link_.Send(wire::kControllerMessage, payload, sizeof payload);
        }
    }
}

void App::RunCommand(const Command& command) {
    const std::string text = DescribeCommand(command);
    auto json = [&] {
        return JsonLine().Add("event", "sent").Add("what", text).Add("value", command.value);
    };
    switch (command.kind) {
        case CommandKind::kRecenter:
            if (link_.Send(wire::kRecenterMessage, nullptr, 0)) Sent(text, json());
            return;
        case CommandKind::kShutdown:
            if (link_.Send(wire::kShutdownRuntimeMessage, nullptr, 0)) Sent(text, json());
            return;
        case CommandKind::kRecenterKind:
            SendTracking(static_cast<int32_t>(wire::TrackingKind::kRecenter), Now());
            Sent(text, json());
            return;
        case CommandKind::kStatus:
            status_ = static_cast<uint8_t>(command.value);
            SendTracking(static_cast<int32_t>(wire::TrackingKind::kStatus), Now());
            Sent(text, json());
            return;
        case CommandKind::kRate:
            SendRefreshRate(static_cast<int32_t>(command.value));
            return;
        case CommandKind::kKind:
            trackingKind_ = static_cast<int32_t>(command.value);
            payloads_.ResetInertial();
            break;
        case CommandKind::kTrackingOff:
            trackingOn_ = false;
            break;
        case CommandKind::kTrackingOn:
            trackingOn_ = true;
            break;
        case CommandKind::kControllersOff:
            controllersOn_ = false;
            break;
        case CommandKind::kControllersOn:
            controllersOn_ = options_.controllers > 0;
            break;
        case CommandKind::kDisconnect:
            link_.DropConnection();
            break;
        case CommandKind::kQuit:
            stopRequested_ = true;
            break;
    }
    output_.Event("command " + text,
                  JsonLine().Add("event", "command").Add("what", text).Add("t", Now()).Text());
}

void App::HandleLinkEvent(const LinkEvent& event) {
    const double now = Now();
    JsonLine json;
    json.Add("t", now).Add("connection", event.connection);
    switch (event.kind) {
        case LinkEvent::Kind::kConnected: {
            ++connections_;
            if (firstConnection_ < 0.0) firstConnection_ = now;
            output_.Event(
                "companion: driver connected (connection " + std::to_string(event.connection) + ")",
                json.Add("event", "connected").Text(), true);
            payloads_.ResetInertial();
            inertialSamples_ = 0;
            if (options_.refreshRate > 0) SendRefreshRate(options_.refreshRate);
            nextTracking_ = now;
            nextControllers_ = now;
            return;
        }
        case LinkEvent::Kind::kDisconnected:
            output_.Event("companion: driver disconnected (connection " +
                              std::to_string(event.connection) + ")",
                          json.Add("event", "disconnected").Text(), true);
            if (frameSide_) frameSide_->OnDisconnected(event.connection);
            return;
        case LinkEvent::Kind::kFrameInfo: {
            ++frameInfos_;
            const wire::FrameInfo& info = event.frameInfo;
            output_.Event("frameinfo connection=" + std::to_string(event.connection) +
                              " pid=" + std::to_string(info.hostProcessId) +
                              " handle0=" + Hex(info.outputHandleLow[0]) +
                              " handle1=" + Hex(info.outputHandleLow[1]) +
                              " link=" + info.linkName + " invertY=" + std::to_string(info.invertY),
                          json.Add("event", "frameinfo")
                              .Add("pid", info.hostProcessId)
                              .Add("handle0", info.outputHandleLow[0])
                              .Add("handle1", info.outputHandleLow[1])
                              .Add("link", std::string(info.linkName))
                              .Add("invertY", static_cast<uint32_t>(info.invertY))
                              .Text());
            if (frameSide_) frameSide_->OnFrameInfo(info, event.connection);
            return;
        }
        case LinkEvent::Kind::kHapticPulse: {
            ++haptics_;
            haveHaptic_ = true;
            lastHaptic_ = event.haptic;
            lastHapticAt_ = now;
            output_.Event("haptic connection=" + std::to_string(event.connection) +
                              " controller=" + std::to_string(event.haptic.controllerId) +
                              " duration=" + std::to_string(event.haptic.durationMicros) +
                              "us timestamp=" + std::to_string(event.haptic.timestampMicros),
                          json.Add("event", "haptic")
                              .Add("controller", event.haptic.controllerId)
                              .Add("duration", static_cast<uint32_t>(event.haptic.durationMicros))
                              .Add("timestamp", event.haptic.timestampMicros)
                              .Text());
            return;
        }
        case LinkEvent::Kind::kUnknownMessage:
            output_.Event("message type=" + std::to_string(event.type) +
                              " length=" + std::to_string(event.length) + " skipped",
                          json.Add("event", "unknown")
                              .Add("type", event.type)
                              .Add("length", event.length)
                              .Text());
            return;
        case LinkEvent::Kind::kBadMessage:
            output_.Event("bad message type=" + std::to_string(event.type) +
                              " length=" + std::to_string(event.length) + ": " +
                              wire::DescribeWireError(event.error),
                          json.Add("event", "bad")
                              .Add("type", event.type)
                              .Add("length", event.length)
                              .Add("reason", wire::DescribeWireError(event.error))
                              .Text(),
                          true);
            return;
    }
}

void App::UpdateStatus(double now) {
    std::string text = link_.connected() ? "[connected #" + std::to_string(link_.connection()) + "]"
                                         : "[waiting for the driver]";
    text += " sent " + std::to_string(link_.messagesSent());
    text += " | rate " + (lastRate_ > 0 ? std::to_string(lastRate_) + " Hz" : std::string("-"));
    text += " | kind " + std::to_string(trackingKind_);
    text += " | haptic ";
    if (haveHaptic_) {
        text += "ctrl " + std::to_string(lastHaptic_.controllerId) + " " +
                std::to_string(lastHaptic_.durationMicros) + "us " + Fixed(now - lastHapticAt_, 1) +
                "s ago";
    } else {
        text += "-";
    }
    if (frameSide_) {
        const std::string frames = frameSide_->StatusText();
        if (!frames.empty()) text += " | " + frames;
    }
    output_.Status(text);
}

int App::Run() {
    const int code = Prepare();
    if (code != kExitOk) return code;
    Listen();
    const double trackingInterval = 1.0 / EffectiveTrackingRate(options_);
    const double controllerInterval = 1.0 / options_.controllerRate;
    while (!stopRequested_.load()) {
        const double now = Now();
        if (options_.seconds > 0.0 && now >= options_.seconds) break;
        LinkEvent event;
        while (link_.PollEvent(event)) HandleLinkEvent(event);
        QueueDueCommands(now);
        RunPendingCommands();
        Stream(now, trackingInterval, controllerInterval);
        if (frameSide_) frameSide_->Tick();
        if (now >= nextStatus_) {
            UpdateStatus(now);
            nextStatus_ = now + 0.25;
        }
        platform::SleepMilliseconds(1);
    }
    Finish();
    return kExitOk;
}

int App::Prepare() {
    std::string error;
    if (!options_.logPath.empty() && !output_.OpenLog(options_.logPath, error)) {
        std::fprintf(stderr, "Quillo.exe: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!options_.motionFile.empty() && !motion_.Load(options_.motionFile, error)) {
        std::fprintf(stderr, "Quillo.exe: %s\n", error.c_str());
        return kExitFailure;
    }
    if (options_.takeFrames) {
        frameSide_ = MakeFrameReceiver(options_, output_);
        if (!frameSide_) return kExitFailure;
    }
    if (!link_.Create(platform::PipeSuffixFromEnvironment(), error)) {
        std::fprintf(stderr, "Quillo.exe: cannot create the pipes: %s\n", error.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

void App::Listen() {
    platform::RequestStopOnInterrupt(&stopRequested_);
    platform::RaiseTimerResolution();
    output_.Event(
        "companion: waiting for the driver on " + link_.inPath() + " and " + link_.outPath(),
        JsonLine()
            .Add("event", "listening")
            .Add("t", Now())
            .Add("in", link_.inPath())
            .Add("out", link_.outPath())
            .Text(),
        true);
    link_.Start();
    if (options_.readStdinChosen ? options_.readStdin : platform::StdinIsTerminal()) {
        stdin_.Start();
    }
}

void App::QueueDueCommands(double now) {
    Command typed;
    while (stdin_.Take(typed)) pending_.push_back(typed);
    while (firstConnection_ >= 0.0 && nextScripted_ < options_.script.size() &&
           now - firstConnection_ >= options_.script[nextScripted_].seconds) {
        pending_.push_back(options_.script[nextScripted_++].command);
    }
}

void App::RunPendingCommands() {
    // Commands that send wait for a connection; the others run at once.
    while (!pending_.empty()) {
        const Command& command = pending_.front();
        const bool needsLink =
            command.kind != CommandKind::kQuit && command.kind != CommandKind::kKind &&
            command.kind != CommandKind::kTrackingOff && command.kind != CommandKind::kTrackingOn &&
            command.kind != CommandKind::kControllersOff &&
            command.kind != CommandKind::kControllersOn;
        if (needsLink && !link_.connected()) break;
        RunCommand(command);
        pending_.pop_front();
    }
}

void App::Stream(double now, double trackingInterval, double controllerInterval) {
    if (!link_.connected()) return;
    if (trackingOn_ && now >= nextTracking_) {
        SendTracking(trackingKind_, now);
        nextTracking_ += trackingInterval;
        if (nextTracking_ < now - 0.25) nextTracking_ = now;  // fell far behind
    }
    if (controllersOn_ && now >= nextControllers_) {
        SendControllers(now);
        nextControllers_ += controllerInterval;
        if (nextControllers_ < now - 0.25) nextControllers_ = now;
    }
}

void App::Finish() {
    if (frameSide_) frameSide_->Finish();
    link_.Stop();
    LinkEvent event;
    while (link_.PollEvent(event)) HandleLinkEvent(event);
    output_.Finish();
    output_.Event("companion: summary connections=" + std::to_string(connections_) +
                      " messages-sent=" + std::to_string(link_.messagesSent()) + " frameinfos=" +
                      std::to_string(frameInfos_) + " haptics=" + std::to_string(haptics_),
                  JsonLine()
                      .Add("event", "summary")
                      .Add("t", Now())
                      .Add("connections", connections_)
                      .Add("sent", link_.messagesSent())
                      .Add("frameinfos", frameInfos_)
                      .Add("haptics", haptics_)
                      .Text(),
                  true);
}

}  // namespace

int RunCompanion(const CompanionOptions& options) {
    std::unique_ptr<App> app(new App(options));
    const int code = app->Run();
    const bool reading = app->StdinReading();
    app.reset();  // closes the log
    std::fflush(stdout);
    std::fflush(stderr);
    if (reading) {
        // A thread is still blocked reading standard input and cannot be woken; the C
        // runtime's exit clean-up could wait for the stream it holds, so skip it.
        std::_Exit(code);
    }
    return code;
}

}  // namespace quillo::companion
