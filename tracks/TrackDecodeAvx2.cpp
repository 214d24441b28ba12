// The block loops of the frame decoders compiled for AVX2 (with BMI2), chosen at run time when the
// processor has it (tracks/TrackDecode.cpp).
#include "tracks/TrackDecode.h"

#if defined(LOOPMIXER_WIDE_DECODERS)
#include <immintrin.h>

#include <climits>
#include <cstring>

#include "core/FrameBuffers.h"
#include "tracks/Track.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,bmi,bmi2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,bmi,bmi2")
#endif

namespace decodeAvx2 {
#define DECODE_SSE2 1
#define DECODE_LEVEL 1
#include "tracks/DecodeBlocks.h"
#undef DECODE_LEVEL
}  // namespace decodeAvx2

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
