// GLITCH's block shear: rows of block ids slide right, more the lower they are, each row's left
// end taken from the end of the row above.
#include <cstring>

#include "mixer/Filters.h"
#include "mixer/Random.h"

void glitchBlocks(uint16_t* ids) {
    if (nextRandom() % 100 <= 50) return;
    uint16_t scratch[1200];
    std::memcpy(scratch, ids, sizeof scratch);
    for (int k = 1; k < 30; k++) {
        int j = (nextRandom() % k) / 2;
        // Row k starts at scratch id 39k + j: at most 39 * 29 + 14 + 39 < 1200.
        std::memcpy(ids + 40 * k, scratch + 39 * k + j, 40 * sizeof(uint16_t));
    }
}
