// The compositor's filters. Each one rewrites one deck's half of mixFrames in place; the pixel
// loops are straight-line 16-bit integer code with the variant chosen before the loop starts.
#include "mixer/Filters.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/FrameBuffers.h"
#include "mixer/EffectTable.h"
#include "mixer/PixelKernel.h"

typedef uint16_t u16;

namespace {

u16* deckFrame(int deck) { return mixFrames + (deck == 0 ? 0 : FramePixels); }

// Brightness sum L = 2R + G + 2B (0..187): the three channels weighed equally on a 6-bit scale.
inline u16 brightness(u16 v) { return u16(((v >> 11) << 1) + ((v >> 5) & 63) + ((v & 31) << 1)); }

PIXEL_KERNEL void invertKernel(u16* __restrict f) {
    for (int i = 0; i < FramePixels; i++) f[i] = u16(f[i] ^ 0xFFFF);
}

PIXEL_KERNEL void burnedKernel(u16* __restrict f, u16 colour) {
    for (int i = 0; i < FramePixels; i++) f[i] = brightness(f[i]) >= 90 ? colour : 0;
}

PIXEL_KERNEL void gameBoyKernel(u16* __restrict f) {
    for (int i = 0; i < FramePixels; i++) {
        u16 l = brightness(f[i]);
        f[i] = l <= 45 ? 0x39E0 : l <= 90 ? 0x6304 : l <= 135 ? 0xAD4D : 0xFFFD;
    }
}

// HUE's brightness g = R + B + G/2 (0..93). Each tint has its own loop so that its divisors are
// constants; equal input pixels give equal outputs, which is all that skipping runs would save.
inline u16 hueLevel(u16 v) { return u16((v >> 11) + (v & 31) + ((v >> 6) & 31)); }

PIXEL_KERNEL void hueGrey(u16* __restrict f) {
    for (int i = 0; i < FramePixels; i++) {
        u16 l = u16(hueLevel(f[i]) / 3);  // at most 31
        f[i] = u16((l << 11) | (l << 6) | l);
    }
}

PIXEL_KERNEL void hueRed(u16* __restrict f) {
    for (int i = 0; i < FramePixels; i++) {
        u16 g = hueLevel(f[i]);
        u16 l = g < 31 ? g : 31;
        u16 e = u16((g - l) >> 1);
        f[i] = u16((l << 11) | (e << 6) | e);
    }
}

PIXEL_KERNEL void hueGreen(u16* __restrict f) {
    for (int i = 0; i < FramePixels; i++) {
        u16 g = hueLevel(f[i]);
        u16 l = g < 31 ? g : 31;
        u16 e = u16((g - l) >> 1);
        f[i] = u16((e << 11) | (l << 6) | e);
    }
}

PIXEL_KERNEL void hueYellow(u16* __restrict f) {
    for (int i = 0; i < FramePixels; i++) {
        u16 g = hueLevel(f[i]);
        u16 h = u16(g >> 1);
        u16 l = h < 31 ? h : 31;
        u16 e = u16(g - (l << 1));
        f[i] = u16((l << 11) | (l << 6) | e);
    }
}

// Noise shifts s (-10..9) for n pixels, repeating along the raster.
PIXEL_KERNEL void snowKernel(u16* __restrict f, const int16_t* __restrict shift, int n) {
    for (int i = 0; i < n; i++) {
        u16 v = f[i];
        int16_t s = shift[i];
        int16_t r = int16_t((v >> 11) + s), g = int16_t(((v >> 5) & 63) + 2 * s),
                b = int16_t((v & 31) + s);
        r = r < 0 ? 0 : r > 31 ? 31 : r;
        g = g < 0 ? 0 : g > 63 ? 63 : g;
        b = b < 0 ? 0 : b > 31 ? 31 : b;
        f[i] = u16((r << 11) | (g << 5) | b);
    }
}

// Doubles every pixel of a 160-pixel row into a 320-pixel row.
PIXEL_KERNEL void doubleRow(u16* __restrict dst, const u16* __restrict src) {
    for (int j = 0; j < 160; j++) {
        dst[2 * j] = src[j];
        dst[2 * j + 1] = src[j];
    }
}

}  // namespace

const char* filterName(int id) {
    static const char* const names[10] = {"NONE", "MIRROR", "SCROLL", "INVERT", "BURNED",
                                          "ZOOM", "HUE",    "GAME BOY", "GLITCH", "SNOW"};
    return id >= 0 && id < 10 ? names[id] : "NONE";
}

void applyInvert(int deck, int) { invertKernel(deckFrame(deck)); }

void applyBurned(int deck, int value) {
    static const u16 colours[4] = {0xF800, 0xF79E, 0x07E0, 0xFFE0};
    burnedKernel(deckFrame(deck), value >= 0 && value < 4 ? colours[value] : 0x0000);
}

void applyGameBoy(int deck, int) { gameBoyKernel(deckFrame(deck)); }

