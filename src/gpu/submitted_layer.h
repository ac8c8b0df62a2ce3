// One direct-mode layer: the two eyes' shared texture handles and the part of each texture
// that holds the eye's image, left eye first.
#pragma once

#include <cstdint>

namespace quillo {

// Same four floats, same order as the runtime's VRTextureBounds_t.
struct TextureBounds {
    float uMin = 0.0f, vMin = 0.0f, uMax = 1.0f, vMax = 1.0f;
};

struct SubmittedLayer {
    uint64_t handles[2] = {0, 0};
    TextureBounds bounds[2];
};

}  // namespace quillo
