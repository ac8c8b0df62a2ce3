// DXGI format numbers the frame path deals with, and the typeless -> typed view mapping.
#pragma once

#include <cstdint>

namespace quillo {

// DXGI_FORMAT numbers (the values Direct3D uses; the software backend uses the same numbers).
namespace dxgi {
constexpr uint32_t kUnknown = 0;
constexpr uint32_t kR32G32B32A32Float = 2;
constexpr uint32_t kR16G16B16A16Typeless = 9;
constexpr uint32_t kR16G16B16A16Float = 10;
constexpr uint32_t kR16G16B16A16Unorm = 11;
constexpr uint32_t kR8G8B8A8Typeless = 27;
constexpr uint32_t kR8G8B8A8Unorm = 28;
constexpr uint32_t kR8G8B8A8UnormSrgb = 29;
constexpr uint32_t kB8G8R8A8Unorm = 87;
constexpr uint32_t kB8G8R8X8Unorm = 88;
constexpr uint32_t kB8G8R8A8Typeless = 90;
constexpr uint32_t kB8G8R8A8UnormSrgb = 91;
constexpr uint32_t kB8G8R8X8Typeless = 92;
constexpr uint32_t kB8G8R8X8UnormSrgb = 93;
}  // namespace dxgi

// True for exactly the 22 typeless DXGI formats.
bool IsTypelessFormat(uint32_t format);

// The format a view of a typeless texture is made with. Some typeless formats have no typed
// counterpart here and come back unchanged (still typeless, so a view of them cannot be made);
// every format that is not typeless comes back as it is.
uint32_t TypedFormatFor(uint32_t format);

// Bytes per texel of the four-channel formats the frame path handles (8-bit, 16-bit and 32-bit
// channels, typeless or typed); 0 for any other format.
uint32_t BytesPerTexel(uint32_t format);

}  // namespace quillo
