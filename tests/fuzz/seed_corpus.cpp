// Writes the seed corpora of the two fuzz targets from valid messages of every type the
// companion sends and every tracking kind, made by the real encoders:
//   fuzz_seed_corpus <bytes-dir> <stream-dir>
// <bytes-dir> gets framed byte streams (one file per message, and one with all of them);
// <stream-dir> the same messages in the stream target's entry format (stream_format.h).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/stream_format.h"
#include "link/controller_record.h"
#include "link/wire_format.h"

namespace {

using namespace quillo;

struct Seed {
    std::string name;
    std::vector<uint8_t> bytes;    // framed, for the bytes target
    std::vector<uint8_t> entries;  // in the stream target's format
};

// One seed per message, each made by the real encoders, and a last one with all of them.
std::vector<Seed> Seeds() {
    std::vector<Seed> seeds;
    Seed all{"all_messages", {}, {}};
    uint8_t payload[wire::kMaxPayloadLength] = {};
    auto add = [&](std::string name, uint32_t type, uint8_t op, uint8_t selector, size_t length) {
        Seed seed{std::move(name), std::vector<uint8_t>(wire::kHeaderSize + length), {}};
        wire::EncodeMessage(type, payload, static_cast<uint32_t>(length), seed.bytes.data(),
                            seed.bytes.size());
        fuzz::AppendEntry(seed.entries, op, selector, payload, static_cast<uint16_t>(length));
        all.bytes.insert(all.bytes.end(), seed.bytes.begin(), seed.bytes.end());
        all.entries.insert(all.entries.end(), seed.entries.begin(), seed.entries.end());
        seeds.push_back(std::move(seed));
    };
    // A rotation of about 40 degrees about (1, 2, 2) / 3 with a translation: every term non-zero.
    const float pose[12] = {0.8219f,  -0.3564f, 0.4445f,  0.12f,   0.4742f, 0.8615f,
                            -0.1813f, 1.62f,    -0.3183f, 0.3617f, 0.8763f, -0.35f};
    for (size_t k = 0; k < fuzz::kTrackingKindCount; ++k) {
        wire::TrackingUpdate u;
        u.wireKind = fuzz::kTrackingKinds[k];
        std::memcpy(u.matrix, pose, sizeof pose);
        const float q[4] = {0.17f, 0.34f, 0.34f, 0.86f};
        std::memcpy(u.quaternion, q, sizeof q);
        u.angles[0] = 0.3f, u.angles[1] = -1.1f, u.angles[2] = 0.6f;
        u.position[0] = 0.1f, u.position[1] = 1.7f, u.position[2] = -0.25f;
        u.inertial = {{0.02f, -0.4f, 0.1f}, {0.3f, -0.2f, 9.7f}, {21.0f, -4.0f, 38.0f}};
        u.status = 1;
        size_t written = 0;
        if (wire::EncodeTrackingPayload(u, payload, sizeof payload, written) !=
            wire::WireError::kNone) {
            std::fprintf(stderr, "tracking kind %d does not encode\n", u.wireKind);
            std::exit(1);
        }
        // The selector of the stream format that picks this kind.
        add("tracking_kind_" + std::to_string(u.wireKind), wire::kTrackingMessage,
            fuzz::kOpTracking, static_cast<uint8_t>(k), written);
    }
    add("recenter", wire::kRecenterMessage, fuzz::kOpRecenter, 0, 0);
    for (int32_t hz : {90, 144}) {
        wire::EncodeRefreshRate(hz, payload, wire::kRefreshRateSize);
        add("refresh_rate_" + std::to_string(hz), wire::kRefreshRateMessage, fuzz::kOpRefreshRate,
            0, wire::kRefreshRateSize);
    }
    for (uint32_t id : {1u, 2u}) {
        ControllerRecord record;
        record.controllerId = id;
        std::memcpy(record.pose, pose, sizeof pose);
        record.input.packetNum = 5;
        record.input.buttonPressed = 0x4;
        record.input.buttonTouched = 0x100000000ull;
        record.input.axis[0][0] = 0.5f, record.input.axis[1][1] = -0.25f;
        wire::EncodeControllerRecord(record, payload, wire::kControllerRecordSize);
        // Twice: the first record of an id makes the device, the second is applied.
        for (int twice = 0; twice < 2; ++twice) {
            add("controller_" + std::to_string(id) + "_" + std::to_string(twice),
                wire::kControllerMessage, fuzz::kOpController, 0, wire::kControllerRecordSize);
        }
    }
    add("shutdown_runtime", wire::kShutdownRuntimeMessage, fuzz::kOpSkipped, 0, 0);
    // Everything in one stream, fed one byte at a time in the stream format.
    fuzz::AppendEntry(all.entries, fuzz::kOpSplit, 1, nullptr, 0);
    seeds.push_back(std::move(all));
    return seeds;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <bytes-dir> <stream-dir>\n", argv[0]);
        return 2;
    }
    const std::vector<Seed> seeds = Seeds();
    for (const Seed& seed : seeds) {
        if (!WriteFile(std::string(argv[1]) + "/" + seed.name, seed.bytes) ||
            !WriteFile(std::string(argv[2]) + "/" + seed.name, seed.entries)) {
            std::fprintf(stderr, "cannot write seed %s\n", seed.name.c_str());
            return 1;
        }
    }
    std::printf("%zu seeds per corpus, and one with every message\n", seeds.size() - 1);
    return 0;
}
