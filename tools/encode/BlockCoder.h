// The cheapest dictionary entry for one 8x8 block: colour runs along the best of the eight scan
// orders (in the narrow, wide or four-run form), palette or direct raw pixels, or (Format17) one
// flat colour. Each pixel of the entry's picture stays within the tolerance of the block's.
#pragma once
#include <cstdint>

#include "tools/clip/ClipWriter.h"

namespace encode {

// What a block may lose: the largest difference per pixel and channel, in RGB565 levels (red and
// blue `level`, green twice that, its levels being half as wide), and the largest squared error
// over the block (channels widened to 8 bits, summed over its 64 pixels; negative: no limit).
// lambda > 0 makes the coder weigh bytes against error (bytes + lambda x squared error) instead
// of taking the fewest bytes within the level.
struct Tolerance {
    int level = 0;
    int red = 0, green = 0, blue = 0;
    int64_t budget = -1;
    float lambda = 0;
    explicit Tolerance(int level_ = 0, int64_t budget_ = -1, float lambda_ = 0)
        : level(level_), red(level_), green(2 * level_), blue(level_), budget(budget_), lambda(lambda_) {}
};

// Squared error of two blocks, channels widened to 8 bits.
int64_t blockError(const uint16_t a[64], const uint16_t b[64]);
// True when a may stand for b: every pixel within the level and the block within the budget.
bool withinTolerance(const uint16_t a[64], const uint16_t b[64], const Tolerance& t);

// The clip's palette and, for every RGB565 colour, the index of the nearest palette colour.
struct Palette {
    uint16_t colours[256] = {};
    int size = 0;
    uint8_t nearest[65536] = {};
    void build();  // fills nearest from colours[0..size-1]
};

struct BlockCoding {
    clipwriter::ClipEntry entry;
    uint8_t fillMode = 0;  // the mode the block is shown with (Format18: 1..6, Format17: 0..5)
    uint16_t picture[64];  // what the decoder draws, row order
};

// Codes one block (row-order colours, alpha 0..15). hasAlpha is the clip's; the entry's alpha is
// always exact.
void codeBlock(int format, bool hasAlpha, const uint16_t colour[64], const uint8_t alpha[64],
               const Palette& palette, const Tolerance& tolerance, BlockCoding& out);

}  // namespace encode
