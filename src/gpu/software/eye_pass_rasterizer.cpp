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
        !IsSrgbFormat(targetFormat)) {
        DrawEightBit(target, targetFormat, x0, x1, y0, y1, *source, sourceFormat);
    } else {
        DrawGeneric(target, targetFormat, x0, x1, y0, y1, *source, sourceFormat);
    }
}

// The common case: 8-bit source (UNORM or sRGB, RGBA or BGRA order) into an 8-bit UNORM target.
void EyePassRasterizer::DrawEightBit(const SoftwareTexture& target, uint32_t targetFormat, int x0,
                                     int x1, int y0, int y1, const SoftwareTexture& source,
                                     uint32_t sourceFormat) {
    const float* decode = EightBitDecodeTable(IsSrgbFormat(sourceFormat));
    const GammaToUnorm8& encode = GammaToUnorm8::Instance();
    // Byte positions of red, green and blue in a source and a target texel.
    const int sr = IsRgbaOrder(sourceFormat) ? 0 : 2, sb = 2 - sr;
    const int tr = IsRgbaOrder(targetFormat) ? 0 : 2, tb = 2 - tr;
    const int width = x1 - x0;
    for (int y = y0; y < y1; ++y) {
        const Tap& row = rows_[static_cast<size_t>(y - y0)];
        const uint8_t* upper = source.Row(row.first);
        const uint8_t* lower = source.Row(row.second);
        const float fy = row.weight;
        uint8_t* out = target.Row(static_cast<uint32_t>(y)) + static_cast<size_t>(x0) * 4;
        for (int i = 0; i < width; ++i, out += 4) {
            const Tap& column = columns_[static_cast<size_t>(i)];
            const uint8_t* a = upper + column.first * 4;   // upper left
            const uint8_t* b = upper + column.second * 4;  // upper right
            const uint8_t* c = lower + column.first * 4;   // lower left
            const uint8_t* d = lower + column.second * 4;  // lower right
            const float fx = column.weight;
            const int channels[3] = {sr, 1, sb};
            uint8_t colour[3];
            for (int k = 0; k < 3; ++k) {
                const int ch = channels[k];
                const float top = Lerp(decode[a[ch]], decode[b[ch]], fx);
                const float bottom = Lerp(decode[c[ch]], decode[d[ch]], fx);
                colour[k] = encode(Lerp(top, bottom, fy));
            }
            out[tr] = colour[0];
            out[1] = colour[1];
            out[tb] = colour[2];
            out[3] = 255;
        }
    }
}

// Any other pairing (float or 16-bit sources, float or sRGB targets): texel by texel.
void EyePassRasterizer::DrawGeneric(const SoftwareTexture& target, uint32_t targetFormat, int x0,
                                    int x1, int y0, int y1, const SoftwareTexture& source,
                                    uint32_t sourceFormat) {
    const uint32_t sourceTexel = TexelSize(sourceFormat);
    const uint32_t targetTexel = TexelSize(targetFormat);
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
                const float top = Lerp(a[k], b[k], column.weight);
                const float bottom = Lerp(c[k], d[k], column.weight);
                colour[k] = GammaEncode(Lerp(top, bottom, row.weight));
            }
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
    const uint32_t size = TexelSize(targetFormat);
    for (int y = y0; y < y1; ++y) {
        uint8_t* out = target.Row(static_cast<uint32_t>(y)) + static_cast<size_t>(x0) * size;
        for (int x = x0; x < x1; ++x, out += size) std::memcpy(out, texel, size);
    }
}

}  // namespace quillo::gpu::software
