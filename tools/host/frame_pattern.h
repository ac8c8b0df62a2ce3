// The moving test picture the host draws into every eye of every frame, and how the companion
// (and the tests) check it. Header-only so that the host, the companion and the tests share
// one definition without sharing a library.
//
// Every channel value is 0 or 255, so the picture passes the compositor's eye pass unchanged:
// c^(1/2.2) keeps 0 and 1, and sampling at texel centres of an eye texture the size of its
// viewport blends nothing. A copy (virtual display) keeps it byte for byte anyway.
//
// Layout of one eye, `width` x `height` pixels:
// - Stamp strip: the top `block` rows, from x = 0: kStampBits bits, each a block x block square,
//   white for 1 and black for 0, least significant bit first: magic (8 bits, kStampMagic),
//   eye (8 bits, 0 left, 1 right), sequence (32 bits, the host's frame number) and the host's
//   counter time in microseconds when it started drawing the frame (64 bits).
// - Body: every other pixel, a checkerboard of 16-pixel squares that moves 3 pixels to the left per
//   frame, in two colours per eye (left: red on green, right: blue on magenta).
// The host shows a 3D scene in the body instead (scene_renderer.h) and keeps the checkerboard
// only in two check bands, the top and the bottom kCheckBandRows rows: a frame whose bottom
// band belongs to another frame than its stamp is torn. CountCheckBandMismatches checks
// either picture.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillo::frames {

constexpr uint8_t kStampMagic = 0xA5;
constexpr uint32_t kStampBits = 8 + 8 + 32 + 64;
constexpr uint32_t kMaxBlock = 4;
constexpr uint32_t kStripeWidth = 16;
constexpr uint32_t kStripeSpeed = 3;
constexpr uint32_t kCheckBandRows = 8;

struct FrameStamp {
    uint8_t eye = 0;
    uint32_t sequence = 0;
    uint64_t micros = 0;
};

// Side of one stamp bit in pixels: 4 where the eye is wide enough, smaller for narrow eyes, 0
// when the stamp does not fit at all.
inline uint32_t StampBlock(uint32_t width, uint32_t height) {
    uint32_t block = width / kStampBits;
    if (block > kMaxBlock) block = kMaxBlock;
    if (block > height) block = height;
    return block;
}

inline bool InStamp(uint32_t x, uint32_t y, uint32_t block) {
    return y < block && x < kStampBits * block;
}

// The body colour of pixel (x, y) of `eye` in frame `sequence`.
inline void BodyColour(uint8_t eye, uint32_t sequence, uint32_t x, uint32_t y, uint8_t rgba[4]) {
    const uint32_t shifted = x + kStripeSpeed * sequence;
    const bool on = (((shifted / kStripeWidth) + (y / kStripeWidth)) & 1u) != 0;
    if (eye == 0) {
        rgba[0] = on ? 255 : 0;
        rgba[1] = on ? 0 : 255;
        rgba[2] = 0;
    } else {
        rgba[0] = on ? 0 : 255;
        rgba[1] = 0;
        rgba[2] = 255;
    }
    rgba[3] = 255;
}

inline bool StampBit(const FrameStamp& stamp, uint32_t bit) {
    if (bit < 8) return ((kStampMagic >> bit) & 1u) != 0;
    if (bit < 16) return ((stamp.eye >> (bit - 8)) & 1u) != 0;
    if (bit < 48) return ((stamp.sequence >> (bit - 16)) & 1u) != 0;
    return ((stamp.micros >> (bit - 48)) & 1u) != 0;
}

// Draws the stamp, and the pattern on the rows `bodyRow` accepts, into tightly packed RGBA8
// rows `rowPitch` bytes apart; `pixels` is the eye's top-left pixel. Other pixels are kept.
template <typename BodyRow>
inline void DrawStampAndPattern(uint8_t* pixels, size_t rowPitch, uint32_t width, uint32_t height,
                                const FrameStamp& stamp, BodyRow bodyRow) {
    const uint32_t block = StampBlock(width, height);
    for (uint32_t y = 0; y < height; ++y) {
        const bool body = bodyRow(y);
        if (!body && y >= block) continue;
        uint8_t* row = pixels + y * rowPitch;
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = row + 4 * static_cast<size_t>(x);
            if (InStamp(x, y, block)) {
                const uint8_t v = StampBit(stamp, x / block) ? 255 : 0;
                p[0] = p[1] = p[2] = v;
                p[3] = 255;
            } else if (body) {
                BodyColour(stamp.eye, stamp.sequence, x, y, p);
            }
        }
    }
}

