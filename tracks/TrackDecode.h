// What the frame decoders share between their compilations: the per-frame plan, the run-length
// tables, and the block loops of each instruction set (tracks/DecodeBlocks.h, compiled once per
// set; the fastest the processor has is chosen once at run time).
#pragma once
#include <cstdint>

class Track;

// What both formats settle once per frame: whether GLITCH 2 draws ids as colours, whether the
// alpha plane is written, the frame's mode words and the deck frame.
struct FramePlan {
    bool idColours;
    bool writeAlpha;
    const uint16_t* words;
    uint16_t* frame;
};

// A run byte R holds two run lengths: narrow R >> 5 and (R >> 2) & 7 (plus 1 each), wide R >> 4
// and R & 15. Tables of them, and of their sum, replace the shifts in the run loops. One copy for
// every compilation, built by the portable one, so that no start-up code runs wide instructions.
struct RunLengths {
    uint8_t first[2][256], second[2][256], pair[2][256];  // [0] narrow, [1] wide
    // A narrow run byte's colour kinds (bits 1 and 0): 0xFF for a palette index, else 0, and the
    // bytes each colour takes (1 or 2).
    uint8_t firstPalette[256], secondPalette[256], firstBytes[256], secondBytes[256];
    RunLengths();
};
extern const RunLengths runLengths;

using DrawBlocks = void (*)(Track&, const FramePlan&);
struct BlockDecoders {
    DrawBlocks format17, format18;
};

namespace decodePortable {
extern const BlockDecoders decoders;
}
#include "core/KernelVariant.h"
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !PLAIN_KERNELS && \
    (!defined(LOOPMIXER_FORCE_KERNELS) || LOOPMIXER_FORCE_KERNELS >= 32)
#define LOOPMIXER_WIDE_DECODERS 1
namespace decodeAvx2 {
extern const BlockDecoders decoders;
}
#endif
