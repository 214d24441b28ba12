// Marks a whole-frame pixel loop. The loops are plain integer code that the compiler vectorises;
// on x86-64 wider copies are built as well (AVX2, and AVX-512 with GCC) and the widest the CPU runs
// is picked at load time: the baseline SSE2 copy moves a quarter as many pixels per instruction as
// the library's frame copy does. GCC's default cost model at -O2 skips loops whose length is not a
// constant, hence the dynamic model.
#pragma once

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
#define PIXEL_KERNEL \
    __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"), noinline, optimize("vect-cost-model=dynamic")))
#elif defined(__x86_64__) && defined(__linux__) && defined(__clang__)
#define PIXEL_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define PIXEL_KERNEL __attribute__((noinline))
#endif

// 32 pixels at a time, as 16-bit lanes or as the 64 bytes they are made of, for the few loops
// whose best form needs both views of the same register (byte-wise min and max clamp red and blue
// side by side, which scalar code cannot express). GCC and clang lower the width to whatever the
// clone's instruction set offers. Loads and stores go through memcpy: unaligned and alias-safe.
#include <cstdint>
#include <cstring>
typedef uint16_t PixelLanes __attribute__((vector_size(64)));
typedef uint8_t PixelBytes __attribute__((vector_size(64)));
enum { LanePixels = 32 };
inline void loadLanes(PixelLanes& v, const uint16_t* p) { std::memcpy(&v, p, sizeof v); }
inline void storeLanes(uint16_t* p, const PixelLanes& v) { std::memcpy(p, &v, sizeof v); }
// A load the compiler keeps in a register instead of folding it into every instruction that uses
// it: when the address is not aligned, each folded use splits a cache line again.
typedef uint16_t UnalignedLanes __attribute__((vector_size(64), aligned(2)));
#define loadOnce(p) (*static_cast<const volatile UnalignedLanes*>(static_cast<const volatile void*>(p)))
