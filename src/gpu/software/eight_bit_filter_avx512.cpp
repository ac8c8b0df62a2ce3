// The filtered 8-bit eye pass with AVX-512 (F, BW and VBMI). Rows are kept as three
// planes of floats, one per target channel, each PlaneStride() floats long:
// - decoding a source row looks 64 source bytes up at once in the 256-entry decode table with
//   byte permutes (the table held as four planes of bytes, one per byte of a float); the byte
//   order chosen for the look-up also sorts the channels into their planes;
// - the 16 pixels of a group take their two columns from a window of 32 used columns with one
//   permute per channel and side (a group whose columns do not fit, as when the source is more
//   than about twice as wide as the viewport or its columns wrap, gathers them instead);
// - the gamma step is computed rather than looked up (see EstimateGamma), because a table load
//   per channel costs more than the rest of the pass.
// Blends are a + (b - a) * w in single precision, unfused, as in the other versions, so all
// give the same bytes.
#include "gpu/software/eight_bit_filter_avx512.h"

#include "gpu/software/gamma_encoder.h"
#include "gpu/software/streaming_copy.h"

#if defined(__GNUC__) && defined(__x86_64__)
// GCC 12's AVX-512 headers start some intrinsics from an undefined vector and then warn about it.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#define QUILLO_HAS_AVX512_KERNELS 1
#define QUILLO_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#endif

namespace quillo::gpu::software {

#if defined(QUILLO_HAS_AVX512_KERNELS)

namespace {

constexpr size_t kLanes = 16;               // floats per vector: columns and pixels per step
constexpr size_t kPrefetchDistance = 4096;  // bytes of source row ahead of the one decoded

// The used columns rounded up to whole vectors, and two vectors more, so that a group's window
// may start at any used column.
size_t PlaneStride(size_t columnCount) {
    return (columnCount + kLanes - 1) / kLanes * kLanes + 2 * kLanes;
}

size_t PlanarRowFloats(size_t columnCount) {
    return 3 * PlaneStride(columnCount);
}

// ---- The gamma step.
//
// The output byte is floor(y) for y = 255 * c^k + 0.5 as the table's formula evaluates it.
// Here y is approximated as 255 * 2^((E - 127) k) * p(m) + 0.5 for c = m * 2^(E - 127) with m
// in [1, 2): the first factor comes from a 32-entry table indexed by the biased exponent E (one
// permute), and p(m) = sum d_j m^j is the degree-5 polynomial through m^k at the Chebyshev
// nodes of [1, 2], coefficients rounded to float, all evaluated exactly as written in
// EstimateGamma (Horner's scheme in m: the fewest operations). Over every float the pass produces,
// the estimate's floor is the table's byte wherever the estimate lies 2^-11 or more from an integer
// (it is never wrong further than 0.00031 from one); closer than that (about 0.07% of floats) the
// lane takes the table's byte. The unit tests check every such float. The band is as narrow as
// that allows (2^-12 would not do): each lane sent to the table costs its group a mispredicted
// branch and a gather, about 90 cycles, so halving the band took 1 to 5% off the encoding.

// 255 * 2^((E - 127) k) for E = 96..127, at E mod 32 (0 is read as E = 96: also byte 0).
constexpr float kExponentScale[32] = {
    0x1.dedac8p-7f, 0x1.481976p-6f, 0x1.c19c86p-6f, 0x1.34100ep-5f, 0x1.a6277p-5f,  0x1.213fe8p-4f,
    0x1.8c5f9ep-4f, 0x1.0f95dep-3f, 0x1.742ad8p-3f, 0x1.fdfffap-3f, 0x1.5d707ep-2f, 0x1.dedaccp-2f,
    0x1.481978p-1f, 0x1.c19c88p-1f, 0x1.34101p+0f,  0x1.a62774p+0f, 0x1.213feap+1f, 0x1.8c5fap+1f,
    0x1.0f95ep+2f,  0x1.742adap+2f, 0x1.fdfffcp+2f, 0x1.5d708p+3f,  0x1.dedadp+3f,  0x1.48197ap+4f,
    0x1.c19c8cp+4f, 0x1.341014p+5f, 0x1.a62776p+5f, 0x1.213fecp+6f, 0x1.8c5fa4p+6f, 0x1.0f95e2p+7f,
    0x1.742adcp+7f, 0x1.fep+7f};
// d_0 .. d_5.
constexpr float kMantissaPower[6] = {0x1.5a6b92p-2f, 0x1.f972f2p-1f,  -0x1.edbbb4p-2f,
                                     0x1.99e95ep-3f, -0x1.8dc78ep-5f, 0x1.4bbd5p-8f};

// The estimate is kept as the bit pattern of y + 256 + 2^-11 (in [256, 512): a fixed exponent,
// the output byte in bits 15..22 and the fraction in bits 0..14), which gives the byte and the
// distance to the nearest integer with integer operations.
constexpr int kByteShift = 15;

// `estimate` with the table's bytes in the lanes of `lanes` (c in [0, 1 + 2^-22]). Rare.
QUILLO_AVX512 inline __m512i FromTable(__m512 c, __m512i estimate, __mmask16 lanes,
                                       const uint32_t* words) {
    // As GammaToUnorm8::words() says: (w >> 17) - ((w & 0x1FFFF) > (bits & 0xFFFF)).
    const __m512i bits = _mm512_castps_si512(c);
    const __m512i word = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), lanes,
                                                     _mm512_srli_epi32(bits, 16), words, 4);
    const __mmask16 below =
        _mm512_cmpgt_epi32_mask(_mm512_and_si512(word, _mm512_set1_epi32(0x1FFFF)),
                                _mm512_and_si512(bits, _mm512_set1_epi32(0xFFFF)));
    const __m512i start = _mm512_srli_epi32(word, 17);
    const __m512i exact = _mm512_mask_sub_epi32(start, below, start, _mm512_set1_epi32(1));
    return _mm512_mask_mov_epi32(estimate, lanes, _mm512_slli_epi32(exact, kByteShift));
}

