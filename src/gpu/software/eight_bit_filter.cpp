#include "gpu/software/eight_bit_filter.h"

#include <cstring>

#include "gpu/software/eight_bit_filter_avx512.h"
#include "gpu/software/streaming_copy.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define QUILLO_HAS_AVX2_KERNELS 1
// Not "avx2,fma": with FMA available the compiler could fuse a blend's multiply and add.
#define QUILLO_AVX2 __attribute__((target("avx2")))
#endif

namespace quillo::gpu::software {

namespace {

using Tap = EightBitFilter::Tap;

uint32_t ReadWord(const uint8_t* p) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "texels are read as host words");
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The pixels before `out` reaches a multiple of `bytes` (all of them when a texel is not even
// word-aligned, which leaves every store to the plain copies).
size_t PixelsBeforeAlignment(const uint8_t* out, size_t bytes, size_t width) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(out);
    if ((address & 3) != 0) return width;
    const size_t head = ((bytes - (address & (bytes - 1))) & (bytes - 1)) / 4;
    return head < width ? head : width;
}

size_t InterleavedRowFloats(size_t columnCount) {
    return 4 * columnCount;
}

// ---- Plain C++: the model the vector versions follow.

void BlendPortable(const float* a, const float* b, float w, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = a[i] + (b[i] - a[i]) * w;
}

void DecodePortable(const EightBitFilter& filter, const uint8_t* row, float* out,
                    const float* upper, float w, float* blended) {
    float* decoded = out;
    for (size_t k = 0; k < filter.columnCount; ++k, out += 4) {
        const uint8_t* texel = row + static_cast<size_t>(filter.columns[k]) * 4;
        for (int lane = 0; lane < 3; ++lane) out[lane] = filter.decode[texel[filter.order[lane]]];
        out[3] = 0.0f;
    }
    if (upper != nullptr) BlendPortable(upper, decoded, w, blended, filter.columnCount * 4);
}

uint8_t GammaByte(float c, const uint32_t* words) {
    if (!(c > 0.0f)) c = 0.0f;
    if (c > 1.0f) c = 1.0f;
    uint32_t bits;
    std::memcpy(&bits, &c, sizeof bits);
    const uint32_t word = words[bits >> 16];
    return static_cast<uint8_t>((word >> 17) - ((word & 0x1FFFFu) > (bits & 0xFFFFu)));
}

void EncodePortable(const EightBitFilter& filter, const float* blended, uint8_t* out) {
    for (size_t i = 0; i < filter.width; ++i, out += 4) {
        const Tap& tap = filter.taps[i];
        const float* left = blended + tap.left;
        const float* right = blended + tap.right;
        for (int lane = 0; lane < 3; ++lane) {
            out[lane] =
                GammaByte(left[lane] + (right[lane] - left[lane]) * tap.weight, filter.gamma);
        }
        out[3] = 255;
    }
}

// ---- SSE2.

#if defined(__SSE2__)

// Source texel `in` as used column k: decoded into `out` and, with kBlend, blended vertically
// with `upper` into `blended` (both null without kBlend).
template <bool kSwap, bool kBlend>
inline __attribute__((always_inline)) void DecodeTexel(const float* decode, const uint8_t* in,
                                                       size_t k, float* out, const float* upper,
                                                       __m128 weight, float* blended) {
    const uint32_t texel = ReadWord(in);
    const float low = decode[texel & 255], green = decode[(texel >> 8) & 255],
                high = decode[(texel >> 16) & 255];
    const __m128 lower =
        kSwap ? _mm_setr_ps(high, green, low, 0.0f) : _mm_setr_ps(low, green, high, 0.0f);
    _mm_storeu_ps(out + 4 * k, lower);
    if (kBlend) {
        const __m128 a = _mm_loadu_ps(upper + 4 * k);
        _mm_storeu_ps(blended + 4 * k, _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(lower, a), weight)));
    }
}

