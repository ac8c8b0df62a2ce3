#include "contact_sheet.h"

#include <algorithm>
#include <cstring>

#include <stb/stb_image_write.h>

namespace quillo::companion {

namespace {

constexpr uint32_t kCells = ContactSheet::kColumns * ContactSheet::kRows;
constexpr uint8_t kBackground = 24;

}  // namespace

void ContactSheet::Offer(uint64_t index, const uint8_t* pixels, size_t rowPitch, uint32_t width,
                         uint32_t height) {
    if (width == 0 || height == 0) return;
    if (thumbs_.empty() || width != sourceWidth_ || height != sourceHeight_) {
        // The first frame, or a new frame size (another driver): start over.
        sourceWidth_ = width;
        sourceHeight_ = height;
        thumbWidth_ = std::min(kThumbWidth, width);
        thumbHeight_ = std::max<uint32_t>(
            1, static_cast<uint32_t>(static_cast<uint64_t>(height) * thumbWidth_ / width));
        thumbs_.assign(static_cast<size_t>(thumbWidth_) * thumbHeight_ * 4 * kCells, 0);
        step_ = 1;
        count_ = 0;
    }
    if (index % step_ != 0) return;
    const size_t thumbBytes = static_cast<size_t>(thumbWidth_) * thumbHeight_ * 4;
    if (count_ == kCells) {
        // Full: keep every other one and take frames half as often.
        for (size_t i = 1; i < kCells / 2; ++i) {
            std::memcpy(thumbs_.data() + i * thumbBytes, thumbs_.data() + 2 * i * thumbBytes,
                        thumbBytes);
        }
        count_ = kCells / 2;
        step_ *= 2;
        if (index % step_ != 0) return;
    }
    // Nearest pixel to each thumbnail pixel's centre: enough for a picture to look at.
    uint8_t* thumb = thumbs_.data() + count_ * thumbBytes;
    for (uint32_t y = 0; y < thumbHeight_; ++y) {
        const uint32_t sy = static_cast<uint32_t>((2ull * y + 1) * height / (2ull * thumbHeight_));
        const uint8_t* row = pixels + sy * rowPitch;
        uint8_t* out = thumb + static_cast<size_t>(y) * thumbWidth_ * 4;
        for (uint32_t x = 0; x < thumbWidth_; ++x) {
            const uint32_t sx =
                static_cast<uint32_t>((2ull * x + 1) * width / (2ull * thumbWidth_));
            std::memcpy(out + 4 * static_cast<size_t>(x), row + 4 * static_cast<size_t>(sx), 3);
            out[4 * static_cast<size_t>(x) + 3] = 255;
        }
    }
    ++count_;
}

bool ContactSheet::Write(const std::string& path, std::string& error) const {
    if (count_ == 0) {
        error = "no frames for a contact sheet";
        return false;
    }
    const uint32_t columns = std::min<uint32_t>(kColumns, static_cast<uint32_t>(count_));
    const uint32_t rows = static_cast<uint32_t>((count_ + kColumns - 1) / kColumns);
    const uint32_t width = kGap + columns * (thumbWidth_ + kGap);
    const uint32_t height = kGap + rows * (thumbHeight_ + kGap);
    std::vector<uint8_t> sheet(static_cast<size_t>(width) * height * 4, kBackground);
    for (size_t i = 3; i < sheet.size(); i += 4) sheet[i] = 255;
    const size_t thumbBytes = static_cast<size_t>(thumbWidth_) * thumbHeight_ * 4;
    for (size_t i = 0; i < count_; ++i) {
        const uint32_t left = kGap + static_cast<uint32_t>(i % kColumns) * (thumbWidth_ + kGap);
        const uint32_t top = kGap + static_cast<uint32_t>(i / kColumns) * (thumbHeight_ + kGap);
        for (uint32_t y = 0; y < thumbHeight_; ++y) {
            std::memcpy(sheet.data() + ((static_cast<size_t>(top) + y) * width + left) * 4,
                        thumbs_.data() + i * thumbBytes + static_cast<size_t>(y) * thumbWidth_ * 4,
                        static_cast<size_t>(thumbWidth_) * 4);
        }
    }
    if (stbi_write_png(path.c_str(), static_cast<int>(width), static_cast<int>(height), 4,
                       sheet.data(), static_cast<int>(width * 4)) == 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace quillo::companion
