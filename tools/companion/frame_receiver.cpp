#include "frame_receiver.h"

#include <chrono>
#include <cstdio>

#include "frame_png.h"
#include "gpu/dxgi_format.h"
#include "gpu/gpu_backend.h"
#include "host/frame_pattern.h"
#include "platform/clock.h"
#include "platform/environment.h"

namespace quillo::companion {

namespace {

// How long one acquire waits before the reader looks at its stop flag again.
constexpr uint32_t kAcquirePollMs = 50;
constexpr uint32_t kRgba8 = 28;

uint64_t NowMicros() {
    return frames::CounterMicros(platform::CounterNow(), platform::CounterFrequency());
}

std::string FrameFileName(uint32_t connection, uint32_t sequence) {
    char name[48];
    std::snprintf(name, sizeof name, "/frame_c%u_%08u.png", connection, sequence);
    return name;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

FrameReceiver::FrameReceiver(const FrameReceiverSettings& settings, CompanionOutput& output)
    : settings_(settings), output_(output) {
    // Made now rather than at the first FrameInfo: frames handed over while the reader is
    // still starting are lost to it.
    device_ = gpu::CreateGpuDevice();
}

FrameReceiver::~FrameReceiver() {
    StopReader();
}

void FrameReceiver::StopReader() {
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    if (reader_.joinable()) reader_.join();
    stopping_ = false;
}

bool FrameReceiver::PauseUnlessStopping(uint32_t ms) {
    std::unique_lock<std::mutex> lock(stopMutex_);
    return !stopSignal_.wait_for(lock, std::chrono::milliseconds(ms),
                                 [this] { return stopping_.load(); });
}

void FrameReceiver::OnFrameInfo(const wire::FrameInfo& info, uint32_t connection) {
    {
        std::lock_guard<std::mutex> lock(tallyMutex_);
        tally_.CountFrameInfo(connection);
    }
    // A FrameInfo names the textures of this connection; a reader of an earlier one stops
    // first (its textures are gone with the driver that made them).
    StopReader();
    if (!device_) {
        device_ = gpu::CreateGpuDevice();
        if (!device_) {
            output_.Event("frames: no GPU device to open the output textures", "", true);
            return;
        }
    }
    std::shared_ptr<gpu::Texture> textures[2];
    for (int i = 0; i < 2; ++i) {
        // Only the low 32 bits travel; shared handles fit in them.
        textures[i] = device_->OpenSharedTexture(info.outputHandleLow[i]);
        if (!textures[i] || !textures[i]->HasKeyedMutex()) {
            output_.Event("frames: cannot open output texture " + std::to_string(i) + " (handle " +
                              Hex(info.outputHandleLow[i]) + ") on the " + device_->BackendName() +
                              " device",
                          "", true);
            return;
        }
    }
    const gpu::TextureDesc desc = textures[0]->Describe();
    if (desc.format != kRgba8 || BytesPerTexel(desc.format) != 4) {
        output_.Event("frames: output texture format " + std::to_string(desc.format) +
                          " is not RGBA8; frames are not read",
                      "", true);
        return;
    }
    output_.Event("frames: reading " + std::to_string(desc.width) + "x" +
                      std::to_string(desc.height) + " output textures (connection " +
                      std::to_string(connection) + ", " + device_->BackendName() + " device)",
                  "", true);
    {
        std::lock_guard<std::mutex> lock(tallyMutex_);
        tally_.NewConnection();
    }
    reader_ = std::thread([this, t0 = textures[0], t1 = textures[1], connection]() mutable {
        std::shared_ptr<gpu::Texture> textures[2] = {std::move(t0), std::move(t1)};
        ReadFrames(textures, connection);
    });
}

void FrameReceiver::OnDisconnected(uint32_t) {
    StopReader();
    std::lock_guard<std::mutex> lock(tallyMutex_);
    tally_.CountDisconnect();
    // The statistics and pictures so far, so that they can be read while the companion waits
    // for the next driver.
    WriteStatsLocked();
    WriteRunPicturesLocked();
}

void FrameReceiver::WriteStatsLocked() {
    if (settings_.statsPath.empty()) return;
    // Written next to the target and renamed over it, so a reader never sees half a file.
    const std::string partial = settings_.statsPath + ".partial";
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    const std::string json = tally_.Json();
    bool written = file != nullptr && std::fwrite(json.data(), 1, json.size(), file) == json.size();
    if (file != nullptr) written = std::fclose(file) == 0 && written;
    if (written) {
        std::remove(settings_.statsPath.c_str());
        written = std::rename(partial.c_str(), settings_.statsPath.c_str()) == 0;
    }
    if (!written) output_.Event("frames: cannot write " + settings_.statsPath, "", true);
}

void FrameReceiver::ReadFrames(std::shared_ptr<gpu::Texture> textures[2], uint32_t connection) {
    const gpu::TextureDesc desc = textures[0]->Describe();
    const size_t rowPitch = static_cast<size_t>(desc.width) * 4;
    std::vector<uint8_t> pixels;
    pixels.reserve(rowPitch * desc.height);
    uint32_t framesThisConnection = 0;
    bool failing = false;
    // The first hand-over releases texture 0; from then on they alternate.
    int next = 0;
    while (!stopping_) {
        gpu::Texture& texture = *textures[next];
        const gpu::SyncResult acquired = texture.AcquireSync(0, kAcquirePollMs);
        if (acquired == gpu::SyncResult::Timeout) continue;
        if (acquired == gpu::SyncResult::Failed) {
            if (!failing) {
                output_.Event("frames: keyed mutex of output texture " + std::to_string(next) +
                                  " fails; retrying",
                              "", true);
                failing = true;
            }
            if (!PauseUnlessStopping(kAcquirePollMs)) break;
            continue;
        }
        if (failing) {
            output_.Event("frames: keyed mutex works again", "", true);
            failing = false;
        }
        if (acquired == gpu::SyncResult::Abandoned) {
            std::lock_guard<std::mutex> lock(tallyMutex_);
            tally_.CountAbandoned();
        }
        const uint64_t arrival = NowMicros();
        const bool read = device_->ReadTexture(texture, pixels);

        FrameVerdict verdict = FrameVerdict::kUnstamped;
        bool save = false;
        uint32_t sequence = 0;
        if (read && pixels.size() >= rowPitch * desc.height) {
            std::lock_guard<std::mutex> lock(tallyMutex_);
            verdict = tally_.Add(pixels.data(), rowPitch, desc.width, desc.height, next, arrival);
            if (verdict == FrameVerdict::kNew) {
                ++framesThisConnection;
                sequence = tally_.lastSequence();
                save = !settings_.pngDir.empty() && settings_.pngEvery != 0 &&
                       framesThisConnection % settings_.pngEvery == 0;
                if (!settings_.pngDir.empty() && settings_.pngEvery == 0 &&
                    framesThisConnection == 1) {
                    firstFrame_.assign(pixels.begin(), pixels.end());
                    firstFramePath_ = settings_.pngDir + FrameFileName(connection, sequence);
                    firstFrameWidth_ = desc.width;
                    firstFrameHeight_ = desc.height;
                }
                timing_.Add(sequence, tally_.lastStampMicros(), arrival, next);
                contactSheet_.Offer(tally_.frames() - 1, pixels.data(), rowPitch, desc.width,
                                    desc.height);
                latest_.swap(pixels);
                latestWidth_ = desc.width;
                latestHeight_ = desc.height;
                latestSequence_ = sequence;
                picturesCurrent_ = false;
                if (pixels.capacity() < rowPitch * desc.height) {
                    pixels.reserve(rowPitch * desc.height);
                }
            }
        }

        // Holding the texture on purpose: the driver waits for it at its next hand-over, so
        // the runtime's frames stop until it is released.
        HoldRecord hold;
        const bool holding = verdict == FrameVerdict::kNew && settings_.holdMs != 0 &&
                             framesThisConnection == settings_.holdAfterFrames;
        if (holding) {
            hold.heldMs = settings_.holdMs;
            hold.startMicros = NowMicros();
            PauseUnlessStopping(settings_.holdMs);
            hold.endMicros = NowMicros();
        }
        texture.ReleaseSync(0);
        if (holding) {
            std::lock_guard<std::mutex> lock(tallyMutex_);
            tally_.AddHold(hold);
            output_.Event("frames: held output texture " + std::to_string(next) + " for " +
                              std::to_string(settings_.holdMs) + " ms after frame " +
                              std::to_string(sequence),
                          "", true);
        }
        if (save) {
            std::lock_guard<std::mutex> lock(tallyMutex_);
            if (!pngWriter_.Queue(settings_.pngDir + FrameFileName(connection, sequence),
                                  latest_.data(), latestWidth_, latestHeight_)) {
                ++pngDropped_;
            }
        }
        if (verdict == FrameVerdict::kRepeat || verdict == FrameVerdict::kBlank) {
            // The texture was taken in the moment between the driver releasing the other one
            // and taking this one (a scheduler can run the woken reader first), or before the
            // driver ever drew into it. The driver draws into this texture next, so wait for
            // it again, after giving the driver a moment to take it.
            if (!PauseUnlessStopping(1)) break;
            continue;
        }
        next ^= 1;
        // The release can wake this thread on the core the driver's thread is on, in the
        // moment between the driver releasing this texture and taking the other one; waiting
        // for the other at once would then find it before the driver does, and read an old
        // frame in full. The next frame is most of a frame interval away: step aside first.
        if (verdict == FrameVerdict::kNew && !PauseUnlessStopping(1)) break;
    }
}

bool FrameReceiver::SaveLatestFrame(const std::string& path) {
    std::vector<uint8_t> copy;
    uint32_t width = 0, height = 0;
    {
        std::lock_guard<std::mutex> lock(tallyMutex_);
        if (latest_.empty()) return false;
        copy = latest_;
        width = latestWidth_;
        height = latestHeight_;
    }
    return WritePng(path, copy.data(), static_cast<size_t>(width) * 4, width, height);
}

void FrameReceiver::Tick() {
    const uint64_t now = NowMicros();
    if (lastStatusMicros_ == 0) lastStatusMicros_ = now;
    if (now - lastStatusMicros_ < 1000000) return;
    std::lock_guard<std::mutex> lock(tallyMutex_);
    const TimingWindow window = timing_.TakeWindow();
    const double seconds = static_cast<double>(now - lastStatusMicros_) / 1e6;
    lastStatusMicros_ = now;
    if (window.frames == 0) return;
    char text[192];
    std::snprintf(text, sizeof text,
                  "frames: live %.1f fps, latency p50 %.1f ms p99 %.1f ms, missing %llu, "
                  "repeated %llu, %llu frames",
                  static_cast<double>(window.frames) / seconds, window.latencyP50Ms,
                  window.latencyP99Ms, static_cast<unsigned long long>(tally_.missing()),
                  static_cast<unsigned long long>(tally_.repeats()),
                  static_cast<unsigned long long>(tally_.frames()));
    output_.Event(text, "", true);
}

void FrameReceiver::WriteRunPicturesLocked() {
    if (!firstFrame_.empty()) {
        const uint32_t width = firstFrameWidth_, height = firstFrameHeight_;
        if (!WritePng(firstFramePath_, firstFrame_.data(), static_cast<size_t>(width) * 4, width,
                      height)) {
            output_.Event("frames: cannot write " + firstFramePath_, "", true);
        }
        firstFrame_.clear();
    }
    if (settings_.pngDir.empty() || latest_.empty() || picturesCurrent_) return;
    picturesCurrent_ = true;
    const std::string lastFrame = settings_.pngDir + "/last_frame.png";
    const std::string sheet = settings_.pngDir + "/contact_sheet.png";
    const std::string csv = settings_.pngDir + "/frame_timing.csv";
    std::string error;
    if (WritePng(lastFrame, latest_.data(), static_cast<size_t>(latestWidth_) * 4, latestWidth_,
                 latestHeight_)) {
        output_.Event(
            "frames: last frame (" + std::to_string(latestSequence_) + ") in " + lastFrame, "",
            true);
    } else {
        output_.Event("frames: cannot write " + lastFrame, "", true);
    }
    if (contactSheet_.Write(sheet, error)) {
        output_.Event("frames: contact sheet of " + std::to_string(contactSheet_.count()) +
                          " frames in " + sheet,
                      "", true);
    } else {
        output_.Event("frames: " + error, "", true);
    }
    if (timing_.WriteCsv(csv, error)) {
        output_.Event("frames: timing of " + std::to_string(timing_.size()) + " frames in " + csv,
                      "", true);
    } else {
        output_.Event("frames: " + error, "", true);
    }
}

std::string FrameReceiver::StatusText() {
    std::lock_guard<std::mutex> lock(tallyMutex_);
    return "frames " + std::to_string(tally_.frames());
}

void FrameReceiver::Finish() {
    StopReader();
    std::lock_guard<std::mutex> lock(tallyMutex_);
    if (finished_) return;
    finished_ = true;
    const uint32_t pngFailures = pngWriter_.Flush();
    output_.Event("frames: " + tally_.Summary(), "", true);
    if (pngFailures != 0 || pngDropped_ != 0) {
        output_.Event("frames: " + std::to_string(pngFailures) +
                          " PNG files could not be written, " + std::to_string(pngDropped_) +
                          " skipped while the writer was busy",
                      "", true);
    }
    WriteStatsLocked();
    WriteRunPicturesLocked();
    device_.reset();
}

namespace {

// QUILLO_COMPANION_HOLD_TEXTURE="<n>:<ms>": after the n-th frame of a connection, keep that
// texture for <ms> milliseconds. A hook for the tests that show the runtime stalling while the
// companion keeps a texture, like QUILLO_PIPE_SUFFIX; nothing else sets it.
bool ReadHoldSetting(FrameReceiverSettings& settings, std::string& error) {
    std::string text;
    if (!platform::ReadEnvironmentVariable("QUILLO_COMPANION_HOLD_TEXTURE", text)) return true;
    unsigned frames = 0, ms = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%u:%u%c", &frames, &ms, &end) != 2 || frames == 0 ||
        ms > 600000) {
        error =
            "QUILLO_COMPANION_HOLD_TEXTURE must be <frames>:<milliseconds>, not \"" + text + "\"";
        return false;
    }
    settings.holdAfterFrames = frames;
    settings.holdMs = ms;
    return true;
}

}  // namespace

std::unique_ptr<FrameSide> MakeFrameReceiver(const CompanionOptions& options,
                                             CompanionOutput& output) {
    FrameReceiverSettings settings;
    settings.pngDir = options.pngDir;
    settings.pngEvery = options.pngEvery;
    settings.statsPath = options.frameStatsPath;
    std::string error;
    if (!ReadHoldSetting(settings, error)) {
        output.Event("frames: " + error, "", true);
        return nullptr;
    }
    return std::make_unique<FrameReceiver>(settings, output);
}

}  // namespace quillo::companion
