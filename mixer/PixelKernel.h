// Marks a whole-frame pixel loop. The loops are plain integer code that the compiler vectorises;
// on x86-64 a second copy is built for AVX2 and picked at load time, because the baseline SSE2
// copy moves half as many pixels per instruction as the library's frame copy does. GCC's default
// cost model at -O2 skips loops whose length is not a constant, hence the dynamic model.
#pragma once

#if defined(__x86_64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__))
#define PIXEL_KERNEL_CLONES target_clones("avx2", "default"),
#else
#define PIXEL_KERNEL_CLONES
#endif

#if defined(__GNUC__) && !defined(__clang__)
#define PIXEL_KERNEL __attribute__((PIXEL_KERNEL_CLONES noinline, optimize("vect-cost-model=dynamic")))
#else
#define PIXEL_KERNEL __attribute__((PIXEL_KERNEL_CLONES noinline))
#endif
