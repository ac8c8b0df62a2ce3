#include "frame_png.h"

#include <climits>
#include <cstdio>

#include <stb/stb_image_write.h>

namespace quillo::companion {

namespace {

void AppendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

bool EncodePng(const uint8_t* rgba, size_t rowPitch, uint32_t width, uint32_t height,
               std::vector<uint8_t>& out) {
    out.clear();
    if (rgba == nullptr || width == 0 || height == 0 || rowPitch < static_cast<size_t>(width) * 4) {
        return false;
    }
    // The encoder keeps sizes and its filtered copy of the image in int.
    if (static_cast<uint64_t>(rowPitch) * height >= static_cast<uint64_t>(INT_MAX) / 2) {
        return false;
    }
    return stbi_write_png_to_func(AppendBytes, &out, static_cast<int>(width),
                                  static_cast<int>(height), 4, rgba,
                                  static_cast<int>(rowPitch)) != 0 &&
           !out.empty();
}

bool WritePng(const std::string& path, const uint8_t* rgba, size_t rowPitch, uint32_t width,
              uint32_t height) {
    std::vector<uint8_t> png;
    if (!EncodePng(rgba, rowPitch, width, height, png)) return false;
    // Written next to the target and renamed over it, so that a viewer (or a test) watching
    // the folder never opens half a file.
    const std::string partial = path + ".partial";
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) return false;
    bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    written = std::fclose(file) == 0 && written;
    if (written) {
        std::remove(path.c_str());  // rename does not replace a file on Windows
        written = std::rename(partial.c_str(), path.c_str()) == 0;
    }
    if (!written) std::remove(partial.c_str());
    return written;
}

}  // namespace quillo::companion
