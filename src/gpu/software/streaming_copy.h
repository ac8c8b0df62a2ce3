// Copies bytes into a texture row that the CPU will not read again soon (the output textures:
// the companion reads them), with stores that bypass the cache where the CPU has them. A plain
// store first reads the line it writes into the cache; at 2560x1440 and 90 frames a second that
// read doubles the memory traffic of a pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillo::gpu::software {

inline void StreamingCopy(uint8_t* destination, const uint8_t* source, size_t bytes) {
#if defined(__SSE2__)
    size_t done = 0;
    // Plain stores up to the first 16-byte boundary, streaming stores after it.
    const size_t head = (16 - (reinterpret_cast<uintptr_t>(destination) & 15)) & 15;
    if (head != 0) {
        done = head < bytes ? head : bytes;
        std::memcpy(destination, source, done);
    }
    for (; done + 16 <= bytes; done += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done));
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + done), block);
    }
    if (done < bytes) std::memcpy(destination + done, source + done, bytes - done);
    // Streaming stores are weakly ordered: make them visible before anything later (the
    // keyed-mutex release that hands the texture over) can be.
    _mm_sfence();
#else
    std::memcpy(destination, source, bytes);
#endif
}

// One texel word, little-endian, written the same way; a run of these ends with
// EndStreamingStores().
inline void StreamWord(uint8_t* destination, uint32_t word) {
#if defined(__SSE2__)
    int value;
    std::memcpy(&value, &word, sizeof value);
    _mm_stream_si32(reinterpret_cast<int*>(destination), value);
#else
    std::memcpy(destination, &word, sizeof word);
#endif
}

inline void EndStreamingStores() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

}  // namespace quillo::gpu::software