// Estimates of the output bytes of 16 linear values (see kByteShift), right except perhaps in
// the lanes set in `ambiguous`, which need FromTable. Each value must be 0 or in
// [2^-31, 1 + 2^-20], with no clamping: the pass's colours are blends a + (b - a) * w of values
// in [0, 1] with w in [0, 1), which rounding keeps between the smaller of a and b and an ulp or
// two above the larger, and the smallest non-zero one the 8-bit decode tables allow is about
// 2^-27.7 (3.0e-4 blended twice with weight 1/256).
QUILLO_AVX512 inline __m512i EstimateGamma(__m512 c, __mmask16& ambiguous) {
    const __m512i bits = _mm512_castps_si512(c);
    const __m512 scale =
        _mm512_permutex2var_ps(_mm512_loadu_ps(kExponentScale), _mm512_srli_epi32(bits, 23),
                               _mm512_loadu_ps(kExponentScale + kLanes));
    // (bits & mantissa) | exponent of 1.0: m.
    const __m512 m = _mm512_castsi512_ps(_mm512_ternarylogic_epi32(
        bits, _mm512_set1_epi32(0x007FFFFF), _mm512_set1_epi32(0x3F800000), 0xEA));
    __m512 p = _mm512_set1_ps(kMantissaPower[5]);
    for (int j = 4; j >= 0; --j) p = _mm512_fmadd_ps(p, m, _mm512_set1_ps(kMantissaPower[j]));
    // y + 2^-11 (+ 256): its floor is y's wherever y is at least 2^-11 from an integer, and its
    // fraction is below 2^-10 (bits 5..14 clear) just where y is closer than that.
    const __m512i estimate =
        _mm512_castps_si512(_mm512_fmadd_ps(scale, p, _mm512_set1_ps(256.5f + 0x1p-11f)));
    ambiguous = _mm512_testn_epi32_mask(estimate, _mm512_set1_epi32(0x7FE0));
    return estimate;
}

// Output bytes, one per 32-bit lane.
QUILLO_AVX512 inline __m512i GammaBytes16(__m512 c, const uint32_t* words) {
    __mmask16 ambiguous;
    __m512i estimate = EstimateGamma(c, ambiguous);
    if (ambiguous != 0) estimate = FromTable(c, estimate, ambiguous, words);
    return _mm512_and_si512(_mm512_srli_epi32(estimate, kByteShift), _mm512_set1_epi32(255));
}

// ---- Decoding.

// One plane of the decode table, in registers.
struct TablePlane {
    __m512i quarter0, quarter1, quarter2, quarter3;
};

QUILLO_AVX512 inline TablePlane LoadPlane(const uint8_t* planes, int plane) {
    const uint8_t* bytes = planes + 256 * plane;
    return {_mm512_loadu_si512(bytes), _mm512_loadu_si512(bytes + 64),
            _mm512_loadu_si512(bytes + 128), _mm512_loadu_si512(bytes + 192)};
}

