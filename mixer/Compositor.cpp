// The compositor: bring the decoded decks into mixFrames (copied, or read by a deck's first filter),
// filter them in a fixed order, blend deck 1 onto deck 0, fade and flash, present into the screen's
// memory and draw the playback line. Each blend mode and colour pass has its own loop, chosen once
// per frame (without a vector unit a blend and the colour passes after it share one). Nothing here
// calls SDL: the console's core builds without it.
#include "mixer/Compositor.h"

#include <cstring>

#include "core/FrameBuffers.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/FilterPasses.h"
#include "mixer/Filters.h"
#include "mixer/PixelKernel.h"
#include "tracks/Track.h"

typedef uint16_t u16;

namespace {

// Exact divisions by the three constants over the ranges the blends produce (products of a channel
// and a level or of two channels), as one high multiply each: the loops carry no division.
constexpr u16 div15(u16 x) { return u16((uint32_t(x) * 4370u) >> 16); }  // x <= 945
constexpr u16 div31(u16 x) { return u16((uint32_t(x) * 2115u) >> 16); }  // x <= 2258
constexpr u16 div63(u16 x) { return u16(u16((uint32_t(x) * 2081u) >> 16) >> 1); }  // x <= 4227

// Per-channel saturated sum, each field added in place: a + b held at the top t of the field is
// min(a, t - b) + b, which never carries out of the field. Masked with 0xF81F a pixel has red at the
// top of its high byte and blue at the bottom of its low byte, so byte-wise min does both at once
// (t - b and the sum stay within each byte, so 16-bit subtract and add serve); green, in place,
// takes a 16-bit min. The same as adding the channels apart and clamping each.
#if !PLAIN_KERNELS
template <int Width>
VECTOR_BODY void addVectors(u16* a, const u16* b) {
    typedef PixelVector<Width> V;
    typedef typename V::Lanes Lanes;
    typedef typename V::Bytes Bytes;
    static_assert(FramePixels % V::Pixels == 0, "frames are walked in whole vectors");
    for (int i = 0; i < FramePixels; i += V::Pixels) {
        Lanes x, y;
        V::load(x, a + i);
        V::load(y, b + i);
        const Lanes rbY = y & 0xF81F, gY = y & 0x07E0, gX = x & 0x07E0;
        const Bytes rbX = Bytes(x & 0xF81F), rbRoom = Bytes(0xF81F - rbY);
        const Lanes rb = Lanes(rbX < rbRoom ? rbX : rbRoom) + rbY;
        const Lanes g = gX + gY, gTop = g - g + 0x07E0;
        V::store(a + i, rb | (g < gTop ? g : gTop));
    }
}
VECTOR_KERNEL(addVectors, (u16* a, const u16* b), (a, b))
void (*const addKernel)(u16*, const u16*) = pickWidest(addVectors64, addVectors32, addVectors16);

// 50/50 mix. Halving first and masking off the bit each field shifted into its neighbour
// (0x7BEF) lets two halved pixels be added as whole words without carries between fields.
PIXEL_KERNEL void halfKernel(u16* __restrict a, const u16* __restrict b) {
    for (int i = 0; i < FramePixels; i++) a[i] = u16(((a[i] >> 1) & 0x7BEF) + ((b[i] >> 1) & 0x7BEF));
}
#endif

// Black in deck 1 is transparent.
PIXEL_KERNEL void blackChromaKernel(u16* __restrict a, const u16* __restrict b) {
    for (int i = 0; i < FramePixels; i++) a[i] = b[i] != 0 ? b[i] : a[i];
}

// floor(C * w / 15) for every field of a pixel at once, the fields left in place. With the field
// alone in the word (C << f) and k = w * 4370 (a little over w * 65536 / 15), the high half of the
// product is C * w / 15 << f plus less than 1/15 << f, so masking the bits below the field leaves
// exactly the truncated level. Only levels 0..14 fit: w = 15 would need k = 65536.
inline u16 mulHigh(u16 x, u16 k) { return u16((uint32_t(x) * k) >> 16); }
// a where mask is set, b elsewhere: one bit-select instruction.
inline u16 merge(u16 a, u16 b, u16 mask) { return u16(((a ^ b) & mask) ^ b); }
inline u16 scaleFields(u16 p, u16 k) {
    return merge(mulHigh(p & 0xF800, k), merge(mulHigh(p & 0x07E0, k), mulHigh(p & 0x001F, k), 0x07E0), 0xF800);
}

#if !PLAIN_KERNELS
// Read once from memory so that the compiler keeps one multiply instead of a chain of shifts and
// adds for w * 4370 (4370 has four bits set).
volatile u16 levelScale = 4370;

// Per-pixel alpha 0..15 from the decoder; each of the two terms is truncated on its own. Alpha 0
// gives deck 0's pixel and 15 (or a stray larger byte) deck 1's; between them both terms come from
// scaleFields, (15 - w) * 4370 being 65550 - w * 4370, that is 14 - w * 4370 in 16 bits.
PIXEL_KERNEL void alphaKernel(u16* __restrict a, const u16* __restrict b, const uint8_t* __restrict alpha,
                              u16 scale) {
    for (int i = 0; i < FramePixels; i++) {
        u16 x = a[i], y = b[i];
        u16 w = alpha[i];
        u16 kw = u16(w * scale), kv = u16(14 - kw);
        u16 mixed = u16(scaleFields(x, kv) + scaleFields(y, kw));
        u16 whole = w == 0 ? x : y;
        a[i] = u16(w - 1) < 14 ? mixed : whole;
    }
}

#endif

#if !PLAIN_KERNELS
PIXEL_KERNEL void multiplyKernel(u16* __restrict a, const u16* __restrict b) {
    for (int i = 0; i < FramePixels; i++) {
        u16 x = a[i], y = b[i];
        u16 r = div31(u16((x >> 11) * (y >> 11)));
        u16 g = div63(u16(((x >> 5) & 63) * ((y >> 5) & 63)));
        u16 bl = div31(u16((x & 31) * (y & 31)));
        a[i] = u16((r << 11) | (g << 5) | bl);
    }
}
#endif

// Brightens towards white by level 1..15: (31 f + (15 - f) C) / 15 for red and blue, (126 f +
// (31 - 2 f) G) / 31 for green.
struct Flash {
    u16 rbBase, rbKeep, gBase, gKeep;
    explicit Flash(u16 level)
        : rbBase(u16(31 * level)), rbKeep(u16(15 - level)), gBase(u16(126 * level)), gKeep(u16(31 - 2 * level)) {}
    u16 operator()(u16 x) const {
        u16 r = div15(u16(rbBase + rbKeep * (x >> 11)));
        u16 g = div31(u16(gBase + gKeep * ((x >> 5) & 63)));
        u16 b = div15(u16(rbBase + rbKeep * (x & 31)));
        return u16((r << 11) | (g << 5) | b);
    }
};

#if !PLAIN_KERNELS
// d * 4370 for d = 0..14 (see scaleFields).
PIXEL_KERNEL void fadeKernel(u16* __restrict f, u16 k) {
    for (int i = 0; i < FramePixels; i++) f[i] = scaleFields(f[i], k);
}

PIXEL_KERNEL void flashKernel(u16* __restrict f, u16 level) {
    const Flash flash(level);
    for (int i = 0; i < FramePixels; i++) f[i] = flash(f[i]);
}

// Fade then flash in one pass over the frame when both are on, the result stored into the frame
// and straight into the screen's pixels as well, which saves reading the frame again to present it.
PIXEL_KERNEL void fadeFlashKernel(u16* __restrict f, u16* __restrict screen, u16 k, u16 level) {
    const Flash flash(level);
    for (int i = 0; i < FramePixels; i++) {
        const u16 v = flash(scaleFields(f[i], k));
        f[i] = v;
        screen[i] = v;
    }
}

// Fade alone or flash alone, likewise stored into the frame and the screen in one pass.
PIXEL_KERNEL void fadePresentKernel(u16* __restrict f, u16* __restrict screen, u16 k) {
    for (int i = 0; i < FramePixels; i++) {
        const u16 v = scaleFields(f[i], k);
        f[i] = v;
        screen[i] = v;
    }
}

PIXEL_KERNEL void flashPresentKernel(u16* __restrict f, u16* __restrict screen, u16 level) {
    const Flash flash(level);
    for (int i = 0; i < FramePixels; i++) {
        const u16 v = flash(f[i]);
        f[i] = v;
        screen[i] = v;
    }
}
#endif

// Levels above 15 would push channels past their fields; the controls never go there, and a
// clamp keeps a stray value from wrapping colours round.
u16 fadeScale(int32_t fade) { return u16((fade >= 15 ? 0 : 15 - fade) * 4370); }
u16 flashLevel(int32_t flash) { return u16(flash > 15 ? 15 : flash); }

#if PLAIN_KERNELS
// Without a vector unit the blends are 32-bit integer code on two pixels per word, with tables for
// "multiply", the alpha plane, fade and flash. When fade or flash is on, the blend and the colour
// pass run as one loop that reads each pixel once and writes it into the output half and the screen.

// Fade and flash change every channel on its own, so one table for red and green together (indexed
// by the pixel's top 11 bits) and one for blue, built per frame from the formulas above, give the
// whole pixel in two loads.
struct ChannelTables {
    u16 redGreen[2048];
    uint8_t blue[32];
    // Built from what each channel value becomes: 96 colour computations instead of 2080.
    template <class Colour>
    explicit ChannelTables(Colour colour) {
        u16 red[32], green[64];
        for (int c = 0; c < 32; c++) red[c] = u16(colour(u16(c << 11)) & 0xF800), blue[c] = uint8_t(colour(u16(c)) & 31);
        for (int c = 0; c < 64; c++) green[c] = u16(colour(u16(c << 5)) & 0x07E0);
        for (int v = 0; v < 2048; v++) redGreen[v] = u16(red[v >> 6] | green[v & 63]);
    }
    // What one channel becomes: red and blue take the same formula.
    uint32_t fiveBits(uint32_t c) const { return blue[c]; }
    uint32_t sixBits(uint32_t c) const { return (redGreen[c] >> 5) & 63; }
};

// The tables as the loops use them, held in registers.
struct Recolour {
    const u16* redGreen;
    const uint8_t* blue;
    explicit Recolour(const ChannelTables& t) : redGreen(t.redGreen), blue(t.blue) {}
    // The red-green entry at a byte offset: the pixel's top 11 bits, doubled, are masked out of the
    // word by one AND of the shifted word.
    uint32_t redGreenAt(uint32_t offset) const {
        return *reinterpret_cast<const u16*>(reinterpret_cast<const char*>(redGreen) + offset);
    }
    // A pixel held in the low 16 bits.
    uint32_t pixel(uint32_t v) const { return redGreenAt((v >> 4) & 0xFFE) | blue[v & 31]; }
    // Both pixels of a word.
    uint32_t pair(uint32_t z) const {
        return pixel(z) | (redGreenAt((z >> 20) & 0xFFE) | blue[(z >> 16) & 31]) << 16;
    }
};

// Fade first, then flash, as composite applies them.
ChannelTables colourTables(int32_t fade, int32_t flash) {
    const u16 k = fadeScale(fade);
    const Flash bright(flashLevel(flash));
    return ChannelTables([=](u16 x) {
        if (fade > 0) x = scaleFields(x, k);
        return flash > 0 ? bright(x) : x;
    });
}

// Into the frame, and into the screen as well when there is one (one loop each).
PIXEL_KERNEL void tableKernel(u16* __restrict f, u16* __restrict screen, const ChannelTables& tables) {
    const Recolour t(tables);
    if (!screen) {
        for (int i = 0; i < FramePixels; i += 2) storePair(f, i, t.pair(loadPair(f, i)));
        return;
    }
    for (int i = 0; i < FramePixels; i += 2) {
        const uint32_t v = t.pair(loadPair(f, i));
        storePair(f, i, v);
        storePair(screen, i, v);
    }
}

void fadeKernel(u16* f, u16 k) { tableKernel(f, nullptr, ChannelTables([k](u16 x) { return scaleFields(x, k); })); }
void flashKernel(u16* f, u16 level) { tableKernel(f, nullptr, ChannelTables(Flash(level))); }
void fadeFlashKernel(u16* f, u16* screen, u16 k, u16 level) {
    const Flash flash(level);
    tableKernel(f, screen, ChannelTables([k, flash](u16 x) { return flash(scaleFields(x, k)); }));
}
void fadePresentKernel(u16* f, u16* screen, u16 k) {
    tableKernel(f, screen, ChannelTables([k](u16 x) { return scaleFields(x, k); }));
}
void flashPresentKernel(u16* f, u16* screen, u16 level) { tableKernel(f, screen, ChannelTables(Flash(level))); }

// Saturated add of both pixels of a word. The six fields are split into two sets that each leave
// room above every field: set A (mask 0x07E0F81F) holds the low pixel's blue and red and the high
// pixel's green, set B (the word shifted right by 5, mask 0x07C0F83F) the low pixel's green and the
// high pixel's blue and red. Added within a set, a field that passes its top sets the bit just
// above it; that bit, spread down over the field, sets the field to its top.
inline uint32_t addPair(uint32_t x, uint32_t y) {
    const uint32_t maskA = 0x07E0F81F, maskB = 0x07C0F83F;
    // Set A: 5-bit fields carry into bits 5 and 16, the 6-bit green into bit 27; the green's
    // spread takes one more bit (c >> 6) than the others.
    uint32_t sumA = (x & maskA) + (y & maskA);
    const uint32_t carryA = sumA & 0x08010020;
    sumA |= (carryA - (carryA >> 5)) | (carryA >> 6);
    // Set B: the 6-bit green carries into bit 6, the 5-bit fields into bits 16 and 27; spread by 6
    // they also set the bit below the field, which is masked off.
    uint32_t sumB = ((x >> 5) & maskB) + ((y >> 5) & maskB);
    const uint32_t carryB = sumB & 0x08010040;
    sumB |= carryB - (carryB >> 6);
    return (sumA & maskA) | ((sumB & maskB) << 5);
}

// "add" followed by fade or flash: the per-channel sums (fields of 6 and 7 bits, in the two sets of
// addPair) index tables of what each sum becomes, saturated and recoloured.
struct SumLevels {
    uint8_t fives[64], sixes[128];
    explicit SumLevels(const ChannelTables& t) {
        for (int c = 0; c < 64; c++) fives[c] = uint8_t(t.fiveBits(c < 31 ? c : 31));
        for (int c = 0; c < 128; c++) sixes[c] = uint8_t(t.sixBits(c < 63 ? c : 63));
    }
};
inline uint32_t addRecolourPair(uint32_t x, uint32_t y, const SumLevels& l) {
    const uint8_t* const f = l.fives;
    const uint8_t* const s = l.sixes;
    const uint32_t maskA = asIs(0x07E0F81F), maskB = asIs(0x07C0F83F);
    const uint32_t sumA = (x & maskA) + (y & maskA);  // low blue 0-5, low red 11-16, high green 21-27
    const uint32_t sumB = (x >> 5 & maskB) + (y >> 5 & maskB);  // low green 0-6, high blue 11-16, high red 22-27
    const uint32_t b0 = f[sumA & 63], g0 = s[sumB & 127], r0 = f[asIs(sumA << 15) >> 26];
    const uint32_t b1 = f[asIs(sumB << 15) >> 26], g1 = s[sumA >> 21], r1 = f[sumB >> 22];
    const uint32_t low = asIs(asIs(b0 | g0 << 5) | r0 << 11);
    return asIs(asIs(low | b1 << 16) | g1 << 21) | r1 << 27;
}

// 50/50 mix of two words at once: halved, the bit each field shifted into its neighbour masked
// off (0x7BEF in each half), and added without carries between fields.
inline uint32_t halfPair(uint32_t x, uint32_t y) { return ((x >> 1) & 0x7BEF7BEF) + ((y >> 1) & 0x7BEF7BEF); }

// Black in deck 1 is transparent, in each half of the word.
inline uint32_t chromaPair(uint32_t x, uint32_t y) {
    const uint32_t low = y & 0xFFFF ? y : x, high = y >> 16 ? y : x;
    return (low & 0xFFFF) | (high & 0xFFFF0000);
}

// Blend is a lambda, never a function pointer: each kernel is then built with its blend inlined.
template <class Blend>
PIXEL_KERNEL void pairKernel(u16* __restrict a, const u16* __restrict b, Blend blend) {
    for (int i = 0; i < FramePixels; i += 2) storePair(a, i, blend(loadPair(a, i), loadPair(b, i)));
}
// The blend (recolour included) into the frame and the screen.
template <class Blend>
PIXEL_KERNEL void pairPresentKernel(u16* __restrict a, const u16* __restrict b, u16* __restrict screen, int count,
                                    Blend blend) {
    for (int i = 0; i < count; i += 2) {
        const uint32_t v = blend(loadPair(a, i), loadPair(b, i));
        storePair(a, i, v);
        storePair(screen, i, v);
    }
}
void addKernel(u16* a, const u16* b) {
    pairKernel(a, b, [](uint32_t x, uint32_t y) { return addPair(x, y); });
}
void halfKernel(u16* a, const u16* b) {
    pairKernel(a, b, [](uint32_t x, uint32_t y) { return halfPair(x, y); });
}

// The normalised products looked up: red and blue in a 32x32 table, green in a 64x64 one, each
// indexed by the two channels side by side (the product is symmetric, so either order serves).
// With fade or flash on, the tables of the frame hold the products already recoloured.
struct ChannelProducts {
    uint8_t fives[32 * 32], sixes[64 * 64];
    constexpr ChannelProducts() : fives{}, sixes{} {
        for (int i = 0; i < 32 * 32; i++) fives[i] = uint8_t(div31(u16((i >> 5) * (i & 31))));
        for (int i = 0; i < 64 * 64; i++) sixes[i] = uint8_t(div63(u16((i >> 6) * (i & 63))));
    }
    ChannelProducts(const ChannelProducts& plain, const ChannelTables& t) {
        for (int i = 0; i < 32 * 32; i++) fives[i] = uint8_t(t.fiveBits(plain.fives[i]));
        for (int i = 0; i < 64 * 64; i++) sixes[i] = uint8_t(t.sixBits(plain.sixes[i]));
    }
};
constexpr ChannelProducts channelProducts;

// Both pixels of a word. Each channel's two fields are masked out of both words at once and put
// side by side, giving the indices of that channel for both pixels in one word: the high pixel's
// index is the top of the word, which the load shifts down by itself.
inline uint32_t multiplyPair(uint32_t x, uint32_t y, const ChannelProducts& p) {
    const uint8_t* const f = p.fives;
    const uint8_t* const s = p.sixes;
    // The masks as they are: the compiler would rather clear the bits of the reds one byte at a time.
    const uint32_t blue = asIs(0x001F001F), red = asIs(0xF800F800), green = asIs(0x07E007E0);
    const uint32_t blues = (x & blue) | (y & blue) << 5;                  // bits 0-9 and 16-25
    const uint32_t reds = (x & red) | (y & red) >> 5;                     // bits 6-15 and 22-31
    const uint32_t greens = ((x & green) >> 5) | (y & green) << 1;       // bits 0-11 and 16-27
    const uint32_t b0 = f[asIs(blues << 22) >> 22], g0 = s[asIs(greens << 20) >> 20];
    const uint32_t r0 = f[asIs(reds << 16) >> 22];
    const uint32_t b1 = f[blues >> 16], g1 = s[greens >> 16], r1 = f[reds >> 22];
    const uint32_t low = asIs(asIs(b0 | g0 << 5) | r0 << 11);
    return asIs(asIs(low | b1 << 16) | g1 << 21) | r1 << 27;
}
void multiplyKernel(u16* a, const u16* b) {
    pairKernel(a, b, [](uint32_t x, uint32_t y) { return multiplyPair(x, y, channelProducts); });
}

// Per-pixel alpha: the two terms of each channel looked up in a table of floor(c * w / 15) (a row
// per level, 64 channel values), and the whole pixels of alpha 0 and 15 skip the blend: clips with
// alpha are mostly transparent or opaque.
struct LevelProducts {
    uint8_t row[16][64];
    constexpr LevelProducts() : row{} {
        for (int w = 0; w < 16; w++)
            for (int c = 0; c < 64; c++) row[w][c] = uint8_t(c * w / 15);
    }
};
constexpr LevelProducts levelProducts;
const u16 levelScale = 0;  // unused by this kernel

PIXEL_KERNEL void alphaKernel(u16* __restrict a, const u16* __restrict b, const uint8_t* __restrict alpha, u16) {
    for (int i = 0; i < FramePixels; i++) {
        const unsigned w = alpha[i];
        if (w == 0) continue;
        const u16 y = b[i];
        if (w >= 15) {
            a[i] = y;
            continue;
        }
        const u16 x = a[i];
        const uint8_t* keep = levelProducts.row[15 - w];
        const uint8_t* take = levelProducts.row[w];
        const unsigned r = keep[x >> 11] + take[y >> 11];
        const unsigned g = keep[(x >> 5) & 63] + take[(y >> 5) & 63];
        const unsigned bl = keep[x & 31] + take[y & 31];
        a[i] = u16(r << 11 | g << 5 | bl);
    }
}

// The same with the colour pass, two pixels at a time: pairs that are both transparent or both
// opaque (nearly all of them) go whole through the pixel tables, the others pixel by pixel with
// each blended channel through the channel maps.
struct ChannelMaps {
    uint8_t five[32], six[64];
    explicit ChannelMaps(const ChannelTables& tables) {
        for (int c = 0; c < 64; c++) six[c] = uint8_t(tables.sixBits(c));
        for (int c = 0; c < 32; c++) five[c] = uint8_t(tables.fiveBits(c));
    }
};
PIXEL_KERNEL void alphaColourKernel(u16* __restrict a, const u16* __restrict b, const uint8_t* __restrict alpha,
                                    u16* __restrict screen, int count, const ChannelTables& tables,
                                    const ChannelMaps& maps) {
    const Recolour t(tables);
    const uint8_t* const five = maps.five;
    const uint8_t* const six = maps.six;
    auto one = [&](int i) -> uint32_t {
        const unsigned w = alpha[i];
        if (w == 0) return t.pixel(a[i]);
        if (w >= 15) return t.pixel(b[i]);
        const u16 x = a[i], y = b[i];
        const uint8_t* keep = levelProducts.row[15 - w];
        const uint8_t* take = levelProducts.row[w];
        const unsigned r = keep[x >> 11] + take[y >> 11];
        const unsigned g = keep[(x >> 5) & 63] + take[(y >> 5) & 63];
        const unsigned bl = keep[x & 31] + take[y & 31];
        return uint32_t(five[r] << 11 | six[g] << 5 | five[bl]);
    };
    const int first = pairLowFirst ? 0 : 1;  // the pixel in the word's low half
    for (int i = 0; i < count; i += 2) {
        uint16_t levels;  // both pixels' alpha bytes
        std::memcpy(&levels, static_cast<const uint8_t*>(__builtin_assume_aligned(alpha, 2)) + i, 2);
        uint32_t v;
        if (levels == 0) v = t.pair(loadPair(a, i));
        else if (levels == 0x0F0F) v = t.pair(loadPair(b, i));
        else v = one(i + first) | one(i + 1 - first) << 16;
        storePair(a, i, v);
        storePair(screen, i, v);
    }
}

// Whether blendAndColour takes the frame: blend modes 1..4 with fade or flash (or both), in one pass
// into deck 0's half and the screen.
bool blendsWithColour(int32_t mode, int32_t fade, int32_t flash, const u16* screen) {
    return screen && (fade > 0 || flash > 0) && mode >= 1 && mode <= 4;
}

// Deck 1's pixels for the blend: its half of mixFrames whole, or with a composed chain left to the
// blend, a piece at a time through the chain into a buffer that stays in the cache.
template <class Piece>
void deckOnePieces(const ComposedTables* chain, const u16* source, Piece piece) {
    if (!chain) {
        piece(mixFrames + FramePixels, 0, FramePixels);
        return;
    }
    // 1 KB: longer pieces push the blend's and the chain's tables out of the 16 KB data cache.
    constexpr int Length = 512;
    static_assert(FramePixels % Length == 0 && Length <= int(ComposedTables::LongestPiece), "whole pieces the chain takes");
    alignas(4) u16 deckOne[Length];
    for (int at = 0; at < FramePixels; at += Length) {
        composedPiece(*chain, source, deckOne, at, Length);
        piece(deckOne, at, Length);
    }
}

bool blendAndColour(int32_t mode, bool deck1HasAlpha, int32_t fade, int32_t flash, u16* screen,
                    const ComposedTables* chain1, const u16* source1) {
    if (!blendsWithColour(mode, fade, flash, screen)) return false;
    u16* a = mixFrames;
    const ChannelTables tables = colourTables(fade, flash);
    const Recolour t(tables);
    // A pair blend over deck 1's pieces into deck 0's half and the screen.
    auto present = [&](auto blend) {
        deckOnePieces(chain1, source1, [&](const u16* b, int at, int count) {
            pairPresentKernel(a + at, b, screen + at, count, blend);
        });
    };
    switch (mode) {
    case 1: {
        const SumLevels sums(tables);
        present([&sums](uint32_t x, uint32_t y) { return addRecolourPair(x, y, sums); });
        break;
    }
    case 2: present([&t](uint32_t x, uint32_t y) { return t.pair(halfPair(x, y)); }); break;
    case 3:
        if (deck1HasAlpha) {
            const ChannelMaps maps(tables);
            deckOnePieces(chain1, source1, [&](const u16* b, int at, int count) {
                alphaColourKernel(a + at, b, alphaPlane + at, screen + at, count, tables, maps);
            });
        } else {
            present([&t](uint32_t x, uint32_t y) { return t.pair(chromaPair(x, y)); });
        }
        break;
    case 4: {
        const ChannelProducts products(channelProducts, tables);
        present([&products](uint32_t x, uint32_t y) { return multiplyPair(x, y, products); });
        break;
    }
    }
    return true;
}
#else
bool blendsWithColour(int32_t, int32_t, int32_t, const u16*) { return false; }
bool blendAndColour(int32_t, bool, int32_t, int32_t, u16*, const ComposedTables*, const u16*) { return false; }
#endif

}  // namespace

