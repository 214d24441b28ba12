// The variant of the pixel loops (mixer/PixelKernel.h) and block decoders (tracks/DecodeBlocks.h)
// a build runs.
#pragma once

// Which variant of each pixel loop and block decoder runs. By default the widest the processor
// has: vectors of 64, 32 or 16 bytes on x86-64, and the plain kernels (32-bit integer code, two
// RGB565 pixels per word, tables) where no vector unit exists, as on the console's ARM9. A build
// may force one (LOOPMIXER_FORCE_KERNELS = 0 plain, 16, 32 or 64) so that the tests run each.
#if defined(LOOPMIXER_FORCE_KERNELS)
#define PLAIN_KERNELS (LOOPMIXER_FORCE_KERNELS == 0)
#elif defined(__SSE2__) || defined(__ARM_NEON) || defined(__ALTIVEC__) || defined(__aarch64__)
#define PLAIN_KERNELS 0
#else
#define PLAIN_KERNELS 1
#endif