// One plane of a look-up: byte `plane` of the decoded value of each of the 64 indices.
QUILLO_AVX512 inline __m512i LookUpPlane(const TablePlane& table, __m512i index,
                                         __mmask64 upperHalf) {
    const __m512i low = _mm512_permutex2var_epi8(table.quarter0, index, table.quarter1);
    const __m512i high = _mm512_permutex2var_epi8(table.quarter2, index, table.quarter3);
    return _mm512_mask_blend_epi8(upperHalf, low, high);
}

QUILLO_AVX512 inline void StoreChannel(__m512 values, size_t at, float* out, const float* upper,
                                       __m512 weight, float* blended) {
    _mm512_storeu_ps(out + at, values);
    if (upper != nullptr) {
        const __m512 a = _mm512_loadu_ps(upper + at);
        _mm512_storeu_ps(blended + at,
                         _mm512_add_ps(a, _mm512_mul_ps(_mm512_sub_ps(values, a), weight)));
    }
}

// Contiguous columns, 16 at a time; with kBlend also the vertical blend with `upper`.
template <bool kBlend>
QUILLO_AVX512 inline void DecodeContiguous(const EightBitFilter& filter, const uint8_t* row,
                                           float* out, const float* upper, float w,
                                           float* blended) {
    const size_t count = filter.columnCount, stride = PlaneStride(count);
    // Source byte that each look-up position takes: position 16 L + 4 c + q (128-bit lane L)
    // takes channel c of texel 4 L + q. After the look-ups, unpacking the planes' bytes pairs
    // within each 128-bit lane puts the floats of positions 16 L + 4 c .. + 3 into vector c at
    // 4 L .. 4 L + 3: channel c of texels 0 .. 15 in order.
    uint8_t positions[64];
    for (int lane = 0; lane < 4; ++lane) {
        for (int c = 0; c < 4; ++c) {
            for (int q = 0; q < 4; ++q) {
                positions[16 * lane + 4 * c + q] =
                    static_cast<uint8_t>(4 * (4 * lane + q) + (c < 3 ? filter.order[c] : 3));
            }
        }
    }
    const __m512i sortChannels = _mm512_loadu_si512(positions);
    const TablePlane table0 = LoadPlane(filter.decodePlanes, 0);
    const TablePlane table1 = LoadPlane(filter.decodePlanes, 1);
    const TablePlane table2 = LoadPlane(filter.decodePlanes, 2);
    const TablePlane table3 = LoadPlane(filter.decodePlanes, 3);
    const uint8_t* in = row + static_cast<size_t>(filter.columns[0]) * 4;
    const __m512 weight = _mm512_set1_ps(w);
    const float* upperRow = kBlend ? upper : nullptr;
    for (size_t k = 0; k < count; k += kLanes) {
        // A masked load only for the last, short group: on some processors it is much slower.
        const __m512i texels =
            count - k >= kLanes
                ? _mm512_loadu_si512(in + 4 * k)
                : _mm512_maskz_loadu_epi8((1ull << (4 * (count - k))) - 1, in + 4 * k);
        // Rows come from a texture far larger than the caches, and the processor's own
        // prefetching stops at each page boundary.
        _mm_prefetch(reinterpret_cast<const char*>(in + 4 * k + kPrefetchDistance), _MM_HINT_T0);
        const __m512i index = _mm512_permutexvar_epi8(sortChannels, texels);
        const __mmask64 upperHalf = _mm512_movepi8_mask(index);  // values 128..255
        const __m512i plane0 = LookUpPlane(table0, index, upperHalf);
        const __m512i plane1 = LookUpPlane(table1, index, upperHalf);
        const __m512i plane2 = LookUpPlane(table2, index, upperHalf);
        const __m512i plane3 = LookUpPlane(table3, index, upperHalf);
        const __m512i low01 = _mm512_unpacklo_epi8(plane0, plane1);
        const __m512i low23 = _mm512_unpacklo_epi8(plane2, plane3);
        StoreChannel(_mm512_castsi512_ps(_mm512_unpacklo_epi16(low01, low23)), k, out, upperRow,
                     weight, blended);
        StoreChannel(_mm512_castsi512_ps(_mm512_unpackhi_epi16(low01, low23)), stride + k, out,
                     upperRow, weight, blended);
        const __m512i high01 = _mm512_unpackhi_epi8(plane0, plane1);
        const __m512i high23 = _mm512_unpackhi_epi8(plane2, plane3);
        StoreChannel(_mm512_castsi512_ps(_mm512_unpacklo_epi16(high01, high23)), 2 * stride + k,
                     out, upperRow, weight, blended);
    }
}

