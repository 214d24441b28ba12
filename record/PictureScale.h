// The screen's RGB565 picture as 8-bit BGR0 (the byte order FFmpeg calls bgr0), each pixel a
// scale x scale square: the whole-factor nearest-neighbour enlargement that keeps pixels sharp.
#pragma once
#include <cstdint>

// The 8-bit value of a 5- or 6-bit channel repeats its top bits into the low ones, so that 31 and
// 63 become 255 and the top bits of the 8-bit value are the original channel again.
inline uint32_t rgb565ToBgr0(uint16_t p) {
    const uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
    return ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

// src: 320x240 RGB565; dst: (320 * scale) x (240 * scale) pixels of 4 bytes, rows dstStride bytes.
void scaleToBgr0(const uint16_t* src, uint8_t* dst, int dstStride, int scale);
