// The inner loops of the eye pass for 8-bit sources drawn into 8-bit UNORM targets with
// filtering (scaled eye textures), in one version per instruction set: plain C++, SSE2 (every
// x86-64 processor), AVX2 and AVX-512 (chosen at run time where the processor and system have
// them; the AVX-512 version is in eight_bit_filter_avx512.cpp).
// Every version computes exactly the same expressions in the same order, so they give the same
// bytes: a + (b - a) * w in single precision for each blend, never fused into one rounding
// (AVX2 is enabled without FMA, so the compiler cannot contract them), and the exact gamma
// table of GammaToUnorm8.
//
// A row is drawn in three steps: each of its two source rows is decoded to linear floats for
// the source columns the pass uses (a thread keeps the last two it decoded: consecutive target
// rows mostly share one), the two are blended vertically, and each target pixel blends two of
// those columns horizontally and goes through the gamma table straight into the target row.
// The plain, SSE2 and AVX2 versions keep four floats per column, in the target's channel order,
// so a column is one vector and a pixel's three channels are encoded together. The AVX-512
// version keeps one plane of floats per channel instead (see there).
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillo::gpu::software {

struct EightBitFilter {
    struct Tap {
        uint32_t left, right;  // the pixel's two columns, as float offsets (4 per column)
        float weight;          // of the right one
    };
    static constexpr size_t kTapPadding = 16;  // the tap arrays hold a multiple of this many

    const uint32_t* columns = nullptr;  // source column of each used column
    size_t columnCount = 0;
    bool contiguous = false;    // columns[k] is columns[0] + k for every k
    const Tap* taps = nullptr;  // per target pixel, the last one repeated up to the padding
    // The same taps for the AVX-512 loops (see GroupTaps): in groups of kTapPadding pixels, as
    // three arrays, with used-column indices counted from the group's base rather than float
    // offsets.
    static constexpr uint32_t kWindow = 32;                  // used columns a group may span
    static constexpr uint32_t kGatheredGroup = 0xFFFFFFFFu;  // base of a group that spans more
    const uint32_t* groupBase = nullptr;
    const uint32_t* tapLeft = nullptr;
    const uint32_t* tapRight = nullptr;
    const float* tapWeight = nullptr;
    size_t width = 0;               // target pixels
    const float* decode = nullptr;  // linear value of each byte value (256)
    // The same table as four planes of 256 bytes: plane m holds byte m (little-endian) of each
    // value's bit pattern (see DecodePlanes).
    const uint8_t* decodePlanes = nullptr;
    uint8_t order[4] = {0, 1, 2, 3};  // source byte that goes into each lane (lane 3 unused)
    const uint32_t* gamma = nullptr;  // GammaToUnorm8::words()
};

enum class InstructionSet { Portable, Sse2, Avx2, Avx512 };

struct EightBitKernels {
    // Floats that a decoded (or blended) row of `columnCount` used columns takes.
    size_t (*rowFloats)(size_t columnCount);
    // `row` is a source row; writes rowFloats(columnCount) floats to `out`. With `upper`, also
    // writes the vertical blend upper + (out - upper) * w to `blended` (the row that `out` receives
    // is the lower one), while the decoded values are at hand.
    void (*decode)(const EightBitFilter& filter, const uint8_t* row, float* out, const float* upper,
                   float w, float* blended);
    // out = a + (b - a) * w over `count` floats (a whole row: rowFloats()).
    void (*blend)(const float* a, const float* b, float w, float* out, size_t count);
    // Writes `width` texels of the target row from one vertically blended row. Ends with a
    // store fence (the row goes out with streaming stores).
    void (*encode)(const EightBitFilter& filter, const float* blended, uint8_t* out);
    // A row of a pass that shows `width` consecutive source texels unblended (every pixel
    // centre on a texel centre): each of a texel's first three bytes through `bytes` (256
    // entries), the first and third trading places when `swap`, alpha opaque. Ends with a store
    // fence. Null where the caller's own loop of table look-ups is as fast.
    void (*texelCentredRow)(const uint8_t* in, size_t width, const uint8_t* bytes, bool swap,
                            uint8_t* out);
};

// Splits `count` taps (a multiple of kTapPadding) into EightBitFilter's grouped arrays: a group
// whose columns all lie in the kWindow used columns from its first pixel's left one gets that
// column as its base and taps counted from it; any other group gets kGatheredGroup and taps
// counted from 0.
void GroupTaps(const EightBitFilter::Tap* taps, size_t count, uint32_t* groupBase, uint32_t* left,
               uint32_t* right, float* weight);

// `decode` (256 floats) as EightBitFilter::decodePlanes: 1024 bytes.
void DecodePlanes(const float* decode, uint8_t* planes);

// Whether this build and this processor can run `set`.
bool Supports(InstructionSet set);
// The fastest set that Supports().
InstructionSet BestInstructionSet();
// The kernels of a supported set.
const EightBitKernels& KernelsFor(InstructionSet set);

}  // namespace quillo::gpu::software
