#include "gpu/software/texel_format.h"

#include <cmath>
#include <cstring>

#include "gpu/dxgi_format.h"

namespace quillo::gpu::software {

namespace {

float SrgbToLinear(double c) {
    return static_cast<float>(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}

float LinearToSrgb(float c) {
    if (!(c > 0.0f)) return 0.0f;
    if (c >= 1.0f) return 1.0f;
    return c <= 0.0031308f ? c * 12.92f : 1.055f * std::pow(c, 1.0f / 2.4f) - 0.055f;
}

struct EightBitTables {
    float linear[256];
    float srgb[256];
    EightBitTables() {
        for (int i = 0; i < 256; ++i) {
            linear[i] = static_cast<float>(i) / 255.0f;
            srgb[i] = SrgbToLinear(i / 255.0);
        }
    }
};

const EightBitTables& Tables() {
    static const EightBitTables tables;
    return tables;
}

uint16_t ReadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void WriteU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

FormatFamily FamilyOf(uint32_t format) {
    switch (format) {
        case 1:
        case 2:
            return FormatFamily::Rgba32;
        case dxgi::kR16G16B16A16Typeless:
        case dxgi::kR16G16B16A16Float:
        case dxgi::kR16G16B16A16Unorm:
            return FormatFamily::Rgba16;
        case dxgi::kR8G8B8A8Typeless:
        case dxgi::kR8G8B8A8Unorm:
        case dxgi::kR8G8B8A8UnormSrgb:
            return FormatFamily::Rgba8;
        case dxgi::kB8G8R8A8Unorm:
        case dxgi::kB8G8R8A8Typeless:
        case dxgi::kB8G8R8A8UnormSrgb:
            return FormatFamily::Bgra8;
        case dxgi::kB8G8R8X8Unorm:
        case dxgi::kB8G8R8X8Typeless:
        case dxgi::kB8G8R8X8UnormSrgb:
            return FormatFamily::Bgrx8;
        default:
            return FormatFamily::None;
    }
}

uint32_t TexelSize(uint32_t format) {
    switch (FamilyOf(format)) {
        case FormatFamily::Rgba32:
            return 16;
        case FormatFamily::Rgba16:
            return 8;
        case FormatFamily::Rgba8:
        case FormatFamily::Bgra8:
        case FormatFamily::Bgrx8:
            return 4;
        default:
            return 0;
    }
}

bool IsViewableFormat(uint32_t format) {
    return FamilyOf(format) != FormatFamily::None && !IsTypelessFormat(format);
}

bool IsSrgbFormat(uint32_t format) {
    return format == dxgi::kR8G8B8A8UnormSrgb || format == dxgi::kB8G8R8A8UnormSrgb ||
           format == dxgi::kB8G8R8X8UnormSrgb;
}

bool IsRgbaOrder(uint32_t format) {
    return FamilyOf(format) == FormatFamily::Rgba8;
}

bool IsEightBitFormat(uint32_t format) {
    return TexelSize(format) == 4;
}

const float* EightBitDecodeTable(bool srgb) {
    return srgb ? Tables().srgb : Tables().linear;
}

uint8_t UnormFromFloat(float value) {
    if (!(value > 0.0f)) return 0;  // NaN too
    if (value >= 1.0f) return 255;
    return static_cast<uint8_t>(value * 255.0f + 0.5f);
}

float HalfToFloat(uint16_t half) {
    const uint32_t sign = static_cast<uint32_t>(half & 0x8000u) << 16;
    const uint32_t exponent = (half >> 10) & 0x1Fu;
    const uint32_t mantissa = half & 0x3FFu;
    uint32_t bits;
    if (exponent == 31) {
        bits = sign | 0x7F800000u | (mantissa << 13);  // infinity or NaN
    } else if (exponent != 0) {
        bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
    } else {
        // Zero or subnormal: mantissa * 2^-24, exact in single precision.
        const float magnitude = static_cast<float>(mantissa) * 5.9604644775390625e-08f;
        std::memcpy(&bits, &magnitude, sizeof bits);
        bits |= sign;
    }
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint16_t FloatToHalf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
    if (std::isnan(value)) return static_cast<uint16_t>(sign | 0x7E00u);
    const float magnitude = std::fabs(value);
    if (magnitude >= 65520.0f) return static_cast<uint16_t>(sign | 0x7C00u);  // overflow
    if (magnitude < 6.103515625e-05f) {                                       // subnormal
        return static_cast<uint16_t>(
            sign | static_cast<uint16_t>(std::nearbyint(magnitude * 16777216.0f)));
    }
    int exponent = 0;
    const float fraction = std::frexp(magnitude, &exponent);                        // [0.5, 1)
    uint32_t mantissa = static_cast<uint32_t>(std::nearbyint(fraction * 2048.0f));  // 11 bits
    if (mantissa == 2048) {
        mantissa = 1024;
        ++exponent;
    }
    const uint32_t biased = static_cast<uint32_t>(exponent + 14);
    if (biased >= 31) return static_cast<uint16_t>(sign | 0x7C00u);
    return static_cast<uint16_t>(sign | (biased << 10) | (mantissa & 0x3FFu));
}

void DecodeTexel(uint32_t format, const uint8_t* texel, float rgba[4]) {
    switch (FamilyOf(format)) {
        case FormatFamily::Rgba32:
            std::memcpy(rgba, texel, 16);
            return;
        case FormatFamily::Rgba16:
            for (int c = 0; c < 4; ++c) {
                const uint16_t raw = ReadU16(texel + 2 * c);
                rgba[c] = format == dxgi::kR16G16B16A16Unorm ? raw / 65535.0f : HalfToFloat(raw);
            }
            return;
        case FormatFamily::Rgba8:
        case FormatFamily::Bgra8:
        case FormatFamily::Bgrx8: {
            const float* table = EightBitDecodeTable(IsSrgbFormat(format));
            const bool rgba8 = IsRgbaOrder(format);
            rgba[0] = table[texel[rgba8 ? 0 : 2]];
            rgba[1] = table[texel[1]];
            rgba[2] = table[texel[rgba8 ? 2 : 0]];
            rgba[3] = FamilyOf(format) == FormatFamily::Bgrx8 ? 1.0f : texel[3] / 255.0f;
            return;
        }
        case FormatFamily::None:
            rgba[0] = rgba[1] = rgba[2] = rgba[3] = 0.0f;
            return;
    }
}

void EncodeTexel(uint32_t format, const float rgba[4], uint8_t* texel) {
    switch (FamilyOf(format)) {
        case FormatFamily::Rgba32:
            std::memcpy(texel, rgba, 16);
            return;
        case FormatFamily::Rgba16:
            for (int c = 0; c < 4; ++c) {
                uint16_t raw;
                if (format == dxgi::kR16G16B16A16Unorm) {
                    const float v = rgba[c] > 0.0f ? (rgba[c] < 1.0f ? rgba[c] : 1.0f) : 0.0f;
                    raw = static_cast<uint16_t>(v * 65535.0f + 0.5f);
                } else {
                    raw = FloatToHalf(rgba[c]);
                }
                WriteU16(texel + 2 * c, raw);
            }
            return;
        case FormatFamily::Rgba8:
        case FormatFamily::Bgra8:
        case FormatFamily::Bgrx8: {
            const bool srgb = IsSrgbFormat(format);
            const bool rgba8 = IsRgbaOrder(format);
            float colour[3] = {rgba[0], rgba[1], rgba[2]};
            if (srgb) {
                for (float& c : colour) c = LinearToSrgb(c);
            }
            texel[rgba8 ? 0 : 2] = UnormFromFloat(colour[0]);
            texel[1] = UnormFromFloat(colour[1]);
            texel[rgba8 ? 2 : 0] = UnormFromFloat(colour[2]);
            texel[3] = UnormFromFloat(rgba[3]);
            return;
        }
        case FormatFamily::None:
            return;
    }
}

}  // namespace quillo::gpu::software