// Decoding for SSE2 and AVX2 alike (compiled into each; with AVX2 the compiler builds the
// vectors with fewer instructions). Red and blue either keep their places or swap.
template <bool kSwap, bool kContiguous, bool kBlend>
inline __attribute__((always_inline)) void DecodeColumns(const EightBitFilter& filter,
                                                         const uint8_t* row, float* out,
                                                         const float* upper, float w,
                                                         float* blended) {
    const float* decode = filter.decode;
    const uint32_t* columns = filter.columns;
    const uint8_t* first = row + static_cast<size_t>(columns[0]) * 4;
    const __m128 weight = _mm_set1_ps(w);
    for (size_t k = 0; k < filter.columnCount; ++k) {
        DecodeTexel<kSwap, kBlend>(
            decode, kContiguous ? first + 4 * k : row + static_cast<size_t>(columns[k]) * 4, k, out,
            upper, weight, blended);
    }
}

template <bool kSwap, bool kContiguous>
inline __attribute__((always_inline)) void DecodeWithOrder(const EightBitFilter& filter,
                                                           const uint8_t* row, float* out,
                                                           const float* upper, float w,
                                                           float* blended) {
    if (upper != nullptr) {
        DecodeColumns<kSwap, kContiguous, true>(filter, row, out, upper, w, blended);
    } else {
        DecodeColumns<kSwap, kContiguous, false>(filter, row, out, upper, w, blended);
    }
}

inline __attribute__((always_inline)) void DecodeAny(const EightBitFilter& filter,
                                                     const uint8_t* row, float* out,
                                                     const float* upper, float w, float* blended) {
    if (filter.columnCount == 0) return;
    const bool swap = filter.order[0] == 2;
    if (swap && filter.contiguous) {
        DecodeWithOrder<true, true>(filter, row, out, upper, w, blended);
    } else if (swap) {
        DecodeWithOrder<true, false>(filter, row, out, upper, w, blended);
    } else if (filter.contiguous) {
        DecodeWithOrder<false, true>(filter, row, out, upper, w, blended);
    } else {
        DecodeWithOrder<false, false>(filter, row, out, upper, w, blended);
    }
}

void DecodeSse2(const EightBitFilter& filter, const uint8_t* row, float* out, const float* upper,
                float w, float* blended) {
    DecodeAny(filter, row, out, upper, w, blended);
}

void BlendSse2(const float* a, const float* b, float w, float* out, size_t count) {
    const __m128 weight = _mm_set1_ps(w);
    for (size_t i = 0; i < count; i += 4) {
        const __m128 x = _mm_loadu_ps(a + i);
        _mm_storeu_ps(out + i,
                      _mm_add_ps(x, _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(b + i), x), weight)));
    }
}

// One pixel's output bytes, one per 32-bit lane (lane 3 is replaced by opaque alpha later).
inline __m128i EncodePixelSse2(const float* blended, const Tap& tap, const uint32_t* gamma) {
    const __m128 a = _mm_loadu_ps(blended + tap.left);
    const __m128 b = _mm_loadu_ps(blended + tap.right);
    __m128 c = _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), _mm_set1_ps(tap.weight)));
    // maxps gives its second operand for NaN and for -0, so both become +0.
    c = _mm_min_ps(_mm_max_ps(c, _mm_setzero_ps()), _mm_set1_ps(1.0f));
    const __m128i bits = _mm_castps_si128(c);
    alignas(16) uint32_t bucket[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(bucket), _mm_srli_epi32(bits, 16));
    const __m128i word =
        _mm_setr_epi32(static_cast<int>(gamma[bucket[0]]), static_cast<int>(gamma[bucket[1]]),
                       static_cast<int>(gamma[bucket[2]]), 0);
    const __m128i below = _mm_cmpgt_epi32(_mm_and_si128(word, _mm_set1_epi32(0x1FFFF)),
                                          _mm_and_si128(bits, _mm_set1_epi32(0xFFFF)));
    return _mm_add_epi32(_mm_srli_epi32(word, 17), below);
}

// Four texels from taps[i..i+4).
inline __m128i EncodeFourSse2(const float* blended, const Tap* taps, const uint32_t* gamma) {
    const __m128i low = _mm_packs_epi32(EncodePixelSse2(blended, taps[0], gamma),
                                        EncodePixelSse2(blended, taps[1], gamma));
    const __m128i high = _mm_packs_epi32(EncodePixelSse2(blended, taps[2], gamma),
                                         EncodePixelSse2(blended, taps[3], gamma));
    return _mm_or_si128(_mm_packus_epi16(low, high), _mm_set1_epi32(static_cast<int>(0xFF000000u)));
}

