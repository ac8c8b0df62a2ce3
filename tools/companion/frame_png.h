// A minimal PNG writer for the frames the companion saves on request: 8-bit RGBA, no
// filtering, the image data in zlib "stored" (uncompressed) blocks. The files are large but
// every PNG reader accepts them, and the writer needs no compression library (none is
// available for every build of the companion).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo::companion {

// CRC-32 (ISO 3309, as PNG chunks use it) of `size` bytes, continuing from `crc` (start 0).
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
// Adler-32 (zlib trailer) of `size` bytes, continuing from `adler` (start 1).
uint32_t Adler32(const uint8_t* data, size_t size, uint32_t adler = 1);

// Encodes `height` rows of `width` RGBA8 pixels, rows `rowPitch` bytes apart, into `out`.
// Returns false for an empty image or one too large for PNG's 31-bit sizes.
bool EncodePng(const uint8_t* rgba, size_t rowPitch, uint32_t width, uint32_t height,
               std::vector<uint8_t>& out);
// Encodes and writes the file. False when encoding or writing fails.
bool WritePng(const std::string& path, const uint8_t* rgba, size_t rowPitch, uint32_t width,
              uint32_t height);

}  // namespace quillo::companion