// The whole test picture of one eye: stamp and pattern everywhere.
inline void DrawEye(uint8_t* pixels, size_t rowPitch, uint32_t width, uint32_t height,
                    const FrameStamp& stamp) {
    DrawStampAndPattern(pixels, rowPitch, width, height, stamp, [](uint32_t) { return true; });
}

// Reads the stamp of one eye (bits sampled at their blocks' centres, threshold half way).
// False when the eye is too small for a stamp or the magic does not match.
inline bool ReadStamp(const uint8_t* pixels, size_t rowPitch, uint32_t width, uint32_t height,
                      FrameStamp& out) {
    const uint32_t block = StampBlock(width, height);
    if (block == 0) return false;
    uint64_t bits[2] = {0, 0};
    const uint8_t* row = pixels + (block / 2) * rowPitch;
    for (uint32_t bit = 0; bit < kStampBits; ++bit) {
        const uint8_t* p = row + 4 * static_cast<size_t>(bit * block + block / 2);
        if (p[0] >= 128) bits[bit / 64] |= uint64_t{1} << (bit % 64);
    }
    if ((bits[0] & 0xFF) != kStampMagic) return false;
    out.eye = static_cast<uint8_t>(bits[0] >> 8);
    out.sequence = static_cast<uint32_t>(bits[0] >> 16);
    out.micros = (bits[0] >> 48) | (bits[1] << 16);
    return true;
}

// Mismatches against the picture of (`eye`, `sequence`) on every `step`-th pixel of the rows
// `rowWanted` accepts (every `rowStep`-th), allowing `tolerance` per colour channel (alpha is
// not compared: the eye pass makes it 1, a copy keeps the host's). The stamp is skipped.
template <typename RowWanted>
inline uint32_t CountMismatchesInRows(const uint8_t* pixels, size_t rowPitch, uint32_t width,
                                      uint32_t height, uint8_t eye, uint32_t sequence,
                                      uint32_t rowStep, uint32_t step, int tolerance,
                                      RowWanted rowWanted) {
    const uint32_t block = StampBlock(width, height);
    uint32_t mismatches = 0;
    for (uint32_t y = 0; y < height; y += rowStep) {
        if (!rowWanted(y)) continue;
        const uint8_t* row = pixels + y * rowPitch;
        for (uint32_t x = 0; x < width; x += step) {
            if (InStamp(x, y, block)) continue;
            uint8_t expected[4];
            BodyColour(eye, sequence, x, y, expected);
            const uint8_t* p = row + 4 * static_cast<size_t>(x);
            for (int c = 0; c < 3; ++c) {
                const int difference = static_cast<int>(p[c]) - static_cast<int>(expected[c]);
                if (difference > tolerance || difference < -tolerance) {
                    ++mismatches;
                    break;
                }
            }
        }
    }
    return mismatches;
}

// The whole body of one eye, every `step`-th pixel of every `step`-th row.
inline uint32_t CountBodyMismatches(const uint8_t* pixels, size_t rowPitch, uint32_t width,
                                    uint32_t height, uint8_t eye, uint32_t sequence,
                                    uint32_t step = 7, int tolerance = 8) {
    return CountMismatchesInRows(pixels, rowPitch, width, height, eye, sequence, step, step,
                                 tolerance, [](uint32_t) { return true; });
}

inline bool InCheckBand(uint32_t y, uint32_t height) {
    return y < kCheckBandRows || y + kCheckBandRows >= height;
}

// The stamp and the check bands over a picture already in the eye (the host's scene).
inline void DrawFrameMarks(uint8_t* pixels, size_t rowPitch, uint32_t width, uint32_t height,
                           const FrameStamp& stamp) {
    DrawStampAndPattern(pixels, rowPitch, width, height, stamp,
                        [height](uint32_t y) { return InCheckBand(y, height); });
}

// Only the check bands (every row of them, every `step`-th pixel): what stays of the pattern
// around the host's scene.
inline uint32_t CountCheckBandMismatches(const uint8_t* pixels, size_t rowPitch, uint32_t width,
                                         uint32_t height, uint8_t eye, uint32_t sequence,
                                         uint32_t step = 7, int tolerance = 8) {
    return CountMismatchesInRows(pixels, rowPitch, width, height, eye, sequence, 1, step, tolerance,
                                 [height](uint32_t y) { return InCheckBand(y, height); });
}

}  // namespace quillo::frames

namespace quillo::frames {

// Counter ticks as microseconds, without the rounding a double would bring for large counts.
inline uint64_t CounterMicros(int64_t counter, int64_t frequency) {
    if (frequency <= 0 || counter < 0) return 0;
    const uint64_t c = static_cast<uint64_t>(counter);
    const uint64_t f = static_cast<uint64_t>(frequency);
    return (c / f) * 1000000u + (c % f) * 1000000u / f;
}

}  // namespace quillo::frames
