// Reads back the PNG files the companion writes, with stb_image: a decoder that shares no code
// with the writer, so a test sees the picture any image viewer would show.
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

// False with a reason in `error` for bytes that are no PNG, one that does not decode, or one not
// RGBA with 8 bits a channel (what the companion writes).
bool ReadPng(const std::string& bytes, PngImage& out, std::string& error);

}  // namespace quillo::test
