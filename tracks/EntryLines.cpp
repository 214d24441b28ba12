#include "tracks/EntryLines.h"

#include "core/KernelVariant.h"

bool expandsEntryLines() {
#if defined(__SSE2__) && !PLAIN_KERNELS
    return true;
#else
    return false;
#endif
}

void expandEntryLine(const uint8_t* p, int kind, const uint16_t* palette, uint16_t* line) {
    const bool narrow = (kind & 6) == 4;
    // The run bytes: lengths and colour kinds of runs until they reach 64 (the loader checked
    // that they cover exactly 64).
    uint8_t length[64];
    bool fromPalette[64];
    int runs = 0;
    for (int total = 0; total < 64;) {
        const unsigned R = *p++;
        length[runs] = uint8_t(narrow ? (R >> 5) + 1 : (R >> 4) + 1);
        fromPalette[runs] = !narrow || (R & 2);
        total += length[runs++];
        if (total >= 64) break;
        length[runs] = uint8_t(narrow ? ((R >> 2) & 7) + 1 : (R & 15) + 1);
        fromPalette[runs] = !narrow || (R & 1);
        total += length[runs++];
    }
    for (int r = 0, x = 0; r < runs; r++) {
        uint16_t c;
        if (fromPalette[r]) {
            c = palette[*p++];
        } else {
            c = uint16_t(p[0] | p[1] << 8);
            p += 2;
        }
        for (int k = 0; k < length[r] && x < 64; k++) line[x++] = c;
    }
}
