// Marks a whole-frame pixel loop. The loops are plain integer code that the compiler vectorises;
// on x86-64 wider copies are built as well (AVX2, and AVX-512 with GCC) and the widest the CPU runs
// is picked at load time: the baseline SSE2 copy moves a quarter as many pixels per instruction as
// the library's frame copy does. GCC's default cost model at -O2 skips loops whose length is not a
// constant, hence the dynamic model.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/KernelVariant.h"

#if defined(LOOPMIXER_FORCE_KERNELS) && defined(__x86_64__) && defined(__GNUC__)
#if LOOPMIXER_FORCE_KERNELS == 64
#define PIXEL_KERNEL __attribute__((target("arch=x86-64-v4"), noinline))
#elif LOOPMIXER_FORCE_KERNELS == 32
#define PIXEL_KERNEL __attribute__((target("avx2"), noinline))
#else
#define PIXEL_KERNEL __attribute__((noinline))
#endif
#elif defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__)
#define PIXEL_KERNEL \
    __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"), noinline, optimize("vect-cost-model=dynamic")))
#elif defined(__x86_64__) && defined(__linux__) && defined(__clang__)
#define PIXEL_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define PIXEL_KERNEL __attribute__((noinline))
#endif

// Without a vector unit, the plain kernels take two pixels in one 32-bit word. Words are read and
// written through memcpy at even pixels of the frames (allocated aligned), which the compiler then
// knows to be whole aligned words: one load or store each, where a pixel pointer alone would take
// bytes. Which half holds the lower-numbered pixel depends on the byte order (pairLowFirst: the
// low half, as on the console); kernels that treat both pixels alike need not care.
inline uint32_t loadPair(const uint16_t* frame, int i) {
    uint32_t w;
    std::memcpy(&w, static_cast<const uint16_t*>(__builtin_assume_aligned(frame, 4)) + i, 4);
    return w;
}
inline void storePair(uint16_t* frame, int i, uint32_t w) {
    std::memcpy(static_cast<uint16_t*>(__builtin_assume_aligned(frame, 4)) + i, &w, 4);
}
constexpr bool pairLowFirst = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
// A value taken as it is, where the compiler would rewrite it into more instructions: a masked
// field that an ARM load shifts inside its address (mask first: one instruction; the compiler
// prefers shift, then mask), or the first part of a chain of ORs that must start from the one
// unshifted field.
inline uint32_t asIs(uint32_t v) {
    __asm__("" : "+r"(v));
    return v;
}

// Kernels written with vectors of pixels, for the few loops whose best form needs two views of the
// same register (byte-wise min and max clamp red and blue side by side, which scalar code cannot
// express). Each such kernel is a template on the vector width in bytes, built three times: 64
// bytes with AVX-512, 32 with AVX2, 16 for any other CPU; pickWidest chooses once at start-up.
// target_clones cannot serve here: one vector type for all clones is either too narrow for
// AVX-512 or, split for AVX2, goes by way of the stack whenever the loop switches views. Loads and
// stores go through memcpy: unaligned and alias-safe.
template <int Width>
struct PixelVector {
    typedef uint16_t Lanes __attribute__((vector_size(Width)));
    typedef uint8_t Bytes __attribute__((vector_size(Width)));
    // Read through a volatile pointer, a vector is loaded once and kept in a register instead of
    // being folded into every instruction that uses it: when the address is not aligned, each
    // folded use would split a cache line again.
    typedef uint16_t Unaligned __attribute__((vector_size(Width), aligned(2)));
    enum { Pixels = Width / 2 };
    // Vectors go in and out by reference: passed by value they would cross a call boundary in a
    // register the default build does not have.
    static void load(Lanes& v, const uint16_t* p) { std::memcpy(&v, p, sizeof v); }
    static void loadOnce(Lanes& v, const uint16_t* p) {
        v = *static_cast<const volatile Unaligned*>(static_cast<const volatile void*>(p));
    }
    static void store(uint16_t* p, const Lanes& v) { std::memcpy(p, &v, sizeof v); }
};

#define VECTOR_BODY __attribute__((always_inline)) inline
#if defined(__x86_64__) && defined(__GNUC__)
#define VECTOR_TARGET_64 __attribute__((target("avx512f,avx512bw,avx512cd,avx512dq,avx512vl")))
#define VECTOR_TARGET_32 __attribute__((target("avx2")))
#else
#define VECTOR_TARGET_64
#define VECTOR_TARGET_32
#endif

// Defines name64, name32 and name16 calling name<Width>(args), each built for its width.
#define VECTOR_KERNEL(name, params, args)                    \
    VECTOR_TARGET_64 void name##64 params { name<64> args; } \
    VECTOR_TARGET_32 void name##32 params { name<32> args; } \
    void name##16 params { name<16> args; }

template <class Kernel>
Kernel pickWidest(Kernel wide64, Kernel wide32, Kernel wide16) {
#if defined(LOOPMIXER_FORCE_KERNELS)
    return LOOPMIXER_FORCE_KERNELS == 64 ? wide64 : LOOPMIXER_FORCE_KERNELS == 32 ? wide32 : wide16;
#elif defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl"))
        return wide64;
    if (__builtin_cpu_supports("avx2")) return wide32;
#else
    (void)wide64;
    (void)wide32;
#endif
    return wide16;
}
