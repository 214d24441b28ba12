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

// L is at most 187, so it is compared as a signed 16-bit number: one compare instruction where
// an unsigned compare would take two.
PIXEL_KERNEL void burnedKernel(u16* __restrict f, u16 colour) {
    for (int i = 0; i < FramePixels; i++) f[i] = int16_t(brightness(f[i])) > 89 ? colour : 0;
}

// The darkest shade plus the step to each next shade whose threshold the pixel passes: three
// compares and masks instead of a chain of branches.
PIXEL_KERNEL void gameBoyKernel(u16* __restrict f) {
    for (int i = 0; i < FramePixels; i++) {
        int16_t l = int16_t(brightness(f[i]));
        f[i] = u16(0x39E0 + (u16(-u16(l > 45)) & (0x6304 - 0x39E0)) + (u16(-u16(l > 90)) & (0xAD4D - 0x6304)) +
                   (u16(-u16(l > 135)) & (0xFFFD - 0xAD4D)));
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

// Noise d (0..19) for n pixels. The shift d - 10 is applied as "add d, clamp to 10..41 (20..83
// for green), take 10 (20) off", which keeps every step unsigned.
PIXEL_KERNEL void snowKernel(u16* __restrict f, const u16* __restrict noise, int n) {
    for (int i = 0; i < n; i++) {
        u16 v = f[i], d = noise[i];
        u16 r = u16((v >> 11) + d), g = u16(((v >> 5) & 63) + 2 * d), b = u16((v & 31) + d);
        r = r < 10 ? 10 : r > 41 ? 41 : r;
        g = g < 20 ? 20 : g > 83 ? 83 : g;
        b = b < 10 ? 10 : b > 41 ? 41 : b;
        f[i] = u16(((r - 10) << 11) | ((g - 20) << 5) | (b - 10));
    }
}

// Writes the 160x120 centre back at twice the size: every pixel into a 2x2 block, or only into
// the block's top-left pixel so that the old picture shows through as a grid.
PIXEL_KERNEL void zoomKernel(u16* __restrict f, const u16* __restrict centre, int grid) {
    for (int r = 0; r < 120; r++) {
        u16* row = f + 2 * r * FrameWidth;
        const u16* src = centre + r * 160;
        if (!grid) {
            for (int j = 0; j < 160; j++) {
                row[2 * j] = src[j];
                row[2 * j + 1] = src[j];
            }
            std::memcpy(row + FrameWidth, row, FrameWidth * sizeof(u16));
        } else {
            for (int j = 0; j < 160; j++) {
                u16 keep = row[2 * j + 1];
                row[2 * j] = src[j];
                row[2 * j + 1] = keep;
            }
        }
    }
}

// Rotates every row right by offset (1..319) pixels: new x = old (x - offset) mod 320, read from
// a copy of the frame. (Reading a row back right after rewriting it, at another alignment, would
// stall on every load.)
PIXEL_KERNEL void rotateRowsRight(u16* __restrict f, const u16* __restrict old, int offset) {
    const int keep = FrameWidth - offset;
    for (int y = 0; y < FrameHeight; y++) {
        u16* row = f + y * FrameWidth;
        const u16* from = old + y * FrameWidth;
        for (int x = 0; x < offset; x++) row[x] = from[keep + x];
        for (int x = offset; x < FrameWidth; x++) row[x] = from[x - offset];
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
    zoomKernel(f, centre.get(), value != 0);
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
    u16 shift[MaxSpan];
    for (int k = 0, j = 1; k < span; k++, j = j + 1 == n ? 0 : j + 1) shift[k] = u16(noise[j]);
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
            std::unique_ptr<u16[]> copy(new u16[FramePixels]);
            std::memcpy(copy.get(), f, FrameBytes);
            rotateRowsRight(f, copy.get(), offset);
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