void EncodeSse2(const EightBitFilter& filter, const float* blended, uint8_t* out) {
    const size_t width = filter.width;
    const size_t head = PixelsBeforeAlignment(out, 16, width);
    alignas(16) uint8_t group[16];
    auto partial = [&](size_t i, size_t count) {
        _mm_store_si128(reinterpret_cast<__m128i*>(group),
                        EncodeFourSse2(blended, filter.taps + i, filter.gamma));
        std::memcpy(out + 4 * i, group, 4 * count);
    };
    size_t i = 0;
    for (; i < head; i += 4) partial(i, head - i < 4 ? head - i : 4);
    i = head;
    for (; i + 4 <= width; i += 4) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(out + 4 * i),
                         EncodeFourSse2(blended, filter.taps + i, filter.gamma));
    }
    if (i < width) partial(i, width - i);
    EndStreamingStores();
}

#endif  // __SSE2__

// ---- AVX2.

#if defined(QUILLO_HAS_AVX2_KERNELS)

// Contiguous columns two at a time: one 8-byte read, whole 8-float vectors.
template <bool kSwap, bool kBlend>
QUILLO_AVX2 inline void DecodePairsAvx2(const EightBitFilter& filter, const uint8_t* row,
                                        float* out, const float* upper, float w, float* blended) {
    const float* decode = filter.decode;
    const uint8_t* in = row + static_cast<size_t>(filter.columns[0]) * 4;
    const size_t count = filter.columnCount;
    const __m256 weight = _mm256_set1_ps(w);
    size_t k = 0;
    for (; k + 2 <= count; k += 2) {
        uint64_t texels;
        std::memcpy(&texels, in + 4 * k, sizeof texels);
        const float l0 = decode[texels & 255], g0 = decode[(texels >> 8) & 255],
                    h0 = decode[(texels >> 16) & 255], l1 = decode[(texels >> 32) & 255],
                    g1 = decode[(texels >> 40) & 255], h1 = decode[(texels >> 48) & 255];
        const __m256 lower = kSwap ? _mm256_setr_ps(h0, g0, l0, 0.0f, h1, g1, l1, 0.0f)
                                   : _mm256_setr_ps(l0, g0, h0, 0.0f, l1, g1, h1, 0.0f);
        _mm256_storeu_ps(out + 4 * k, lower);
        if (kBlend) {
            const __m256 a = _mm256_loadu_ps(upper + 4 * k);
            _mm256_storeu_ps(blended + 4 * k,
                             _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(lower, a), weight)));
        }
    }
    if (k < count) {
        DecodeTexel<kSwap, kBlend>(decode, in + 4 * k, k, out, upper, _mm_set1_ps(w), blended);
    }
}

QUILLO_AVX2 void DecodeAvx2(const EightBitFilter& filter, const uint8_t* row, float* out,
                            const float* upper, float w, float* blended) {
    if (!filter.contiguous || filter.columnCount == 0) {
        DecodeAny(filter, row, out, upper, w, blended);
    } else if (filter.order[0] == 2) {
        if (upper != nullptr) {
            DecodePairsAvx2<true, true>(filter, row, out, upper, w, blended);
        } else {
            DecodePairsAvx2<true, false>(filter, row, out, upper, w, blended);
        }
    } else if (upper != nullptr) {
        DecodePairsAvx2<false, true>(filter, row, out, upper, w, blended);
    } else {
        DecodePairsAvx2<false, false>(filter, row, out, upper, w, blended);
    }
}

QUILLO_AVX2 void BlendAvx2(const float* a, const float* b, float w, float* out, size_t count) {
    const __m256 weight = _mm256_set1_ps(w);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 x = _mm256_loadu_ps(a + i);
        _mm256_storeu_ps(
            out + i,
            _mm256_add_ps(x, _mm256_mul_ps(_mm256_sub_ps(_mm256_loadu_ps(b + i), x), weight)));
    }
    for (; i < count; i += 4) {
        const __m128 x = _mm_loadu_ps(a + i);
        _mm_storeu_ps(out + i, _mm_add_ps(x, _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(b + i), x),
                                                        _mm256_castps256_ps128(weight))));
    }
}

