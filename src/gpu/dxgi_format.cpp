#include "gpu/dxgi_format.h"

namespace quillo {

namespace {

struct TypelessEntry {
    uint32_t typeless;
    uint32_t typed;  // equal to `typeless` where no typed counterpart is chosen
};

// The typed counterparts are not always the "plain" member of the family: 8-bit BGRA
// textures from the runtime are viewed as sRGB, 8-bit RGBA ones as UNORM, and 16-bit RGBA
// as UNORM rather than FLOAT.
constexpr TypelessEntry kTypeless[] = {
    {1, 2},   {5, 6},   {9, 11},  {15, 15}, {19, 19}, {23, 23}, {27, 28}, {33, 33},
    {39, 39}, {44, 44}, {48, 48}, {53, 53}, {60, 60}, {70, 70}, {73, 73}, {76, 76},
    {79, 79}, {82, 82}, {90, 91}, {92, 93}, {94, 94}, {97, 97},
};

}  // namespace

bool IsTypelessFormat(uint32_t format) {
    for (const TypelessEntry& entry : kTypeless) {
        if (entry.typeless == format) return true;
    }
    return false;
}

uint32_t TypedFormatFor(uint32_t format) {
    for (const TypelessEntry& entry : kTypeless) {
        if (entry.typeless == format) return entry.typed;
    }
    return format;
}

uint32_t BytesPerTexel(uint32_t format) {
    switch (format) {
        case 1:
        case 2:
        case 3:
        case 4:
            return 16;
        case 9:
        case 10:
        case 11:
        case 12:
        case 13:
        case 14:
            return 8;
        case 27:
        case 28:
        case 29:
        case 30:
        case 31:
        case 32:
        case 87:
        case 88:
        case 90:
        case 91:
        case 92:
        case 93:
            return 4;
        default:
            return 0;
    }
}

}  // namespace quillo
