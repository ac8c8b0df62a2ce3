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
//
// The rows of a pass are shared out over a WorkerPool. When every pixel centre falls on a
// texel centre (all filter weights 0, as when an eye texture is drawn 1:1) the blends give the
// upper-left texel unchanged, so 8-bit and half-float sources go through per-channel tables
// from the stored texel straight to the output byte; that is exact, not an approximation (a
// half-float neighbour that is infinite or NaN would turn the blend into NaN, so such pixels
// take the full computation). Filtered 8-bit sources into 8-bit UNORM targets (scaled eye
// textures) take the vector loops of eight_bit_filter.h. Output rows go to the target with
// streaming stores: the driver does not read them again, the companion does.
#pragma once

#include <cstdint>
#include <vector>

#include "gpu/gpu_device.h"
#include "gpu/software/eight_bit_filter.h"
#include "gpu/software/software_texture.h"
#include "gpu/software/worker_pool.h"

namespace quillo::gpu::software {

class EyePassRasterizer {
  public:
    // Draws with `pool`'s threads; `pool` must outlive the rasterizer. `set` picks the inner
    // loops of filtered 8-bit passes (all give the same bytes); it must be supported.
    explicit EyePassRasterizer(WorkerPool& pool, InstructionSet set = BestInstructionSet());

    // `source` may be null. `sourceFormat` / `targetFormat` are the views' formats.
    void Draw(const SoftwareTexture& target, uint32_t targetFormat, const Viewport& viewport,
              const SoftwareTexture* source, uint32_t sourceFormat, const TextureBounds& bounds,
              int32_t invertY);

    // The pixels [x0, x1) x [y0, y1) that a pass with `viewport` draws into a target described
    // by `desc`; false when there are none.
    static bool PixelRect(const Viewport& viewport, const TextureDesc& desc, int& x0, int& x1,
                          int& y0, int& y1);

  private:
    struct Tap {
        uint32_t first;   // texel index (column or row) of the lower tap
        uint32_t second;  // the next one, wrapped
        float weight;     // of the second tap, a multiple of 1/256
    };
    enum class Path { EightBit, TexelCentredEightBit, TexelCentredHalf, Generic };

    // Fills `taps` for target pixels [begin, end) along one axis.
    static void ComputeTaps(std::vector<Tap>& taps, int begin, int end, float viewportStart,
                            float viewportSize, float boundsMin, float boundsMax, bool invert,
                            uint32_t textureSize);
    static bool AllWeightsZero(const std::vector<Tap>& taps);
    // The filter of the 8-bit path (see below), on the calling thread.
    void PrepareEightBit();
    void PrepareTexelCentredWords();

    // Rows [yBegin, yEnd) of the current pass (y relative to the pass's first row).
    void DrawRows(size_t yBegin, size_t yEnd, unsigned worker);
    void DrawEightBitRows(size_t yBegin, size_t yEnd, unsigned worker);
    void DrawTexelCentredEightBitRows(size_t yBegin, size_t yEnd);
    void DrawTexelCentredHalfRows(size_t yBegin, size_t yEnd, unsigned worker);
    void DrawGenericRows(size_t yBegin, size_t yEnd);
    // Copies this thread's output row into row r of the pass.
    void WriteRow(size_t r, unsigned worker);
    // One pixel of the generic path.
    void DrawGenericPixel(const uint8_t* upper, const uint8_t* lower, const Tap& row,
                          const Tap& column, uint8_t* out) const;

    WorkerPool& pool_;
    const EightBitKernels& kernels_;

    // The pass being drawn (set on the calling thread before the rows are shared out).
    struct Pass {
        const SoftwareTexture* target = nullptr;
        const SoftwareTexture* source = nullptr;
        uint32_t targetFormat = 0, sourceFormat = 0;
        uint32_t sourceTexel = 0, targetTexel = 0;
        int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        Path path = Path::Generic;
    } pass_;

    // Kept between draws so that steady-state frames do not allocate.
    std::vector<Tap> columns_;
    std::vector<Tap> rows_;
    // 8-bit path (eight_bit_filter.h): the source columns the columns_ taps use, each tap's
    // place among them, and per thread the last two decoded source rows and one blended row.
    std::vector<uint32_t> usedColumns_;
    std::vector<int32_t> slotOfColumn_;
    std::vector<EightBitFilter::Tap> filterTaps_;
    std::vector<uint32_t> groupBase_, tapLeft_, tapRight_;
    std::vector<float> tapWeight_;
    uint8_t decodePlanes_[1024];
    EightBitFilter filter_;
    struct RowBuffers {
        std::vector<float> decoded[2];
        uint32_t sourceRow[2];  // which row each holds (kNoRow: none)
        std::vector<float> blended;
    };
    static constexpr uint32_t kNoRow = 0xFFFFFFFFu;
    std::vector<RowBuffers> rowBuffers_;
    // Half-float path, per thread: one row of output texels, written to the target in one
    // streaming copy.
    std::vector<std::vector<uint8_t>> outputRows_;
    // Output byte of each 8-bit channel value when no blending happens: [0] UNORM, [1] sRGB.
    uint8_t texelCentredBytes_[2][256];
    // The same per source byte of the current pass, placed in a little-endian target word.
    uint32_t texelCentredWords_[3][256];
    // The pass's columns read consecutive source texels (no wrap, no skip).
    bool columnsContiguous_ = false;
    // For EightBitKernels::texelCentredRow: texelCentredBytes_ of the source, and whether red
    // and blue trade places between source and target.
    const uint8_t* texelCentredTable_ = nullptr;
    bool texelCentredSwap_ = false;
};

}  // namespace quillo::gpu::software
