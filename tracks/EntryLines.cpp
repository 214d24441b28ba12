#include "tracks/EntryLines.h"

#include <cstring>

#include "core/KernelVariant.h"

bool expandsEntryLines() {
#if defined(__SSE2__) && !PLAIN_KERNELS
    return true;
#else
    return false;
#endif
}

namespace {

// Runs of at most N pixels, each written whole at N pixels (the next run overwrites the excess;
// the line has room for the last one), lengths from the run byte's two fields.
template <int N>
void expand(const uint8_t* p, const uint16_t* palette, uint16_t* line) {
    constexpr bool Narrow = N == 8;
    const uint8_t* colours = p;  // after the run byte whose runs reach 64 (exactly 64: checked)
    for (int total = 0; total < 64; colours++)
        total += Narrow ? (*colours >> 5) + ((*colours >> 2) & 7) + 2 : (*colours >> 4) + (*colours & 15) + 2;
    // One run from out on: its colour at colours, written whole; where the next run starts.
    auto run = [&](uint16_t* out, int length, bool fromPalette) {
        uint16_t c;
        if (fromPalette) {
            c = palette[*colours++];
        } else {
            c = uint16_t(colours[0] | colours[1] << 8);
            colours += 2;
        }
        for (int i = 0; i < N; i++) out[i] = c;
        return out + length;
    };
    for (uint16_t* out = line; out < line + 64; p++) {
        const unsigned R = *p;
        out = run(out, Narrow ? (R >> 5) + 1 : (R >> 4) + 1, !Narrow || (R & 2));
        if (out < line + 64) out = run(out, Narrow ? ((R >> 2) & 7) + 1 : (R & 15) + 1, !Narrow || (R & 1));
    }
}

}  // namespace

void expandEntryLine(const uint8_t* p, int kind, const uint16_t* palette, uint16_t* line) {
    uint16_t wide[64 + 16];
    if ((kind & 6) == 4)
        expand<8>(p, palette, wide);
    else
        expand<16>(p, palette, wide);
    std::memcpy(line, wide, 128);
}