QUILLO_AVX512 void BlendAvx512(const float* a, const float* b, float w, float* out, size_t count) {
    const __m512 weight = _mm512_set1_ps(w);
    for (size_t i = 0; i < count; i += kLanes) {
        const __mmask16 lanes = count - i < kLanes ? (1u << (count - i)) - 1 : 0xFFFF;
        const __m512 x = _mm512_maskz_loadu_ps(lanes, a + i);
        const __m512 y = _mm512_maskz_loadu_ps(lanes, b + i);
        _mm512_mask_storeu_ps(out + i, lanes,
                              _mm512_add_ps(x, _mm512_mul_ps(_mm512_sub_ps(y, x), weight)));
    }
}

QUILLO_AVX512 void DecodeAvx512(const EightBitFilter& filter, const uint8_t* row, float* out,
                                const float* upper, float w, float* blended) {
    const size_t count = filter.columnCount;
    if (count == 0) return;
    if (filter.contiguous) {
        if (upper != nullptr) {
            DecodeContiguous<true>(filter, row, out, upper, w, blended);
        } else {
            DecodeContiguous<false>(filter, row, out, upper, w, blended);
        }
        return;
    }
    // Columns that skip or wrap (rare): one value at a time.
    const size_t stride = PlaneStride(count);
    for (size_t k = 0; k < count; ++k) {
        const uint8_t* texel = row + static_cast<size_t>(filter.columns[k]) * 4;
        for (size_t c = 0; c < 3; ++c) out[c * stride + k] = filter.decode[texel[filter.order[c]]];
    }
    if (upper != nullptr) BlendAvx512(upper, out, w, blended, PlanarRowFloats(count));
}

// ---- Encoding.

// One channel of a group: each pixel's two columns blended.
template <bool kWindowed>
QUILLO_AVX512 inline __m512 BlendChannel(const float* plane, uint32_t base, __m512i left,
                                         __m512i right, __m512 weight) {
    __m512 a, b;
    if (kWindowed) {
        const __m512 first = _mm512_loadu_ps(plane + base);
        const __m512 second = _mm512_loadu_ps(plane + base + kLanes);
        a = _mm512_permutex2var_ps(first, left, second);
        b = _mm512_permutex2var_ps(first, right, second);
    } else {
        a = _mm512_i32gather_ps(left, plane, 4);
        b = _mm512_i32gather_ps(right, plane, 4);
    }
    return _mm512_add_ps(a, _mm512_mul_ps(_mm512_sub_ps(b, a), weight));
}

// The 16 opaque texels of a group. Windowed: `left` and `right` count from `base`.
template <bool kWindowed>
QUILLO_AVX512 inline __m512i EncodeGroup(const float* blended, size_t stride, uint32_t base,
                                         __m512i left, __m512i right, __m512 weight,
                                         const uint32_t* words) {
    const __m512 red = BlendChannel<kWindowed>(blended, base, left, right, weight);
    const __m512 green = BlendChannel<kWindowed>(blended + stride, base, left, right, weight);
    const __m512 blue = BlendChannel<kWindowed>(blended + 2 * stride, base, left, right, weight);
    __mmask16 redAmbiguous, greenAmbiguous, blueAmbiguous;
    __m512i redEstimate = EstimateGamma(red, redAmbiguous);
    __m512i greenEstimate = EstimateGamma(green, greenAmbiguous);
    __m512i blueEstimate = EstimateGamma(blue, blueAmbiguous);
    if (__builtin_expect((redAmbiguous | greenAmbiguous | blueAmbiguous) != 0, 0)) {
        if (redAmbiguous != 0) redEstimate = FromTable(red, redEstimate, redAmbiguous, words);
        if (greenAmbiguous != 0) {
            greenEstimate = FromTable(green, greenEstimate, greenAmbiguous, words);
        }
        if (blueAmbiguous != 0) blueEstimate = FromTable(blue, blueEstimate, blueAmbiguous, words);
    }
    // Each estimate shifted to put its byte in place; a texel takes byte 0 from red's, byte 1
    // from green's, byte 2 from blue's (ternary logic 0xCA: first ? second : third, bitwise),
    // and opaque alpha.
    const __m512i redGreen =
        _mm512_ternarylogic_epi32(_mm512_set1_epi32(0x000000FF), _mm512_srli_epi32(redEstimate, 15),
                                  _mm512_srli_epi32(greenEstimate, 7), 0xCA);
    const __m512i colour = _mm512_ternarylogic_epi32(_mm512_set1_epi32(0x0000FFFF), redGreen,
                                                     _mm512_slli_epi32(blueEstimate, 1), 0xCA);
    return _mm512_or_si512(colour, _mm512_set1_epi32(static_cast<int>(0xFF000000u)));
}

