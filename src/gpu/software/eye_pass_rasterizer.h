// The eye pass on the CPU, following the rules a Direct3D 11 device applies to the
// compositor's screen-covering triangle:
// - a pixel is drawn when its centre (x + 0.5, y + 0.5) lies in the viewport (left/top edge
//   included, right/bottom excluded) and in the render target;
// - the texture coordinate runs linearly from (uMin, vMin) at the viewport's top-left corner to
//   (uMax, vMax) at its bottom-right corner, evaluated at pixel centres; InvertY > 0 turns v
//   into 1 - v;
// - bilinear filtering with wrap addressing on the one mip level: texel i has its centre at
//   (i + 0.5) / width, and the filter weights have 8 bits of sub-texel precision (the
//   precision Direct3D 11 requires of hardware); sRGB sources are decoded before filtering;
//   the filter blends vertically first, then horizontally (each blend a + (b - a) * w in
//   single precision), so a texel blended with an equal one keeps its exact value;
// - colour = exp2(log2(c) * k) per channel (k = 0x3EE8BA2F), alpha 1, written in the render
//   target's format; a missing source samples (0, 0, 0, 0), i.e. opaque black.
#pragma once

#include <cstdint>
#include <vector>

#include "gpu/gpu_device.h"
#include "gpu/software/software_texture.h"

namespace quillo::gpu::software {

class EyePassRasterizer {
  public:
    // `source` may be null. `sourceFormat` / `targetFormat` are the views' formats.
    void Draw(const SoftwareTexture& target, uint32_t targetFormat, const Viewport& viewport,
              const SoftwareTexture* source, uint32_t sourceFormat, const TextureBounds& bounds,
              int32_t invertY);

  private:
    struct Tap {
        uint32_t first;   // texel index (column or row) of the lower tap
        uint32_t second;  // the next one, wrapped
        float weight;     // of the second tap, a multiple of 1/256
    };

    // Fills `taps` for target pixels [begin, end) along one axis.
    static void ComputeTaps(std::vector<Tap>& taps, int begin, int end, float viewportStart,
                            float viewportSize, float boundsMin, float boundsMax, bool invert,
                            uint32_t textureSize);

    void DrawEightBit(const SoftwareTexture& target, uint32_t targetFormat, int x0, int x1, int y0,
                      int y1, const SoftwareTexture& source, uint32_t sourceFormat);
    void DrawGeneric(const SoftwareTexture& target, uint32_t targetFormat, int x0, int x1, int y0,
                     int y1, const SoftwareTexture& source, uint32_t sourceFormat);
    static void FillBlack(const SoftwareTexture& target, uint32_t targetFormat, int x0, int x1,
                          int y0, int y1);

    // Kept between draws so that steady-state frames do not allocate.
    std::vector<Tap> columns_;
    std::vector<Tap> rows_;
    // 8-bit path, filtered in two steps (vertically, then horizontally): the source columns the
    // columns_ taps use, each tap's slots among them, and one row of vertically filtered
    // colour (three floats per used column).
    std::vector<uint32_t> usedColumns_;
    std::vector<int32_t> slotOfColumn_;
    std::vector<uint32_t> columnSlots_;  // two per target column: first, second
    std::vector<float> filteredRow_;
};

}  // namespace quillo::gpu::software
