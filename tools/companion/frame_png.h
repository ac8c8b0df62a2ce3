// Saves the frames the companion reads as PNG files: 8-bit RGBA, deflate-compressed by
// stb_image_write. The host's 2560x1440 test picture takes 152 KB (14.7 MB uncompressed); the
// encoder takes a second or more for such a frame, which is why FramePngWriter runs it on a
// thread of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo::companion {

// Encodes `height` rows of `width` RGBA8 pixels, rows `rowPitch` bytes apart, into `out`.
// Returns false for an empty image, rows shorter than `width` pixels, or an image too large
// for the encoder's int sizes.
bool EncodePng(const uint8_t* rgba, size_t rowPitch, uint32_t width, uint32_t height,
               std::vector<uint8_t>& out);
// Encodes and writes the file; it appears under `path` only once complete. False when encoding
// or writing fails.
bool WritePng(const std::string& path, const uint8_t* rgba, size_t rowPitch, uint32_t width,
              uint32_t height);

}  // namespace quillo::companion