// The first `n` (at most 16) texels at `destination`: one streaming store for a whole, aligned
// group, a masked plain store otherwise.
QUILLO_AVX512 inline void StoreTexels(__m512i texels, uint8_t* destination, size_t n) {
    if (n == kLanes && (reinterpret_cast<uintptr_t>(destination) & 63) == 0) {
        _mm512_stream_si512(reinterpret_cast<__m512i*>(destination), texels);
    } else {
        _mm512_mask_storeu_epi32(destination, static_cast<__mmask16>((1u << n) - 1), texels);
    }
}

QUILLO_AVX512 void EncodeAvx512(const EightBitFilter& filter, const float* blended, uint8_t* out) {
    const size_t width = filter.width, stride = PlaneStride(filter.columnCount);
    for (size_t i = 0; i < width; i += kLanes) {
        // Past the end the taps repeat the last one: blending them is harmless.
        const __m512i left = _mm512_loadu_si512(filter.tapLeft + i);
        const __m512i right = _mm512_loadu_si512(filter.tapRight + i);
        const __m512 weight = _mm512_loadu_ps(filter.tapWeight + i);
        const uint32_t base = filter.groupBase[i / kLanes];
        const __m512i texels =
            base != EightBitFilter::kGatheredGroup
                ? EncodeGroup<true>(blended, stride, base, left, right, weight, filter.gamma)
                : EncodeGroup<false>(blended, stride, 0, left, right, weight, filter.gamma);
        StoreTexels(texels, out + 4 * i, width - i < kLanes ? width - i : kLanes);
    }
    EndStreamingStores();
}

// ---- Texel-centred rows.

QUILLO_AVX512 void TexelCentredRowAvx512(const uint8_t* in, size_t width, const uint8_t* bytes,
                                         bool swap, uint8_t* out) {
    const TablePlane table = LoadPlane(bytes, 0);
    // Within each texel of a 128-bit lane: bytes 2 1 0 3, or in place.
    const __m512i order = _mm512_broadcast_i32x4(
        swap ? _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15)
             : _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    const __m512i opaque = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
    for (size_t i = 0; i < width; i += kLanes) {
        const size_t n = width - i < kLanes ? width - i : kLanes;
        const __mmask16 lanes = static_cast<__mmask16>((1u << n) - 1);
        _mm_prefetch(reinterpret_cast<const char*>(in + 4 * i + kPrefetchDistance), _MM_HINT_T0);
        const __m512i texels =
            _mm512_shuffle_epi8(n == kLanes ? _mm512_loadu_si512(in + 4 * i)
                                            : _mm512_maskz_loadu_epi32(lanes, in + 4 * i),
                                order);
        const __m512i looked = LookUpPlane(table, texels, _mm512_movepi8_mask(texels));
        const __m512i result = _mm512_or_si512(looked, opaque);
        StoreTexels(result, out + 4 * i, n);
    }
    EndStreamingStores();
}

}  // namespace

bool Avx512Supported() {
    // Initialising first makes the answer right even from a static constructor that runs
    // before libgcc's. The checks include the system saving the vector and mask registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
}

const EightBitKernels& Avx512Kernels() {
    static const EightBitKernels kernels{PlanarRowFloats, DecodeAvx512, BlendAvx512, EncodeAvx512,
                                         TexelCentredRowAvx512};
    return kernels;
}

QUILLO_AVX512 void GammaBytesAvx512(const float* c, size_t count, uint8_t* out) {
    const uint32_t* words = GammaToUnorm8::Instance().words();
    for (size_t i = 0; i < count; i += kLanes) {
        const __mmask16 lanes = count - i < kLanes ? (1u << (count - i)) - 1 : 0xFFFF;
        _mm512_mask_cvtepi32_storeu_epi8(out + i, lanes,
                                         GammaBytes16(_mm512_maskz_loadu_ps(lanes, c + i), words));
    }
}

#else  // no AVX-512 kernels in this build

bool Avx512Supported() {
    return false;
}

const EightBitKernels& Avx512Kernels() {
    return KernelsFor(InstructionSet::Portable);
}

void GammaBytesAvx512(const float* c, size_t count, uint8_t* out) {
    const GammaToUnorm8& table = GammaToUnorm8::Instance();
    for (size_t i = 0; i < count; ++i) out[i] = table(c[i]);
}

#endif

}  // namespace quillo::gpu::software
