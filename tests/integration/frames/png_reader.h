// Reads back the PNG files the companion writes (8-bit RGBA, filter 0, zlib stored blocks),
// checking every chunk's CRC-32 and the Adler-32 of the image data, so a test can look at the
// picture the companion saved.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillo::test {

struct PngImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;  // rows of width * 4 bytes, top row first
};

// False with a reason in `error` for anything this reader does not understand or a file whose
// checksums do not match.
bool ReadStoredPng(const std::string& bytes, PngImage& out, std::string& error);

}  // namespace quillo::test