void blendDecks(int32_t blendMode, bool deck1HasAlpha) {
    u16* a = mixFrames;
    const u16* b = mixFrames + FramePixels;
    switch (blendMode) {
    case 1: addKernel(a, b); break;
    case 2: halfKernel(a, b); break;
    case 3:
        if (deck1HasAlpha) alphaKernel(a, b, alphaPlane, levelScale);
        else blackChromaKernel(a, b);
        break;
    case 4: multiplyKernel(a, b); break;
    case 6:
        for (int y = 0; y < FrameHeight; y++) std::memcpy(a + y * FrameWidth, b + y * FrameWidth, 160 * sizeof(u16));
        break;
    default: break;
    }
}


void fadeFrame(uint16_t* frame, int32_t fade) {
    if (fade > 0) fadeKernel(frame, fadeScale(fade));
}

void flashFrame(uint16_t* frame, int32_t flash) {
    if (flash > 0) flashKernel(frame, flashLevel(flash));
}

namespace {
// Fade, then flash, then the copy into the screen; with a screen, the colour passes write into it
// as they go.
void colourAndPresent(u16* out, u16* screen, int32_t fade, int32_t flash) {
    if (fade > 0 && flash > 0 && screen) {
        fadeFlashKernel(out, screen, fadeScale(fade), flashLevel(flash));
    } else if (fade > 0 && screen) {
        fadePresentKernel(out, screen, fadeScale(fade));
    } else if (flash > 0 && screen) {
        flashPresentKernel(out, screen, flashLevel(flash));
    } else {
        fadeFrame(out, fade);
        flashFrame(out, flash);
        if (screen) std::memcpy(screen, out, FrameBytes);
    }
}

// Runs a pointwise filter from source into the deck's half of mixFrames; false for the others.
bool filterFrom(int id, int deck, int value, const u16* source) {
    switch (id) {
    case Invert: invertInto(deck, value, source); return true;
    case Burned: burnedInto(deck, value, source); return true;
    case Snow: snowInto(deck, value, source); return true;
    case GameBoy: gameBoyInto(deck, value, source); return true;
    case Hue: hueInto(deck, value, source); return true;
    default: return false;
    }
}
}  // namespace

