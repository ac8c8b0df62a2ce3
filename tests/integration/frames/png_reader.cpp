#include "png_reader.h"

#include <climits>
#include <memory>

// The one translation unit of the tests that holds stb_image's code.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

namespace quillo::test {

bool ReadPng(const std::string& bytes, PngImage& out, std::string& error) {
    if (bytes.empty() || bytes.size() > INT_MAX) {
        error = bytes.empty() ? "empty file" : "file too large";
        return false;
    }
    const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
    const int size = static_cast<int>(bytes.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(data, size, &width, &height, &channels)) {
        error = std::string("not a PNG: ") + stbi_failure_reason();
        return false;
    }
    if (channels != 4 || stbi_is_16_bit_from_memory(data, size)) {
        error = "not 8-bit RGBA (" + std::to_string(channels) + " channels)";
        return false;
    }
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load_from_memory(data, size, &width, &height, &channels, 4), stbi_image_free);
    if (pixels == nullptr) {
        error = std::string("cannot decode: ") + stbi_failure_reason();
        return false;
    }
    out.width = static_cast<uint32_t>(width);
    out.height = static_cast<uint32_t>(height);
    out.rgba.assign(pixels.get(), pixels.get() + static_cast<size_t>(width) * height * 4);
    return true;
}

}  // namespace quillo::test