QUILLO_AVX2 inline __m256 LoadPair(const float* first, const float* second) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(first)), _mm_loadu_ps(second),
                                1);
}

QUILLO_AVX2 inline __m256i BlendPairAvx2(const float* blended, const Tap* t) {
    const __m256 a = LoadPair(blended + t[0].left, blended + t[1].left);
    const __m256 b = LoadPair(blended + t[0].right, blended + t[1].right);
    const __m256 w = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_set1_ps(t[0].weight)),
                                          _mm_set1_ps(t[1].weight), 1);
    const __m256 c = _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(b, a), w));
    // maxps gives its second operand for NaN and for -0, so both become +0.
    return _mm256_castps_si256(
        _mm256_min_ps(_mm256_max_ps(c, _mm256_setzero_ps()), _mm256_set1_ps(1.0f)));
}

// Output bytes of two pixels, one per 32-bit lane.
QUILLO_AVX2 inline __m256i GammaPairAvx2(__m256i bits, const uint32_t* gamma) {
    // Buckets out of the vector two at a time where one move does it.
    const __m256i bucket = _mm256_srli_epi32(bits, 16);
    const __m128i first = _mm256_castsi256_si128(bucket);
    const __m128i second = _mm256_extracti128_si256(bucket, 1);
    const uint64_t first01 = static_cast<uint64_t>(_mm_cvtsi128_si64(first));
    const uint64_t second01 = static_cast<uint64_t>(_mm_cvtsi128_si64(second));
    const __m256i word =
        _mm256_setr_epi32(static_cast<int>(gamma[static_cast<uint32_t>(first01)]),
                          static_cast<int>(gamma[first01 >> 32]),
                          static_cast<int>(gamma[_mm_extract_epi32(first, 2)]), 0,
                          static_cast<int>(gamma[static_cast<uint32_t>(second01)]),
                          static_cast<int>(gamma[second01 >> 32]),
                          static_cast<int>(gamma[_mm_extract_epi32(second, 2)]), 0);
    const __m256i below = _mm256_cmpgt_epi32(_mm256_and_si256(word, _mm256_set1_epi32(0x1FFFF)),
                                             _mm256_and_si256(bits, _mm256_set1_epi32(0xFFFF)));
    return _mm256_add_epi32(_mm256_srli_epi32(word, 17), below);
}

// The eight texels, opaque.
QUILLO_AVX2 inline __m256i GammaEightAvx2(__m256i c01, __m256i c23, __m256i c45, __m256i c67,
                                          const uint32_t* gamma) {
    // Packing works within 128-bit halves: texels come out as 0 2 4 6 1 3 5 7.
    const __m256i p01 = GammaPairAvx2(c01, gamma);
    const __m256i p23 = GammaPairAvx2(c23, gamma);
    const __m256i p45 = GammaPairAvx2(c45, gamma);
    const __m256i p67 = GammaPairAvx2(c67, gamma);
    const __m256i bytes =
        _mm256_packus_epi16(_mm256_packs_epi32(p01, p23), _mm256_packs_epi32(p45, p67));
    const __m256i texels =
        _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    return _mm256_or_si256(texels, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
}

// Groups of eight texels, the first one short when `out` is not 32-byte aligned, the last one
// short at the end of the row. A group's colours are blended one group ahead of its table
// look-ups, so the two long chains of dependent instructions overlap.
QUILLO_AVX2 void EncodeAvx2(const EightBitFilter& filter, const float* blended, uint8_t* out) {
    const size_t width = filter.width;
    const Tap* taps = filter.taps;
    const uint32_t* gamma = filter.gamma;
    const size_t head = PixelsBeforeAlignment(out, 32, width);
    alignas(32) uint8_t group[32];
    size_t start = 0;
    __m256i c01 = BlendPairAvx2(blended, taps), c23 = BlendPairAvx2(blended, taps + 2);
    __m256i c45 = BlendPairAvx2(blended, taps + 4), c67 = BlendPairAvx2(blended, taps + 6);
    while (start < width) {
        const size_t end = start < head ? head : start + 8 < width ? start + 8 : width;
        const size_t next = start < head ? head : start + 8;
        // Past the end the taps repeat the last one: blending them is harmless.
        const Tap* ahead = taps + (next < width ? next : start);
        const __m256i n01 = BlendPairAvx2(blended, ahead), n23 = BlendPairAvx2(blended, ahead + 2);
        const __m256i n45 = BlendPairAvx2(blended, ahead + 4),
                      n67 = BlendPairAvx2(blended, ahead + 6);
        const __m256i texels = GammaEightAvx2(c01, c23, c45, c67, gamma);
        if (start >= head && end == start + 8) {
            _mm256_stream_si256(reinterpret_cast<__m256i*>(out + 4 * start), texels);
        } else {
            _mm256_store_si256(reinterpret_cast<__m256i*>(group), texels);
            std::memcpy(out + 4 * start, group, 4 * (end - start));
        }
        c01 = n01, c23 = n23, c45 = n45, c67 = n67;
        start = next;
    }
    EndStreamingStores();
}

#endif  // QUILLO_HAS_AVX2_KERNELS

}  // namespace

