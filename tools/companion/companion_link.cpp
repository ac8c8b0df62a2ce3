#include "companion_link.h"

#include <chrono>

#include "link/message_reader.h"
#include "link/pipe_names.h"

namespace quillo::companion {

namespace {
// How long to wait for the driver's read end after its write end opened. The driver opens it
// 150 ms later; a driver that opened only the write end closes it again within a round.
constexpr uint32_t kPartnerWaitMs = 5000;
// Accept calls wake this often to notice Stop.
constexpr uint32_t kAcceptSliceMs = 100;
}  // namespace

CompanionLink::~CompanionLink() {
    Stop();
}

bool CompanionLink::Create(const std::string& suffix, std::string& error) {
    inPath_ = platform::PipePath(kPipeBaseNameIn, suffix);
    outPath_ = platform::PipePath(kPipeBaseNameOut, suffix);
    if (!inListener_.Create(inPath_, platform::PipeAccess::kRead, error)) return false;
    if (!outListener_.Create(outPath_, platform::PipeAccess::kWrite, error)) {
        inListener_.Close();
        return false;
    }
    return true;
}

void CompanionLink::Start() {
    if (running_.exchange(true)) return;
    thread_ = std::thread([this] { AcceptLoop(); });
}

void CompanionLink::Stop() {
    running_.store(false);
    {
        std::lock_guard<std::mutex> lock(streamLock_);
        fromDriver_.Interrupt();
        toDriver_.Interrupt();
    }
    if (thread_.joinable()) thread_.join();
    inListener_.Close();
    outListener_.Close();
}

void CompanionLink::DropConnection() {
    std::lock_guard<std::mutex> lock(streamLock_);
    fromDriver_.Interrupt();
    toDriver_.Interrupt();
}

bool CompanionLink::Send(uint32_t type, const uint8_t* payload, uint32_t length) {
    if (!connected_.load()) return false;
    uint8_t message[wire::kHeaderSize + wire::kMaxPayloadLength];
    const size_t size = wire::EncodeMessage(type, payload, length, message, sizeof message);
    if (size == 0) return false;
    bool sent = false;
    {
        std::lock_guard<std::mutex> lock(sendLock_);
        sent = connected_.load() && toDriver_.WriteAll(message, size);
    }
    if (sent) {
        messagesSent_.fetch_add(1);
    } else {
        DropConnection();  // the reader notices and reports the end
    }
    return sent;
}

bool CompanionLink::PollEvent(LinkEvent& event) {
    std::lock_guard<std::mutex> lock(eventLock_);
    if (events_.empty()) return false;
    event = events_.front();
    events_.pop_front();
    return true;
}

void CompanionLink::Push(const LinkEvent& event) {
    std::lock_guard<std::mutex> lock(eventLock_);
    events_.push_back(event);
}

void CompanionLink::AcceptLoop() {
    while (running_.load()) {
        platform::PipeStream in;
        if (!inListener_.Accept(in, kAcceptSliceMs)) continue;
        platform::PipeStream out;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kPartnerWaitMs);
        bool paired = false;
        while (running_.load() && std::chrono::steady_clock::now() < deadline) {
            // A driver that found its "In" dead after opening "Out" (this companion started
            // between its two opens) closed that "Out" again; it may still wait here.
            if (outListener_.Accept(out, kAcceptSliceMs) && !out.PeerGone()) {
                paired = true;
                break;
            }
        }
        if (!paired) continue;  // a driver that gave up on the pair; `in` closes here
        const uint32_t connection = connection_.load() + 1;
        {
            std::lock_guard<std::mutex> streams(streamLock_);
            if (!running_.load()) break;
            std::lock_guard<std::mutex> send(sendLock_);
            fromDriver_ = std::move(in);
            toDriver_ = std::move(out);
            connection_.store(connection);
            connected_.store(true);
        }
        LinkEvent connected;
        connected.kind = LinkEvent::Kind::kConnected;
        connected.connection = connection;
        Push(connected);

        ReadConnection(connection);

        connected_.store(false);
        {
            std::lock_guard<std::mutex> streams(streamLock_);
            toDriver_.Interrupt();  // a send blocked on a full pipe returns
            std::lock_guard<std::mutex> send(sendLock_);
            fromDriver_.Close();
            toDriver_.Close();
        }
        LinkEvent ended;
        ended.kind = LinkEvent::Kind::kDisconnected;
        ended.connection = connection;
        Push(ended);
    }
}

void CompanionLink::ReadConnection(uint32_t connection) {
    wire::MessageReader reader;
    while (running_.load()) {
        if (reader.HasMessage()) {
            LinkEvent event;
            event.connection = connection;
            event.type = reader.type();
            event.length = reader.length();
            if (reader.type() == wire::kFrameInfo) {
                event.error =
                    wire::DecodeFrameInfo(reader.payload(), reader.length(), event.frameInfo);
                event.kind = LinkEvent::Kind::kFrameInfo;
            } else if (reader.type() == wire::kHapticPulse) {
                event.error =
                    wire::DecodeHapticPulse(reader.payload(), reader.length(), event.haptic);
                event.kind = LinkEvent::Kind::kHapticPulse;
            } else {
                event.kind = LinkEvent::Kind::kUnknownMessage;
            }
            if (event.error != wire::WireError::kNone) event.kind = LinkEvent::Kind::kBadMessage;
            Push(event);
            reader.Next();
            continue;
        }
        if (reader.state() == wire::MessageReader::State::kFailed) {
            LinkEvent event;
            event.kind = LinkEvent::Kind::kBadMessage;
            event.connection = connection;
            event.type = reader.header().type;
            event.length = reader.header().length;
            event.error = reader.error();
            Push(event);
            return;  // the stream cannot be realigned: end the connection
        }
        const size_t got = fromDriver_.ReadSome(reader.WriteCursor(), reader.BytesWanted());
        if (got == 0) return;
        reader.Commit(got);
    }
}

}  // namespace quillo::companion
