#include "frame_png.h"

#include <cstdio>

namespace quillo::companion {

namespace {

// The largest stored block zlib allows.
constexpr size_t kMaxStoredBlock = 65535;

struct CrcTable {
    uint32_t entries[256];
    CrcTable() {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
    }
};

void PutU32BigEndian(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size) {
    PutU32BigEndian(out, static_cast<uint32_t>(size));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (size != 0) out.insert(out.end(), data, data + size);
    PutU32BigEndian(out, Crc32(out.data() + typeAt, size + 4));
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static const CrcTable table;
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) c = table.entries[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler) {
    uint32_t a = adler & 0xFFFFu;
    uint32_t b = adler >> 16;
    for (size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

bool EncodePng(const uint8_t* rgba, size_t rowPitch, uint32_t width, uint32_t height,
               std::vector<uint8_t>& out) {
    out.clear();
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu / 4 || height > 0x7FFFFFFFu) {
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(width) * 4 + 1;  // filter byte + pixels
    const size_t raw = rowBytes * height;

    // The filtered image: each row starts with filter type 0 (none).
    std::vector<uint8_t> scanlines(raw);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = scanlines.data() + y * rowBytes;
        row[0] = 0;
        const uint8_t* source = rgba + y * rowPitch;
        for (size_t i = 0; i < static_cast<size_t>(width) * 4; ++i) row[1 + i] = source[i];
    }

    // zlib stream: header 0x78 0x01 (deflate, 32 KiB window, no dictionary, check bits valid),
    // stored blocks of at most 65535 bytes, Adler-32 of the uncompressed data.
    std::vector<uint8_t> zlib;
    const size_t blocks = (raw + kMaxStoredBlock - 1) / kMaxStoredBlock;
    zlib.reserve(2 + raw + blocks * 5 + 4);
    zlib.push_back(0x78);
    zlib.push_back(0x01);
    for (size_t offset = 0; offset < raw; offset += kMaxStoredBlock) {
        const size_t length = raw - offset < kMaxStoredBlock ? raw - offset : kMaxStoredBlock;
        const bool last = offset + length == raw;
        zlib.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
        zlib.push_back(static_cast<uint8_t>(length));
        zlib.push_back(static_cast<uint8_t>(length >> 8));
        zlib.push_back(static_cast<uint8_t>(~length));
        zlib.push_back(static_cast<uint8_t>(~length >> 8));
        zlib.insert(zlib.end(), scanlines.begin() + offset, scanlines.begin() + offset + length);
    }
    PutU32BigEndian(zlib, Adler32(scanlines.data(), raw));

    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out.assign(kSignature, kSignature + 8);
    uint8_t header[13];
    header[0] = static_cast<uint8_t>(width >> 24);
    header[1] = static_cast<uint8_t>(width >> 16);
    header[2] = static_cast<uint8_t>(width >> 8);
    header[3] = static_cast<uint8_t>(width);
    header[4] = static_cast<uint8_t>(height >> 24);
    header[5] = static_cast<uint8_t>(height >> 16);
    header[6] = static_cast<uint8_t>(height >> 8);
    header[7] = static_cast<uint8_t>(height);
    header[8] = 8;   // bit depth
    header[9] = 6;   // colour type: RGBA
    header[10] = 0;  // deflate
    header[11] = 0;  // adaptive filtering
    header[12] = 0;  // no interlace
    PutChunk(out, "IHDR", header, sizeof header);
    PutChunk(out, "IDAT", zlib.data(), zlib.size());
    PutChunk(out, "IEND", nullptr, 0);
    return true;
}

bool WritePng(const std::string& path, const uint8_t* rgba, size_t rowPitch, uint32_t width,
              uint32_t height) {
    std::vector<uint8_t> png;
    if (!EncodePng(rgba, rowPitch, width, height, png)) return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

}  // namespace quillo::companion
