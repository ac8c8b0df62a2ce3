#include "png_reader.h"

#include <algorithm>

namespace quillo::test {

namespace {

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Bitwise CRC-32, independent of the writer's table.
uint32_t Crc(const uint8_t* data, size_t size) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        c ^= data[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

uint32_t Adler(const std::vector<uint8_t>& data) {
    uint32_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

}  // namespace

bool ReadStoredPng(const std::string& bytes, PngImage& out, std::string& error) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t size = bytes.size();
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 || !std::equal(kSignature, kSignature + 8, p)) {
        error = "no PNG signature";
        return false;
    }
    std::vector<uint8_t> zlib;
    bool haveHeader = false, ended = false;
    for (size_t at = 8; at < size && !ended;) {
        if (size - at < 12) {
            error = "truncated chunk";
            return false;
        }
        const uint32_t length = BigEndian32(p + at);
        if (length > size - at - 12) {
            error = "chunk longer than the file";
            return false;
        }
        const std::string type(reinterpret_cast<const char*>(p + at + 4), 4);
        const uint8_t* data = p + at + 8;
        if (Crc(p + at + 4, length + 4) != BigEndian32(data + length)) {
            error = "CRC mismatch in " + type;
            return false;
        }
        if (type == "IHDR") {
            if (length != 13 || data[8] != 8 || data[9] != 6 || data[10] != 0 || data[11] != 0 ||
                data[12] != 0) {
                error = "not 8-bit RGBA without interlace";
                return false;
            }
            out.width = BigEndian32(data);
            out.height = BigEndian32(data + 4);
            haveHeader = true;
        } else if (type == "IDAT") {
            zlib.insert(zlib.end(), data, data + length);
        } else if (type == "IEND") {
            ended = true;
        }
        at += 12 + length;
    }
    if (!haveHeader || !ended || zlib.size() < 6) {
        error = "missing IHDR, IDAT or IEND";
        return false;
    }
    if (((zlib[0] << 8) | zlib[1]) % 31 != 0 || (zlib[0] & 0x0F) != 8) {
        error = "bad zlib header";
        return false;
    }
    std::vector<uint8_t> raw;
    size_t at = 2;
    for (bool last = false; !last;) {
        if (zlib.size() - at < 5) {
            error = "truncated stored block";
            return false;
        }
        last = (zlib[at] & 1) != 0;
        if ((zlib[at] >> 1) != 0) {
            error = "not a stored block";
            return false;
        }
        const uint32_t length = zlib[at + 1] | (zlib[at + 2] << 8);
        const uint32_t check = zlib[at + 3] | (zlib[at + 4] << 8);
        if ((length ^ 0xFFFFu) != check || zlib.size() - at - 5 < length) {
            error = "bad stored block length";
            return false;
        }
        raw.insert(raw.end(), zlib.begin() + at + 5, zlib.begin() + at + 5 + length);
        at += 5 + length;
    }
    if (zlib.size() - at != 4 || Adler(raw) != BigEndian32(zlib.data() + at)) {
        error = "Adler-32 mismatch";
        return false;
    }
    const size_t rowBytes = static_cast<size_t>(out.width) * 4;
    if (raw.size() != (rowBytes + 1) * out.height) {
        error = "image data of the wrong size";
        return false;
    }
    out.rgba.clear();
    out.rgba.reserve(rowBytes * out.height);
    for (uint32_t y = 0; y < out.height; ++y) {
        const uint8_t* row = raw.data() + y * (rowBytes + 1);
        if (row[0] != 0) {
            error = "a row with a filter";
            return false;
        }
        out.rgba.insert(out.rgba.end(), row + 1, row + 1 + rowBytes);
    }
    return true;
}

}  // namespace quillo::test
