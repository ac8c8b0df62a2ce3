// The AVX-512 version of the filtered 8-bit eye pass (eight_bit_filter.h), compiled for that
// instruction set through function attributes: call it only where Avx512Supported().
#pragma once

#include <cstddef>
#include <cstdint>

#include "gpu/software/eight_bit_filter.h"

namespace quillo::gpu::software {

// Built in (x86-64 GCC or Clang) and available on this processor and system: AVX-512 F, BW and
// VBMI.
bool Avx512Supported();

const EightBitKernels& Avx512Kernels();

// The AVX-512 gamma step on its own, for `count` floats that are 0 or in [2^-31, 1 + 2^-20]
// (all that the pass produces): out[i] is GammaToUnorm8 of c[i].
void GammaBytesAvx512(const float* c, size_t count, uint8_t* out);

}  // namespace quillo::gpu::software