void composite(Decks& d, int32_t position, int32_t frameCount, bool playbackLine) {
    const int32_t mode = d.blendMode;
    // The decoded frames to bring into mixFrames (only deck 1's in blend mode 0). A deck whose first
    // filter changes each pixel on its own reads its decoded frame directly, which saves the copy;
    // any other deck is copied before its first filter, or at the end when it has none.
    const u16* pending[2] = {mode == 0 ? nullptr : deckFrames, deckFrames + FramePixels};
    auto bringIn = [&](int deck) {
        if (pending[deck]) std::memcpy(mixFrames + deck * FramePixels, pending[deck], FrameBytes);
        pending[deck] = nullptr;
    };

    // Without a vector unit a deck's pixel-by-pixel filters run as one composed pass where they
    // compose (see ComposedFilters): SNOW still draws its pattern at its turn, so the generator
    // gives every deck the numbers it gave before, and the pass runs at the chain's last filter or
    // before the deck's first filter that moves pixels, whichever comes first.
    // With ZOOM 0 after the chain, only the centre that ZOOM enlarges goes through it, at ZOOM's turn.
    ComposedFilters chains[2];
    bool composes[2], composed[2] = {false, false}, zoomsCentre[2];
    for (int deck = 0; deck < 2; deck++) {
        composes[deck] = composeFilters(deck, chains[deck]);
        zoomsCentre[deck] = composes[deck] && effectTable.effectOn(deck, Zoom) && effectTable.effectValue(deck, Zoom) == 0;
    }
    // Deck 1's chain is left to the blend when nothing moves its pixels after it and the blend runs
    // with fade or flash: a piece at a time, so that its output never goes out to memory and back.
    const bool chainInBlend = composes[1] && !effectTable.effectOn(1, Zoom) && !effectTable.effectOn(1, Mirror) &&
                              !effectTable.effectOn(1, Scroll) && blendsWithColour(mode, d.fade, d.flash, screenPixels);
    if (chainInBlend) composed[1] = true;  // SNOW still draws its pattern at its turn
    auto runComposed = [&](int deck) {
        if (composed[deck]) return;
        composed[deck] = true;
        composedInto(deck, chains[deck], pending[deck] ? pending[deck] : mixFrames + deck * FramePixels);
        pending[deck] = nullptr;
    };

    static const int order[8] = {Invert, Burned, Snow, Zoom, GameBoy, Mirror, Hue, Scroll};
    for (int id : order) {
        for (int deck = 0; deck < 2; deck++) {
            if (!effectTable.effectOn(deck, id)) continue;
            const int value = effectTable.effectValue(deck, id);
            if (composes[deck]) {
                if (id != Zoom && id != Mirror && id != Scroll) {
                    if (id == Snow) drawComposedSnow(chains[deck], value);
                    if (id == chains[deck].ids[chains[deck].count - 1] && !zoomsCentre[deck]) runComposed(deck);
                    continue;
                }
                if (id == Zoom && zoomsCentre[deck] && !composed[deck]) {
                    composed[deck] = true;
                    composedZoomInto(deck, chains[deck], pending[deck] ? pending[deck] : mixFrames + deck * FramePixels);
                    pending[deck] = nullptr;
                    continue;
                }
                runComposed(deck);
            }
            if (pending[deck] && filterFrom(id, deck, value, pending[deck])) {
                pending[deck] = nullptr;
                continue;
            }
            bringIn(deck);
            switch (id) {
            case Invert: applyInvert(deck, value); break;
            case Burned: applyBurned(deck, value); break;
            case Snow: applySnow(deck, value); break;
            case Zoom: applyZoom(deck, value); break;
            case GameBoy: applyGameBoy(deck, value); break;
            case Mirror: applyMirror(deck, value); break;
            case Hue: applyHue(deck, value); break;
            case Scroll: applyScroll(deck, value, d.paused); break;
            }
        }
    }
    const u16* source1 = pending[1] ? pending[1] : mixFrames + FramePixels;  // deck 1's chain reads it
    if (chainInBlend) pending[1] = nullptr;
    bringIn(0);
    bringIn(1);

    const int32_t track1 = d.decks[1].track;
    const bool hasAlpha = track1 >= 0 && track1 < TrackSlots && tracks[track1].hasAlpha;
    u16* out = mode == 0 ? mixFrames + FramePixels : mixFrames;
    u16* screen = screenPixels;
    if (chainInBlend) {
        const ComposedTables chain1(chains[1]);
        blendAndColour(mode, hasAlpha, d.fade, d.flash, screen, &chain1, source1);
    } else if (!blendAndColour(mode, hasAlpha, d.fade, d.flash, screen, nullptr, nullptr)) {
        blendDecks(mode, hasAlpha);
        colourAndPresent(out, screen, d.fade, d.flash);
    }

    if (playbackLine && frameCount > 0 && screen) {
        const int64_t width = int64_t(position) * FrameWidth / frameCount;
        const int n = width < 0 ? 0 : width > FrameWidth ? FrameWidth : int(width);
        for (int x = 0; x < n; x++) screen[5 * FrameWidth + x] = 0xFFFF;
    }
}