void applyMirror(int deck, int value) {
    u16* f = deckFrame(deck);
    const size_t rowBytes = FrameWidth * sizeof(u16);
    switch (value) {
    case 0:  // top half from the bottom half, flipped
        for (int y = 0; y < 120; y++) std::memcpy(f + y * FrameWidth, f + (239 - y) * FrameWidth, rowBytes);
        break;
    case 1:  // right half from the left half
        for (int y = 0; y < FrameHeight; y++) {
            u16* row = f + y * FrameWidth;
            for (int k = 0; k < 160; k++) row[319 - k] = row[k];
        }
        break;
    case 2:  // bottom half from the top half
        for (int k = 0; k < 120; k++) std::memcpy(f + (120 + k) * FrameWidth, f + (119 - k) * FrameWidth, rowBytes);
        break;
    case 3:  // left half from the right half
        for (int y = 0; y < FrameHeight; y++) {
            u16* row = f + y * FrameWidth;
            for (int k = 0; k < 160; k++) row[k] = row[319 - k];
        }
        break;
    default: break;
    }
}

void applyHue(int deck, int value) {
    u16* f = deckFrame(deck);
    switch (value) {
    case 0: hueGrey(f); break;
    case 1: hueRed(f); break;
    case 2: hueGreen(f); break;
    case 3: hueYellow(f); break;
    default: break;  // no such tint: the frame stays as it is
    }
}

void applyZoom(int deck, int value) {
    u16* f = deckFrame(deck);
    std::unique_ptr<u16[]> centre(new u16[160 * 120]);
    for (int r = 0; r < 120; r++) std::memcpy(&centre[r * 160], f + (60 + r) * FrameWidth + 80, 160 * sizeof(u16));
    for (int r = 0; r < 120; r++) {
        u16* row = f + 2 * r * FrameWidth;
        const u16* src = &centre[r * 160];
        if (value == 0) {
            doubleRow(row, src);
            std::memcpy(row + FrameWidth, row, FrameWidth * sizeof(u16));
        } else {
            // Only the top-left pixel of each 2x2 block: the old picture shows through as a grid.
            for (int j = 0; j < 160; j++) row[2 * j] = src[j];
        }
    }
}

void applySnow(int deck, int value) {
    static const int lengths[4] = {497, 313, 29, 7};
    if (value < 0 || value > 3) return;
    const int n = lengths[value];
    int noise[497];
    for (int k = 0; k < n; k++) noise[k] = std::rand() % 20;
    // Pixel i takes noise[(i + 1) mod n]. The shifts are laid out over a whole number of periods of
    // at least 1024 pixels, so the frame is walked in long runs that need no modulo.
    enum { MaxSpan = 497 * 3 };
    const int periods = (1024 + n - 1) / n;
    const int span = n * periods;
    int16_t shift[MaxSpan];
    for (int k = 0; k < span; k++) shift[k] = int16_t(noise[(k + 1) % n] - 10);
    u16* f = deckFrame(deck);
    for (int i = 0; i < FramePixels; i += span)
        snowKernel(f + i, shift, FramePixels - i < span ? FramePixels - i : span);
}

void applyScroll(int deck, int value, int paused) {
    int32_t offset = effectTable.effectParam(deck, Scroll) & 0xFFFF;
    if (!paused) {
        if (value == 0 || value == 3) offset = (offset - 2) & 0xFFFF;
        else if (value == 1 || value == 2) offset = (offset + 2) & 0xFFFF;
    }
    u16* f = deckFrame(deck);
    if (value == 1 || value == 3) {
        if (offset >= FrameWidth) offset = 2;
        else if (offset == 0) offset = FrameWidth;
        if (offset < FrameWidth) {
            // Rotate every row right: the last `offset` pixels wrap round to the front.
            std::unique_ptr<u16[]> tail(new u16[FrameWidth]);
            const int keep = FrameWidth - offset;
            for (int y = 0; y < FrameHeight; y++) {
                u16* row = f + y * FrameWidth;
                std::memcpy(tail.get(), row + keep, offset * sizeof(u16));
                std::memmove(row + offset, row, keep * sizeof(u16));
                std::memcpy(row, tail.get(), offset * sizeof(u16));
            }
        }
    } else if (value == 0 || value == 2) {
        if (offset > FrameHeight) offset = 2;
        else if (offset == 0) offset = FrameHeight;
        if (offset < FrameHeight) {
            std::unique_ptr<u16[]> copy(new u16[FramePixels]);
            std::memcpy(copy.get(), f, FrameBytes);
            const int keep = FrameHeight - offset;
            std::memcpy(f + offset * FrameWidth, copy.get(), size_t(keep) * FrameWidth * sizeof(u16));
            std::memcpy(f, copy.get() + keep * FrameWidth, size_t(offset) * FrameWidth * sizeof(u16));
        }
    }
    effectTable.setEffectParam(deck, Scroll, offset);
}
