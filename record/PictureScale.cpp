#include "record/PictureScale.h"

#include <cstring>

#include "core/FrameBuffers.h"

void scaleToBgr0(const uint16_t* src, uint8_t* dst, int dstStride, int scale) {
    for (int y = 0; y < FrameHeight; y++) {
        const uint16_t* s = src + y * FrameWidth;
        uint8_t* rowBytes = dst + int64_t(y) * scale * dstStride;
        uint32_t* row = reinterpret_cast<uint32_t*>(rowBytes);
        if (scale == 1) {
            for (int x = 0; x < FrameWidth; x++) row[x] = rgb565ToBgr0(s[x]);
        } else {
            uint32_t* d = row;
            for (int x = 0; x < FrameWidth; x++) {
                const uint32_t p = rgb565ToBgr0(s[x]);
                for (int k = 0; k < scale; k++) *d++ = p;
            }
        }
        // One converted row, copied down for the other scale - 1 rows of the square.
        for (int k = 1; k < scale; k++) std::memcpy(rowBytes + k * dstStride, rowBytes, size_t(FrameWidth) * scale * 4);
    }
}