void GroupTaps(const EightBitFilter::Tap* taps, size_t count, uint32_t* groupBase, uint32_t* left,
               uint32_t* right, float* weight) {
    constexpr size_t kGroup = EightBitFilter::kTapPadding;
    for (size_t first = 0; first < count; first += kGroup) {
        uint32_t base = taps[first].left / 4;
        for (size_t i = first; i < first + kGroup; ++i) {
            // Unsigned: a column before the base is far outside the window too.
            if (taps[i].left / 4 - base >= EightBitFilter::kWindow ||
                taps[i].right / 4 - base >= EightBitFilter::kWindow) {
                base = EightBitFilter::kGatheredGroup;
            }
        }
        groupBase[first / kGroup] = base;
        const uint32_t from = base == EightBitFilter::kGatheredGroup ? 0 : base;
        for (size_t i = first; i < first + kGroup; ++i) {
            left[i] = taps[i].left / 4 - from;
            right[i] = taps[i].right / 4 - from;
            weight[i] = taps[i].weight;
        }
    }
}

void DecodePlanes(const float* decode, uint8_t* planes) {
    for (int value = 0; value < 256; ++value) {
        uint32_t bits;
        std::memcpy(&bits, &decode[value], sizeof bits);
        for (int m = 0; m < 4; ++m) planes[256 * m + value] = static_cast<uint8_t>(bits >> (8 * m));
    }
}

bool Supports(InstructionSet set) {
    switch (set) {
        case InstructionSet::Portable:
            return true;
        case InstructionSet::Sse2:
#if defined(__SSE2__)
            return true;
#else
            return false;
#endif
        case InstructionSet::Avx2:
#if defined(QUILLO_HAS_AVX2_KERNELS)
            // Also checks that the system saves the vector registers. Initialising first makes
            // the answer right even from a static constructor that runs before libgcc's.
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
        case InstructionSet::Avx512:
            return Avx512Supported();
    }
    return false;
}

InstructionSet BestInstructionSet() {
    if (Supports(InstructionSet::Avx512)) return InstructionSet::Avx512;
    if (Supports(InstructionSet::Avx2)) return InstructionSet::Avx2;
    if (Supports(InstructionSet::Sse2)) return InstructionSet::Sse2;
    return InstructionSet::Portable;
}

const EightBitKernels& KernelsFor(InstructionSet set) {
    static const EightBitKernels portable{InterleavedRowFloats, DecodePortable, BlendPortable,
                                          EncodePortable, nullptr};
#if defined(__SSE2__)
    static const EightBitKernels sse2{InterleavedRowFloats, DecodeSse2, BlendSse2, EncodeSse2,
                                      nullptr};
    if (set == InstructionSet::Sse2) return sse2;
#endif
#if defined(QUILLO_HAS_AVX2_KERNELS)
    static const EightBitKernels avx2{InterleavedRowFloats, DecodeAvx2, BlendAvx2, EncodeAvx2,
                                      nullptr};
    if (set == InstructionSet::Avx2) return avx2;
#endif
    if (set == InstructionSet::Avx512 && Avx512Supported()) return Avx512Kernels();
    return portable;
}

}  // namespace quillo::gpu::software
