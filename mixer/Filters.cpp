// The compositor's filters. Each one rewrites one deck's half of mixFrames (the pointwise ones may
// also take their input from another frame); the pixel loops are straight-line 16-bit integer
// code with the variant chosen before the loop starts.
#include "mixer/Filters.h"

#include <cstddef>
#include <cstring>
#include <memory>

#include "core/FrameBuffers.h"
#include "mixer/EffectTable.h"
#include "mixer/FilterPasses.h"
#include "mixer/PixelKernel.h"
#include "mixer/Random.h"

typedef uint16_t u16;

namespace {

u16* deckFrame(int deck) { return mixFrames + (deck == 0 ? 0 : FramePixels); }

// Brightness sum L = 2R + G + 2B (0..187): the three channels weighed equally on a 6-bit scale.
constexpr u16 brightness(u16 v) { return u16(((v >> 11) << 1) + ((v >> 5) & 63) + ((v & 31) << 1)); }

// The pointwise kernels read pixel i of src and write pixel i of f; src may be f itself, so neither
// is restrict. The compiler's overlap test before its vector loop lets equal pointers through.
#if !PLAIN_KERNELS
PIXEL_KERNEL void invertKernel(const u16* src, u16* f) {
    for (int i = 0; i < FramePixels; i++) f[i] = u16(src[i] ^ 0xFFFF);
}
#else
// Without a vector unit, two pixels per word.
PIXEL_KERNEL void invertKernel(const u16* src, u16* f) {
    for (int i = 0; i < FramePixels; i += 2) storePair(f, i, ~loadPair(src, i));
}
#endif

// BURNED's colour for a brightness L. L is at most 187, so it is compared as a signed 16-bit
// number: one compare instruction where an unsigned compare would take two.
inline u16 burnedShade(int16_t l, u16 colour) { return l > 89 ? colour : 0; }

// GAME BOY's shade: the darkest plus the step to each next shade whose threshold L passes: three
// compares and masks instead of a chain of branches.
inline u16 gameBoyShade(int16_t l) {
    return u16(0x39E0 + (u16(-u16(l > 45)) & (0x6304 - 0x39E0)) + (u16(-u16(l > 90)) & (0xAD4D - 0x6304)) +
               (u16(-u16(l > 135)) & (0xFFFD - 0xAD4D)));
}

// HUE's brightness g = R + B + G/2 (0..93) and the colour of each tint for it. Each tint has its
// own loop so that its divisors are constants; equal input pixels give equal outputs, which is
// all that skipping runs would save.
constexpr u16 hueLevel(u16 v) { return u16((v >> 11) + (v & 31) + ((v >> 6) & 31)); }

inline u16 greyTint(u16 g) {
    u16 l = u16(g / 3);  // at most 31
    return u16((l << 11) | (l << 6) | l);
}

inline u16 redTint(u16 g) {
    u16 l = g < 31 ? g : 31;
    u16 e = u16((g - l) >> 1);
    return u16((l << 11) | (e << 6) | e);
}

inline u16 greenTint(u16 g) {
    u16 l = g < 31 ? g : 31;
    u16 e = u16((g - l) >> 1);
    return u16((e << 11) | (l << 6) | e);
}

inline u16 yellowTint(u16 g) {
    u16 h = u16(g >> 1);
    u16 l = h < 31 ? h : 31;
    u16 e = u16(g - (l << 1));
    return u16((l << 11) | (l << 6) | e);
}

#if PLAIN_KERNELS
// Without a vector unit each pixel goes alone, so the brightness filters look their output up:
// the brightness as the sum of a table for the pixel's high byte and one for its low byte (green
// straddles the two bytes, but both brightness sums split at the byte boundary), and the colour
// for each brightness from a third table built per frame.
}  // namespace
// Outside the unnamed namespace: ComposedTables (FilterPasses.h) points at one.
struct LevelSplit {
    uint8_t high[256], low[256];
    template <class Level>
    constexpr explicit LevelSplit(Level level) : high{}, low{} {
        for (int v = 0; v < 256; v++) high[v] = uint8_t(level(u16(v << 8))), low[v] = uint8_t(level(u16(v)));
    }
};
namespace {
constexpr LevelSplit brightnessSplit([](u16 v) { return brightness(v); });
constexpr LevelSplit hueSplit([](u16 v) { return hueLevel(v); });
static_assert(hueSplit.high[0xFF] + hueSplit.low[0xFF] == 93, "the halves of HUE's level add up");

// Two pixels per word: one load and one store for both; each byte is masked in place and shifted
// by the load that looks it up. Colour entries are words, which the processor indexes with a
// scaled register.
__attribute__((always_inline)) inline void levelPairs(const u16* src, u16* f, int count, const LevelSplit& split,
                                                      const uint32_t* colours) {
    const uint8_t* const high = split.high;
    const uint8_t* const low = split.low;
    for (int i = 0; i < count; i += 2) {
        const uint32_t x = loadPair(src, i);
        const uint32_t level0 = high[asIs(x & 0xFF00) >> 8] + low[x & 255];
        const uint32_t level1 = high[x >> 24] + low[asIs(x & 0xFF0000) >> 16];
        storePair(f, i, colours[level0] | colours[level1] << 16);
    }
}
PIXEL_KERNEL void levelKernel(const u16* src, u16* f, const LevelSplit& split, const uint32_t* colours) {
    levelPairs(src, f, FramePixels, split, colours);
}

template <class Colour>
void levelPass(const u16* src, u16* f, const LevelSplit& split, int levels, Colour colour) {
    uint32_t colours[188];
    for (int l = 0; l < levels; l++) colours[l] = colour(u16(l));
    levelKernel(src, f, split, colours);
}

void burnedKernel(const u16* src, u16* f, u16 colour) {
    levelPass(src, f, brightnessSplit, 188, [colour](u16 l) { return burnedShade(int16_t(l), colour); });
}
void gameBoyKernel(const u16* src, u16* f) {
    levelPass(src, f, brightnessSplit, 188, [](u16 l) { return gameBoyShade(int16_t(l)); });
}
void hueGrey(const u16* src, u16* f) { levelPass(src, f, hueSplit, 94, greyTint); }
void hueRed(const u16* src, u16* f) { levelPass(src, f, hueSplit, 94, redTint); }
void hueGreen(const u16* src, u16* f) { levelPass(src, f, hueSplit, 94, greenTint); }
void hueYellow(const u16* src, u16* f) { levelPass(src, f, hueSplit, 94, yellowTint); }
#else
PIXEL_KERNEL void burnedKernel(const u16* src, u16* f, u16 colour) {
    for (int i = 0; i < FramePixels; i++) f[i] = burnedShade(int16_t(brightness(src[i])), colour);
}

PIXEL_KERNEL void gameBoyKernel(const u16* src, u16* f) {
    for (int i = 0; i < FramePixels; i++) f[i] = gameBoyShade(int16_t(brightness(src[i])));
}

PIXEL_KERNEL void hueGrey(const u16* src, u16* f) {
    for (int i = 0; i < FramePixels; i++) f[i] = greyTint(hueLevel(src[i]));
}

PIXEL_KERNEL void hueRed(const u16* src, u16* f) {
    for (int i = 0; i < FramePixels; i++) f[i] = redTint(hueLevel(src[i]));
}

PIXEL_KERNEL void hueGreen(const u16* src, u16* f) {
    for (int i = 0; i < FramePixels; i++) f[i] = greenTint(hueLevel(src[i]));
}

PIXEL_KERNEL void hueYellow(const u16* src, u16* f) {
    for (int i = 0; i < FramePixels; i++) f[i] = yellowTint(hueLevel(src[i]));
}
#endif

// SNOW's shift s = d - 10 on all three channels with clamping, as "hold the channel within lo..hi,
// the range the shift cannot carry out of, then add the shift", done byte-wise on two views of
// the pixel so that one set of tables serves all three channels:
// - x & 0xFF1F: red at the top of the high byte, blue alone in the low byte;
// - x << 5: green at the top of the high byte.
// High bytes take red or green scaled so that a step of s is 8 (red << 3, green << 2), clamped
// below 0xFC; low bytes take blue as it is. The bits below red and green (at most 7 and 3) never
// change which level the top bits reach, so they are simply left out when the pixel is put back
// together (red and blue from the first view, green from the second).
struct alignas(64) SnowTables {
    enum { Chunk = 1024, MaxLength = 1536 };  // 497 + Chunk, rounded up to whole cache lines
    u16 lo[MaxLength], hi[MaxLength], add[MaxLength];
};

#if !PLAIN_KERNELS
template <int Width>
VECTOR_BODY void snowVectors(const u16* src, u16* f, const SnowTables& t, int k) {
    typedef PixelVector<Width> V;
    typedef typename V::Lanes Lanes;
    typedef typename V::Bytes Bytes;
    for (int i = 0; i < SnowTables::Chunk; i += V::Pixels) {
        Lanes x, loLanes, hiLanes, addLanes;
        V::load(x, src + i);
        V::loadOnce(loLanes, t.lo + k + i);
        V::loadOnce(hiLanes, t.hi + k + i);
        V::loadOnce(addLanes, t.add + k + i);
        const Bytes lo = Bytes(loLanes), hi = Bytes(hiLanes), add = Bytes(addLanes);
        Bytes rb = Bytes(x & 0xFF1F), g = Bytes(Lanes(x << 5));
        rb = rb > lo ? rb : lo;
        rb = rb < hi ? rb : hi;
        rb += add;
        g = g > lo ? g : lo;
        g = g < hi ? g : hi;
        g += add;
        const Lanes g5 = Lanes(g) >> 5;
        V::store(f + i, g5 ^ ((Lanes(rb) ^ g5) & 0xF81F));
    }
}
VECTOR_KERNEL(snowVectors, (const u16* src, u16* f, const SnowTables& t, int k), (src, f, t, k))
void (*const snowKernel)(const u16*, u16*, const SnowTables&, int) = pickWidest(snowVectors64, snowVectors32, snowVectors16);
#else
// Without a vector unit, each pixel looks its three channels up in the table of its noise value:
// the channel after the shift, clamped (red and blue share one table, as they take the same shift
// and range). Entries are bytes, which the processor loads with the index shifted on the way:
// red, the top field of a word, needs no instruction of its own to find its entry.
struct SnowLevel {
    uint8_t redBlue[32], green[64];
};
struct SnowLevels {
    SnowLevel level[20];
    constexpr SnowLevels() : level{} {
        for (int d = 0; d < 20; d++) {
            const int s = d - 10;
            for (int c = 0; c < 32; c++) level[d].redBlue[c] = uint8_t(c + s < 0 ? 0 : c + s > 31 ? 31 : c + s);
            for (int c = 0; c < 64; c++) level[d].green[c] = uint8_t(c + 2 * s < 0 ? 0 : c + 2 * s > 63 ? 63 : c + 2 * s);
        }
    }
};
constexpr SnowLevels snowLevels;

// Two pixels per word: one load and one store for both. Each channel's entry is found from the
// word with at most one mask before the load, which shifts the index itself; green is entry G + 32
// of the level (one more add). The pixel is built back from the bottom field up, so that every
// field goes in with one shifted OR.
inline uint32_t snowPair(uint32_t x, const uint8_t* lo, const uint8_t* hi) {
    static_assert(offsetof(SnowLevel, green) == 32, "green follows red and blue");
    const uint32_t b0 = lo[x & 31], g0 = lo[((x & 0x7E0) + 0x400) >> 5], r0 = lo[asIs(x & 0xF800) >> 11];
    const uint32_t b1 = hi[asIs(x & 0x1F0000) >> 16], g1 = hi[((x & 0x7E00000) + 0x4000000) >> 21];
    const uint32_t r1 = hi[x >> 27];
    const uint32_t low = asIs(asIs(b0 | g0 << 5) | r0 << 11);
    return asIs(asIs(low | b1 << 16) | g1 << 21) | r1 << 27;
}

// Two words per turn of the loop, written out: the compiler does not unroll a loop with asIs in it.
PIXEL_KERNEL void snowPlain(const u16* src, u16* f, const uint8_t* const* levels) {
    const int first = pairLowFirst ? 0 : 1;  // the pixel in the word's low half
    for (int i = 0; i < SnowTables::Chunk; i += 4) {
        storePair(f, i, snowPair(loadPair(src, i), levels[i + first], levels[i + 1 - first]));
        storePair(f, i + 2, snowPair(loadPair(src, i + 2), levels[i + 2 + first], levels[i + 3 - first]));
    }
}
#endif

#if PLAIN_KERNELS
// Without a vector unit, two pixels per word: the word at pixel k with its halves swapped is the
// word at pixel 318 - k (whichever half holds the lower-numbered pixel).
inline uint32_t swapHalves(uint32_t w) { return w >> 16 | w << 16; }

PIXEL_KERNEL void mirrorLeftToRight(u16* f) {
    for (int y = 0; y < FrameHeight; y++) {
        u16* row = f + y * FrameWidth;
        for (int k = 0; k < 160; k += 2) storePair(row, 318 - k, swapHalves(loadPair(row, k)));
    }
}

PIXEL_KERNEL void mirrorRightToLeft(u16* f) {
    for (int y = 0; y < FrameHeight; y++) {
        u16* row = f + y * FrameWidth;
        for (int k = 0; k < 160; k += 2) storePair(row, k, swapHalves(loadPair(row, 318 - k)));
    }
}
#else
// Each row's one half copied reversed over the other, with the widest reversing shuffles the CPU has.
PIXEL_KERNEL void mirrorLeftToRight(u16* f) {
    for (int y = 0; y < FrameHeight; y++) {
        u16* row = f + y * FrameWidth;
        for (int k = 0; k < 160; k++) row[319 - k] = row[k];
    }
}

PIXEL_KERNEL void mirrorRightToLeft(u16* f) {
    for (int y = 0; y < FrameHeight; y++) {
        u16* row = f + y * FrameWidth;
        for (int k = 0; k < 160; k++) row[k] = row[319 - k];
    }
}
#endif

// Writes one row of the 160x120 centre back at twice the size into rows 2r and 2r + 1: every pixel
// into a 2x2 block, or only into the block's top-left pixel so that the old picture shows through
// as a grid.
PIXEL_KERNEL void zoomRow(u16* __restrict row, const u16* __restrict src, int grid) {
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

// Rotates every row right by offset (1..319) pixels: new x = old (x - offset) mod 320.
#if PLAIN_KERNELS
// Without a vector unit, from one copy of the row in two moves: the library's copy runs whole
// words at any length, so a third fixed-length copy (below) would only cost a third more moves.
void rotateRowsRight(u16* f, int offset) {
    const int keep = FrameWidth - offset;
    u16 copy[FrameWidth];
    for (int y = 0; y < FrameHeight; y++) {
        u16* row = f + y * FrameWidth;
        std::memcpy(copy, row, FrameWidth * sizeof(u16));
        std::memcpy(row + offset, copy, keep * sizeof(u16));
        std::memcpy(row, copy + keep, offset * sizeof(u16));
    }
}
#else
// Each row is laid down twice in a row of 640 pixels, out of which the rotated row is one straight
// run starting at 320 - offset: every copy has a fixed length, so all of them are a handful of wide
// moves within the first-level cache, and none needs a loop tail or a call.
PIXEL_KERNEL void rotateRowsRight(u16* __restrict f, int offset) {
    const int keep = FrameWidth - offset;
    u16 twice[2 * FrameWidth];
    for (int y = 0; y < FrameHeight; y++) {
        u16* row = f + y * FrameWidth;
        std::memcpy(twice, row, FrameWidth * sizeof(u16));
        std::memcpy(twice + FrameWidth, row, FrameWidth * sizeof(u16));
        std::memcpy(row, twice + keep, FrameWidth * sizeof(u16));
    }
}
#endif

// Rotates the rows down by offset (1..239): new row y = old row (y - offset) mod 240. Only the
// smaller of the two bands is set aside; the other moves in place.
void rotateFrameDown(u16* f, int offset) {
    const size_t rowPixels = FrameWidth;
    const int keep = FrameHeight - offset;
    if (offset <= keep) {
        std::unique_ptr<u16[]> band(new u16[offset * rowPixels]);
        std::memcpy(band.get(), f + keep * rowPixels, offset * rowPixels * sizeof(u16));
        std::memmove(f + offset * rowPixels, f, keep * rowPixels * sizeof(u16));
        std::memcpy(f, band.get(), offset * rowPixels * sizeof(u16));
    } else {
        std::unique_ptr<u16[]> band(new u16[keep * rowPixels]);
        std::memcpy(band.get(), f, keep * rowPixels * sizeof(u16));
        std::memmove(f, f + keep * rowPixels, offset * rowPixels * sizeof(u16));
        std::memcpy(f + offset * rowPixels, band.get(), keep * rowPixels * sizeof(u16));
    }
}

}  // namespace

const char* filterName(int id) {
    static const char* const names[10] = {"NONE", "MIRROR", "SCROLL", "INVERT", "BURNED",
                                          "ZOOM", "HUE",    "GAME BOY", "GLITCH", "SNOW"};
    return id >= 0 && id < 10 ? names[id] : "NONE";
}

void applyInvert(int deck, int value) { invertInto(deck, value, deckFrame(deck)); }
void invertInto(int deck, int, const uint16_t* source) { invertKernel(source, deckFrame(deck)); }

namespace {
// BURNED's colour for each value (black for a value it does not have).
u16 burnedColour(int value) {
    static const u16 colours[4] = {0xF800, 0xF79E, 0x07E0, 0xFFE0};
    return value >= 0 && value < 4 ? colours[value] : 0x0000;
}
// SNOW's pattern length for each density.
const int snowLengths[4] = {497, 313, 29, 7};
}  // namespace

void applyBurned(int deck, int value) { burnedInto(deck, value, deckFrame(deck)); }
void burnedInto(int deck, int value, const uint16_t* source) { burnedKernel(source, deckFrame(deck), burnedColour(value)); }

void applyGameBoy(int deck, int value) { gameBoyInto(deck, value, deckFrame(deck)); }
void gameBoyInto(int deck, int, const uint16_t* source) { gameBoyKernel(source, deckFrame(deck)); }

void applyMirror(int deck, int value) {
    u16* f = deckFrame(deck);
    const size_t rowBytes = FrameWidth * sizeof(u16);
    switch (value) {
    case 0:  // top half from the bottom half, flipped
        for (int y = 0; y < 120; y++) std::memcpy(f + y * FrameWidth, f + (239 - y) * FrameWidth, rowBytes);
        break;
    case 1: mirrorLeftToRight(f); break;  // right half from the left half
    case 2:  // bottom half from the top half
        for (int k = 0; k < 120; k++) std::memcpy(f + (120 + k) * FrameWidth, f + (119 - k) * FrameWidth, rowBytes);
        break;
    case 3: mirrorRightToLeft(f); break;  // left half from the right half
    default: break;
    }
}

void applyHue(int deck, int value) { hueInto(deck, value, deckFrame(deck)); }
void hueInto(int deck, int value, const uint16_t* source) {
    u16* f = deckFrame(deck);
    switch (value) {
    case 0: hueGrey(source, f); break;
    case 1: hueRed(source, f); break;
    case 2: hueGreen(source, f); break;
    case 3: hueYellow(source, f); break;
    default:  // no such tint: the frame stays as it is
        if (source != f) std::memcpy(f, source, FrameBytes);
        break;
    }
}

// In place, one centre row at a time through a row's copy: centre row 60 + r becomes rows 2r and
// 2r + 1, so the upper half goes top down (rows 2r + 1 < 61 + r, above every centre row still to
// be read) and the lower half bottom up (rows 2r >= 60 + r, below them).
void applyZoom(int deck, int value) {
    u16* f = deckFrame(deck);
    u16 centreRow[160];
    auto enlarge = [&](int r) {
        std::memcpy(centreRow, f + (60 + r) * FrameWidth + 80, sizeof centreRow);
        zoomRow(f + 2 * r * FrameWidth, centreRow, value != 0);
    };
    for (int r = 0; r < 60; r++) enlarge(r);
    for (int r = 119; r >= 60; r--) enlarge(r);
}

#if !PLAIN_KERNELS
// The table entries of SNOW for each noise value d (0..19), shift s = d - 10, looked up: working
// them out per entry takes branches on the sign that the random values defeat. High byte for red
// and green (a step of s is 8, top 0xFC), low byte for blue (a step is 1, top 31).
struct SnowEntry {
    u16 lo, hi, add;
};

constexpr SnowEntry snowEntry(int d) {
    const int s = d - 10, up = s > 0 ? s : 0, down = s < 0 ? -s : 0;
    return SnowEntry{u16(down << 11 | down), u16((0xFC - 8 * up) << 8 | (31 - up)), u16(((s * 8) & 0xFF) << 8 | (s & 0xFF))};
}

constexpr SnowEntry snowEntries[20] = {
    snowEntry(0),  snowEntry(1),  snowEntry(2),  snowEntry(3),  snowEntry(4),  snowEntry(5),  snowEntry(6),
    snowEntry(7),  snowEntry(8),  snowEntry(9),  snowEntry(10), snowEntry(11), snowEntry(12), snowEntry(13),
    snowEntry(14), snowEntry(15), snowEntry(16), snowEntry(17), snowEntry(18), snowEntry(19)};
#endif

namespace {
// Runs a table of one period of n entries on to Chunk entries past the period, so that a chunk of
// pixels starting anywhere in the pattern reads its entries as one straight run.
template <class Entry>
void repeatPattern(Entry* table, int n) {
    for (int done = n; done < n + SnowTables::Chunk;) {
        const int len = done < n + SnowTables::Chunk - done ? done : n + SnowTables::Chunk - done;
        std::memcpy(table + done, table, len * sizeof(Entry));
        done += len;
    }
}
}  // namespace

void applySnow(int deck, int value) { snowInto(deck, value, deckFrame(deck)); }
void snowInto(int deck, int value, const uint16_t* source) {
    u16* f = deckFrame(deck);
    if (value < 0 || value > 3) {  // no such density: the frame stays as it is
        if (source != f) std::memcpy(f, source, FrameBytes);
        return;
    }
    const int n = snowLengths[value];
    // Pixel i takes noise value (i + 1) mod n, so entry k of the tables holds value k + 1 and the
    // first value goes last. The tables then run Chunk entries past one period, so a chunk of pixels
    // starting anywhere in the pattern reads its shifts as one straight run.
    enum { Chunk = SnowTables::Chunk };
    static_assert(FramePixels % Chunk == 0, "the frame is walked in whole chunks");
    int noise[497];
    fillRandom(noise, n);
#if PLAIN_KERNELS
    const uint8_t* levels[SnowTables::MaxLength];
    for (int k = 0; k < n; k++) levels[k == 0 ? n - 1 : k - 1] = snowLevels.level[noise[k] % 20].redBlue;
    repeatPattern(levels, n);
    for (int i = 0; i < FramePixels; i += Chunk) snowPlain(source + i, f + i, levels + i % n);
#else
    SnowTables t;
    for (int k = 0; k < n; k++) {
        const SnowEntry& e = snowEntries[noise[k] % 20];
        const int at = k == 0 ? n - 1 : k - 1;
        t.lo[at] = e.lo;
        t.hi[at] = e.hi;
        t.add[at] = e.add;
    }
    repeatPattern(t.lo, n);
    repeatPattern(t.hi, n);
    repeatPattern(t.add, n);
    for (int i = 0; i < FramePixels; i += Chunk) snowKernel(source + i, f + i, t, i % n);
#endif
}

bool composeFilters(int deck, ComposedFilters& c) {
    c.count = 0;
    c.noiseLength = 0;
    if (!PLAIN_KERNELS) return false;
    static const int order[5] = {Invert, Burned, Snow, GameBoy, Hue};
    bool levelled = false;  // a brightness filter is in the chain
    for (int id : order) {
        if (!effectTable.effectOn(deck, id)) continue;
        const int value = effectTable.effectValue(deck, id);
        if ((id == Hue || id == Snow) && (value < 0 || value > 3)) continue;  // leaves the frame as it is
        if (id == Snow && !levelled) return false;
        levelled |= id != Invert && id != Snow;
        c.ids[c.count] = id;
        c.values[c.count++] = value;
    }
    return levelled;
}

void drawComposedSnow(ComposedFilters& c, int value) {
    if (value < 0 || value > 3) return;
    const int n = snowLengths[value];
    int noise[497];
    fillRandom(noise, n);
    // Entry k holds value k + 1, as in snowInto; doubled, a byte offset into a row of the table.
    for (int k = 0; k < n; k++) c.noise[k == 0 ? n - 1 : k - 1] = uint8_t(noise[k] % 20 * 2);
    repeatPattern(c.noise, n);
    c.noiseLength = n;
}

#if PLAIN_KERNELS
namespace {
// The colour a brightness filter gives for its level (brightness for BURNED and GAME BOY, HUE's
// level for HUE), as its pass makes it.
u16 levelColour(int id, int value, u16 level) {
    switch (id) {
    case Burned: return burnedShade(int16_t(level), burnedColour(value));
    case GameBoy: return gameBoyShade(int16_t(level));
    default:
        switch (value) {
        case 0: return greyTint(level);
        case 1: return redTint(level);
        case 2: return greenTint(level);
        default: return yellowTint(level);
        }
    }
}

// One pixel through one filter of a chain (SNOW with noise value d), as the filter's pass makes it.
u16 filterPixel(int id, int value, u16 v, int d) {
    switch (id) {
    case Invert: return u16(v ^ 0xFFFF);
    case Burned:
    case GameBoy: return levelColour(id, value, brightness(v));
    case Hue: return levelColour(id, value, hueLevel(v));
    default: {
        const SnowLevel& l = snowLevels.level[d];
        return u16(l.redBlue[v >> 11] << 11 | l.green[(v >> 5) & 63] << 5 | l.redBlue[v & 31]);
    }
    }
}

// The chain with SNOW in it: each pixel's level picks its row of the table, the pixel's noise value
// the entry; the noise walks the pattern as SNOW's pass does. Rows are held as pointers and noise
// values doubled, as byte offsets into a row, so that every lookup is one load: a halfword load
// cannot scale its index on this processor, a word load can.
inline uint32_t entryAt(const u16* row, uint32_t offset) {
    return *reinterpret_cast<const u16*>(reinterpret_cast<const char*>(row) + offset);
}
// count pixels from src into f, d holding the noise values of the first ones.
__attribute__((always_inline)) inline void levelNoisePairs(const u16* src, u16* f, int count, const LevelSplit& split,
                                                           const u16* const* rows, const uint8_t* d) {
    const uint8_t* const high = split.high;
    const uint8_t* const low = split.low;
    const int first = pairLowFirst ? 0 : 1;  // the pixel in the word's low half
    for (int j = 0; j < count; j += 2) {
        const uint32_t x = loadPair(src, j);
        const uint32_t level0 = high[asIs(x & 0xFF00) >> 8] + low[x & 255];
        const uint32_t level1 = high[x >> 24] + low[asIs(x & 0xFF0000) >> 16];
        const uint32_t v0 = entryAt(rows[level0], d[j + first]);
        storePair(f, j, v0 | entryAt(rows[level1], d[j + 1 - first]) << 16);
    }
}
PIXEL_KERNEL void levelNoiseKernel(const u16* src, u16* f, const LevelSplit& split, const u16* const* rows,
                                   const uint8_t* noise, int n) {
    for (int i = 0; i < FramePixels; i += SnowTables::Chunk)
        levelNoisePairs(src + i, f + i, SnowTables::Chunk, split, rows, noise + i % n);
}

// One centre row of ZOOM 0 through the chain into row, then doubled into rows 2r and 2r + 1 of f.
PIXEL_KERNEL void chainZoomRow(const ComposedTables& t, const u16* src, u16* f, int r) {
    alignas(4) u16 row[160];
    const int at = (60 + r) * FrameWidth + 80;  // the first centre pixel of the row
    if (t.noisy) levelNoisePairs(src + at, row, 160, *t.split, t.rowOf, t.noise + at % t.noiseLength);
    else levelPairs(src + at, row, 160, *t.split, t.colours);
    zoomRow(f + 2 * r * FrameWidth, row, 0);
}
}  // namespace

static_assert(int(ComposedTables::LongestPiece) == int(SnowTables::Chunk), "the noise runs on one chunk past its period");

ComposedTables::ComposedTables(const ComposedFilters& c) : noise(c.noise), noiseLength(c.noiseLength) {
    int levelAt = 0;  // the first brightness filter (only INVERT comes before it)
    while (c.ids[levelAt] == Invert) levelAt++;
    const bool hue = c.ids[levelAt] == Hue, inverted = levelAt > 0;
    const int levels = hue ? 94 : 188;
    int snowAt = c.count;
    for (int k = levelAt + 1; k < c.count; k++)
        if (c.ids[k] == Snow) snowAt = k;
    // What the chain up to SNOW makes of each level of the source pixel: INVERT before the level
    // turns it round (every channel at its top minus itself: 187 - L, or 93 - L for HUE's level).
    u16 before[188];
    for (int l = 0; l < levels; l++) {
        u16 v = levelColour(c.ids[levelAt], c.values[levelAt], u16(inverted ? levels - 1 - l : l));
        for (int k = levelAt + 1; k < snowAt; k++) v = filterPixel(c.ids[k], c.values[k], v, 0);
        before[l] = v;
    }
    split = hue ? &hueSplit : &brightnessSplit;
    noisy = snowAt < c.count;
    if (!noisy) {
        for (int l = 0; l < levels; l++) colours[l] = before[l];
        return;
    }
    // A row of 20 for each distinct colour before SNOW.
    u16 distinct[188];
    int rows = 0;
    for (int l = 0; l < levels; l++) {
        int r = 0;
        while (r < rows && distinct[r] != before[l]) r++;
        if (r == rows) {
            distinct[rows++] = before[l];
            for (int d = 0; d < 20; d++) {
                u16 v = filterPixel(Snow, c.values[snowAt], before[l], d);
                for (int k = snowAt + 1; k < c.count; k++) v = filterPixel(c.ids[k], c.values[k], v, 0);
                out[r * 20 + d] = v;
            }
        }
        rowOf[l] = out + r * 20;
    }
}

PIXEL_KERNEL void composedPiece(const ComposedTables& t, const uint16_t* source, uint16_t* out, int at, int count) {
    if (t.noisy) levelNoisePairs(source + at, out, count, *t.split, t.rowOf, t.noise + at % t.noiseLength);
    else levelPairs(source + at, out, count, *t.split, t.colours);
}

void composedInto(int deck, const ComposedFilters& c, const uint16_t* source) {
    const ComposedTables t(c);
    if (t.noisy) levelNoiseKernel(source, deckFrame(deck), *t.split, t.rowOf, c.noise, c.noiseLength);
    else levelKernel(source, deckFrame(deck), *t.split, t.colours);
}

// In the order of applyZoom, so that the source may be the deck's own half.
void composedZoomInto(int deck, const ComposedFilters& c, const uint16_t* source) {
    const ComposedTables t(c);
    u16* f = deckFrame(deck);
    for (int r = 0; r < 60; r++) chainZoomRow(t, source, f, r);
    for (int r = 119; r >= 60; r--) chainZoomRow(t, source, f, r);
}
#else
void composedInto(int, const ComposedFilters&, const uint16_t*) {}
void composedZoomInto(int, const ComposedFilters&, const uint16_t*) {}
ComposedTables::ComposedTables(const ComposedFilters&) {}
void composedPiece(const ComposedTables&, const uint16_t*, uint16_t*, int, int) {}
#endif

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
        if (offset < FrameWidth) rotateRowsRight(f, offset);
    } else if (value == 0 || value == 2) {
        if (offset > FrameHeight) offset = 2;
        else if (offset == 0) offset = FrameHeight;
        if (offset < FrameHeight) rotateFrameDown(f, offset);
    }
    effectTable.setEffectParam(deck, Scroll, offset);
}
