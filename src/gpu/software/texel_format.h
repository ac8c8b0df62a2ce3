// What the software backend knows about each pixel format it stores, samples or writes.
#pragma once

#include <cstdint>

namespace quillo::gpu::software {

// Formats whose texels can be reinterpreted as one another (CopyResource, view formats).
enum class FormatFamily { None, Rgba32, Rgba16, Rgba8, Bgra8, Bgrx8 };

FormatFamily FamilyOf(uint32_t format);
// 16 for R32G32B32A32, 8 for R16G16B16A16, 4 for the 8-bit four-channel formats, 0 otherwise.
uint32_t TexelSize(uint32_t format);
// A typed format that views (samples or renders) can use.
bool IsViewableFormat(uint32_t format);
bool IsSrgbFormat(uint32_t format);
// Four 8-bit channels stored as R, G, B, A (false: B, G, R, A/X).
bool IsRgbaOrder(uint32_t format);
// The formats with one byte per channel.
bool IsEightBitFormat(uint32_t format);

// One texel as linear floats (sRGB formats decoded; an X channel reads as 1).
void DecodeTexel(uint32_t format, const uint8_t* texel, float rgba[4]);
// Writes linear floats as one texel (clamped and rounded for UNORM, sRGB-encoded for sRGB).
void EncodeTexel(uint32_t format, const float rgba[4], uint8_t* texel);

// Float -> 8-bit UNORM the way Direct3D converts: NaN gives 0, the value is clamped to
// [0, 1], scaled by 255 and rounded to nearest.
uint8_t UnormFromFloat(float value);
// Linear value of an 8-bit channel: value / 255, or its sRGB decoding.
const float* EightBitDecodeTable(bool srgb);  // 256 entries

float HalfToFloat(uint16_t half);
uint16_t FloatToHalf(float value);

}  // namespace quillo::gpu::software
