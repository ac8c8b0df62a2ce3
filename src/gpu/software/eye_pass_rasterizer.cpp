#include "gpu/software/eye_pass_rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "gpu/software/gamma_encoder.h"
#include "gpu/software/texel_format.h"

namespace quillo::gpu::software {

namespace {

// First pixel whose centre is at or after `edge`.
int FirstPixelFrom(float edge) {
    return static_cast<int>(std::ceil(edge - 0.5f));
}

float Lerp(float a, float b, float t) {
    return a + (b - a) * t;
}

}  // namespace

void EyePassRasterizer::ComputeTaps(std::vector<Tap>& taps, int begin, int end, float viewportStart,
                                    float viewportSize, float boundsMin, float boundsMax,
                                    bool invert, uint32_t textureSize) {
    taps.resize(static_cast<size_t>(end - begin));  // grows only for a larger viewport
    const float span = boundsMax - boundsMin;
    for (int pixel = begin; pixel < end; ++pixel) {
        const float along = (static_cast<float>(pixel) + 0.5f - viewportStart) / viewportSize;
        float coordinate = span * along + boundsMin;
        if (invert) coordinate = 1.0f - coordinate;
        // Texel space, centres on integers, then 8 fractional bits.
        const float scaled = (coordinate * static_cast<float>(textureSize) - 0.5f) * 256.0f;
        int64_t fixed = 0;
        if (std::fabs(scaled) < 1.0e15f) fixed = static_cast<int64_t>(std::floor(scaled + 0.5f));
        int64_t index = fixed >> 8;  // floor division
        const uint32_t fraction = static_cast<uint32_t>(fixed & 255);
        index %= static_cast<int64_t>(textureSize);
        if (index < 0) index += textureSize;
        Tap& tap = taps[static_cast<size_t>(pixel - begin)];
        tap.first = static_cast<uint32_t>(index);
        tap.second = tap.first + 1 == textureSize ? 0 : tap.first + 1;
        tap.weight = static_cast<float>(fraction) / 256.0f;
    }
}

void EyePassRasterizer::Draw(const SoftwareTexture& target, uint32_t targetFormat,
                             const Viewport& viewport, const SoftwareTexture* source,
                             uint32_t sourceFormat, const TextureBounds& bounds, int32_t invertY) {
    if (!(viewport.width > 0.0f) || !(viewport.height > 0.0f)) return;
    const TextureDesc targetDesc = target.Describe();
    const int x0 = std::max(FirstPixelFrom(viewport.topLeftX), 0);
    const int x1 = std::min(FirstPixelFrom(viewport.topLeftX + viewport.width),
                            static_cast<int>(targetDesc.width));
    const int y0 = std::max(FirstPixelFrom(viewport.topLeftY), 0);
    const int y1 = std::min(FirstPixelFrom(viewport.topLeftY + viewport.height),
                            static_cast<int>(targetDesc.height));
    if (x0 >= x1 || y0 >= y1) return;

    if (source == nullptr) {
        FillBlack(target, targetFormat, x0, x1, y0, y1);
        return;
    }
    const TextureDesc sourceDesc = source->Describe();
    ComputeTaps(columns_, x0, x1, viewport.topLeftX, viewport.width, bounds.uMin, bounds.uMax,
                false, sourceDesc.width);
    ComputeTaps(rows_, y0, y1, viewport.topLeftY, viewport.height, bounds.vMin, bounds.vMax,
                invertY > 0, sourceDesc.height);
    if (IsEightBitFormat(sourceFormat) && IsEightBitFormat(targetFormat) &&
        !IsSrgbFormat(targetFormat) && GammaToUnorm8::Instance().singleStep()) {
        DrawEightBit(target, targetFormat, x0, x1, y0, y1, *source, sourceFormat);
    } else {
        DrawGeneric(target, targetFormat, x0, x1, y0, y1, *source, sourceFormat);
    }
}

// The common case: 8-bit source (UNORM or sRGB, RGBA or BGRA order) into an 8-bit UNORM target.
// Each target row blends its two source rows once per used source column, then every pixel
// blends two of those.
void EyePassRasterizer::DrawEightBit(const SoftwareTexture& target, uint32_t targetFormat, int x0,
                                     int x1, int y0, int y1, const SoftwareTexture& source,
                                     uint32_t sourceFormat) {
    const uint32_t sourceWidth = source.Describe().width;
    const int width = x1 - x0;

    // Which source columns the taps use, and where each lands in the filtered row.
    slotOfColumn_.assign(sourceWidth, -1);
    usedColumns_.clear();
    columnSlots_.resize(static_cast<size_t>(width) * 2);
    auto slotOf = [&](uint32_t column) {
        int32_t& slot = slotOfColumn_[column];
        if (slot < 0) {
            slot = static_cast<int32_t>(usedColumns_.size());
            usedColumns_.push_back(column);  // capacity kept from earlier draws
        }
        return static_cast<uint32_t>(slot);
    };
    for (int i = 0; i < width; ++i) {
        columnSlots_[2 * i] = slotOf(columns_[static_cast<size_t>(i)].first);
        columnSlots_[2 * i + 1] = slotOf(columns_[static_cast<size_t>(i)].second);
    }
    filteredRow_.resize(usedColumns_.size() * 3);

    const float* decode = EightBitDecodeTable(IsSrgbFormat(sourceFormat));
    const uint8_t* buckets = GammaToUnorm8::Instance().buckets();
    const float* thresholds = GammaToUnorm8::Instance().thresholds();
    // Byte positions of red and blue in a source texel; bit shifts of them in a target texel.
    const int sr = IsRgbaOrder(sourceFormat) ? 0 : 2, sb = 2 - sr;
    const int redShift = IsRgbaOrder(targetFormat) ? 0 : 16, blueShift = 16 - redShift;
    const Tap* columns = columns_.data();
    const uint32_t* slots = columnSlots_.data();
    const uint32_t* used = usedColumns_.data();
    const size_t usedCount = usedColumns_.size();
    float* filtered = filteredRow_.data();

    for (int y = y0; y < y1; ++y) {
        const Tap& row = rows_[static_cast<size_t>(y - y0)];
        const uint8_t* upper = source.Row(row.first);
        const uint8_t* lower = source.Row(row.second);
        const float fy = row.weight;
        for (size_t k = 0; k < usedCount; ++k) {
            const uint8_t* a = upper + used[k] * 4;
            const uint8_t* c = lower + used[k] * 4;
            filtered[3 * k] = Lerp(decode[a[sr]], decode[c[sr]], fy);
            filtered[3 * k + 1] = Lerp(decode[a[1]], decode[c[1]], fy);
            filtered[3 * k + 2] = Lerp(decode[a[sb]], decode[c[sb]], fy);
        }
        uint8_t* out = target.Row(static_cast<uint32_t>(y)) + static_cast<size_t>(x0) * 4;
        for (int i = 0; i < width; ++i, out += 4) {
            const float* left = filtered + 3 * slots[2 * i];
            const float* right = filtered + 3 * slots[2 * i + 1];
            const float fx = columns[i].weight;
            auto channel = [&](int k) -> uint32_t {
                return GammaToUnorm8::Lookup(Lerp(left[k], right[k], fx), buckets, thresholds);
            };
            const uint32_t word = (channel(0) << redShift) | (channel(1) << 8) |
                                  (channel(2) << blueShift) | 0xFF000000u;
            // Texels are stored little-endian: byte 0 is the lowest.
            out[0] = static_cast<uint8_t>(word);
            out[1] = static_cast<uint8_t>(word >> 8);
            out[2] = static_cast<uint8_t>(word >> 16);
            out[3] = static_cast<uint8_t>(word >> 24);
        }
    }
}

// Any other pairing (float or 16-bit sources, float or sRGB targets): texel by texel.
void EyePassRasterizer::DrawGeneric(const SoftwareTexture& target, uint32_t targetFormat, int x0,
                                    int x1, int y0, int y1, const SoftwareTexture& source,
                                    uint32_t sourceFormat) {
    const uint32_t sourceTexel = TexelSize(sourceFormat);
    const uint32_t targetTexel = TexelSize(targetFormat);
    // 8-bit UNORM targets take the exact table instead of exp2/log2 per channel.
    const bool unormTarget = IsEightBitFormat(targetFormat) && !IsSrgbFormat(targetFormat);
    const int tr = IsRgbaOrder(targetFormat) ? 0 : 2, tb = 2 - tr;
    const GammaToUnorm8& encode = GammaToUnorm8::Instance();
    for (int y = y0; y < y1; ++y) {
        const Tap& row = rows_[static_cast<size_t>(y - y0)];
        const uint8_t* upper = source.Row(row.first);
        const uint8_t* lower = source.Row(row.second);
        uint8_t* out = target.Row(static_cast<uint32_t>(y)) + static_cast<size_t>(x0) * targetTexel;
        for (int x = x0; x < x1; ++x, out += targetTexel) {
            const Tap& column = columns_[static_cast<size_t>(x - x0)];
            float a[4], b[4], c[4], d[4];
            DecodeTexel(sourceFormat, upper + column.first * sourceTexel, a);
            DecodeTexel(sourceFormat, upper + column.second * sourceTexel, b);
            DecodeTexel(sourceFormat, lower + column.first * sourceTexel, c);
            DecodeTexel(sourceFormat, lower + column.second * sourceTexel, d);
            float colour[4];
            for (int k = 0; k < 3; ++k) {
                const float left = Lerp(a[k], c[k], row.weight);
                const float right = Lerp(b[k], d[k], row.weight);
                colour[k] = Lerp(left, right, column.weight);
            }
            if (unormTarget) {
                out[tr] = encode(colour[0]);
                out[1] = encode(colour[1]);
                out[tb] = encode(colour[2]);
                out[3] = 255;
                continue;
            }
            for (int k = 0; k < 3; ++k) colour[k] = GammaEncode(colour[k]);
            colour[3] = 1.0f;
            EncodeTexel(targetFormat, colour, out);
        }
    }
}

void EyePassRasterizer::FillBlack(const SoftwareTexture& target, uint32_t targetFormat, int x0,
                                  int x1, int y0, int y1) {
    static constexpr float kOpaqueBlack[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    uint8_t texel[16];
    EncodeTexel(targetFormat, kOpaqueBlack, texel);
    FillRect(target, TexelSize(targetFormat), texel, x0, x1, y0, y1);
}

}  // namespace quillo::gpu::software
