// The per-block work of both frame decoders: the redraw test, entry decoding and the scan orders.
// Deliberately without include guard or includes: a source file includes it inside a namespace of
// its own once per instruction set, after <cstring> and the intrinsics, with DECODE_LEVEL 0 (the
// portable build: SSE2 when DECODE_SSE2 is 1, else plain integer code) or 1 (AVX2). Everything
// here runs per frame on bytes the loader has checked, so nothing tests the clip's bytes: ids are
// below entryCount (Format17), runs and alpha runs cover exactly 64 pixels, the picture is 40 x 30
// blocks.
//
// A run-coded entry is expanded into the 64 colours of its scan order (a "line"), then one copy
// kernel, chosen once per block from the fill mode and variant, puts the line into the block.

namespace {

constexpr int Stride = 320;
constexpr int GroupBlocks = 20;  // four mode words; half a block row
// Runs are written whole at a fixed width (8, 16 or 32 pixels) and the next run overwrites the
// excess, so the line has room for the longest run to start at its 63rd colour.
constexpr int LineSize = 64 + 32;

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Block rows start on a word boundary (the deck frames, the alpha plane and a block's 64 alpha
// values are aligned): said so, an 8-byte copy is two word moves rather than a call to memcpy on
// the console.
template <class T>
inline T* aligned(T* p) {
    return static_cast<T*>(__builtin_assume_aligned(p, 4));
}

// A run's colour repeated across a register, written whole (8, 16 or 32 pixels) whatever the
// run's length. The track's paletteWide holds each palette colour repeated four times, so that a
// palette run takes its colour in one load.
#if DECODE_SSE2
using Fill = __m128i;
inline Fill paletteFill(const uint64_t* wide, unsigned i) { return _mm_set1_epi64x(int64_t(wide[i])); }
#if DECODE_LEVEL >= 1
inline Fill directFill(const uint8_t* p) {  // one broadcast straight from the entry
    int16_t v;
    std::memcpy(&v, p, 2);
    return _mm_set1_epi16(v);
}
#else
// Reads four bytes for the two of the colour (the dictionary is padded for the last one).
inline Fill directFill(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    __m128i x = _mm_shufflelo_epi16(_mm_cvtsi32_si128(v), 0);
    return _mm_unpacklo_epi64(x, x);
}
#endif
template <int N>
inline void put(uint16_t* out, Fill c) {
#pragma GCC unroll 4
    for (int i = 0; i < N; i += 8) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), c);
}
#else
// Without vector registers a run's colour fills a 32-bit word (the console's ARM has neither
// unaligned nor 64-bit stores: an 8-byte copy to a 2-byte aligned pixel became a call to memcpy).
// The line is word aligned, so a run is one halfword at its start and then whole aligned words
// from its start, or from its second pixel when the start is not on a word: N pixels or one more,
// all inside the line.
using Fill = uint32_t;
inline Fill paletteFill(const uint64_t* wide, unsigned i) { return uint32_t(wide[i]); }
inline Fill directFill(const uint8_t* p) { return le16(p) * 0x00010001u; }
template <int N>
inline void put(uint16_t* out, Fill c) {
    *out = uint16_t(c);
    uint16_t* words = reinterpret_cast<uint16_t*>((reinterpret_cast<uintptr_t>(out) + 2) & ~uintptr_t(3));
    for (int i = 0; i < N; i += 2) std::memcpy(__builtin_assume_aligned(words + i, 4), &c, 4);
}
#endif

inline Fill colour(const uint8_t*& p, bool fromPalette, const uint64_t* wide) {
    Fill c;
    if (fromPalette) c = paletteFill(wide, *p++);
    else c = directFill(p), p += 2;
    return c;
}

#if DECODE_SSE2
// Narrow runs (1..8 pixels) come in pairs sharing a run byte R whose bits 1 and 0 say whether
// each colour is a palette index or a direct colour. In busy footage the kinds follow no pattern,
// so a branch on them is mispredicted about every other run: both readings are broadcast and one
// chosen by a mask (0xFF bytes for a palette index), and the colour pointer moves on by the
// colour's size; both come from tables indexed by the run byte.
inline Fill colourOfKind(const uint8_t*& c, uint8_t paletteMask, unsigned bytes, const uint64_t* wide) {
    const __m128i palette = paletteFill(wide, c[0]), direct = directFill(c);
    const __m128i mask = _mm_set1_epi8(char(paletteMask));
    c += bytes;
#if DECODE_LEVEL >= 1
    return _mm_blendv_epi8(direct, palette, mask);
#else
    return _mm_or_si128(_mm_and_si128(mask, palette), _mm_andnot_si128(mask, direct));
#endif
}
inline Fill firstColour(const uint8_t*& c, size_t R, const uint64_t* wide) {
    return colourOfKind(c, runLengths.firstPalette[R], runLengths.firstBytes[R], wide);
}
inline Fill secondColour(const uint8_t*& c, size_t R, const uint64_t* wide) {
    return colourOfKind(c, runLengths.secondPalette[R], runLengths.secondBytes[R], wide);
}

// Format17 run pairs, narrow form: each run byte followed by its colours. Returns the first byte
// after the runs (a first run that reaches 64 has no second colour).
__attribute__((noinline)) const uint8_t* narrowPairs(const uint8_t* p, const uint64_t* wide, uint16_t* line) {
    uint16_t* out = line;
    const uint16_t* end = line + 64;
    for (;;) {
        const size_t R = *p++;
        put<8>(out, firstColour(p, R, wide));
        out += runLengths.first[0][R];
        if (out >= end) return p;
        put<8>(out, secondColour(p, R, wide));
        out += runLengths.second[0][R];
        if (out >= end) return p;
    }
}

// Format18 separated narrow runs: the run bytes from r, then the colours of all runs from c.
// Every run byte before the last one (the one just before the colours) holds two runs that end
// below 64, so only the last byte's second run needs a test.
__attribute__((noinline)) const uint8_t* narrowSeparated(const uint8_t* r, const uint8_t* c, const uint64_t* wide, uint16_t* line) {
    const uint8_t* last = c - 1;
    uint16_t* out = line;
    for (; r < last; r++) {
        const size_t R = *r;
        put<8>(out, firstColour(c, R, wide));
        out += runLengths.first[0][R];
        put<8>(out, secondColour(c, R, wide));
        out += runLengths.second[0][R];
    }
    const size_t R = *r;
    put<8>(out, firstColour(c, R, wide));
    out += runLengths.first[0][R];
    if (out < line + 64) put<8>(out, secondColour(c, R, wide));
    return c;
}

// The same for an entry whose runs all take palette colours (footage of few colours has little
// else): one colour byte per run, nothing to choose.
__attribute__((noinline)) const uint8_t* narrowPaletteSeparated(const uint8_t* r, const uint8_t* c, const uint64_t* wide, uint16_t* line) {
    const uint8_t* last = c - 1;
    uint16_t* out = line;
    for (; r < last; r++) {
        const size_t R = *r;
        put<8>(out, paletteFill(wide, *c++));
        out += runLengths.first[0][R];
        put<8>(out, paletteFill(wide, *c++));
        out += runLengths.second[0][R];
    }
    put<8>(out, paletteFill(wide, *c++));
    out += runLengths.first[0][*r];
    if (out < line + 64) put<8>(out, paletteFill(wide, *c++));
    return c;
}
#else
// Narrow runs (1..8 pixels) come in pairs sharing a run byte R whose bits 1 and 0 say whether
// each colour is a palette index or a direct colour. One pair whose colour kinds are known, its
// colours read at c; false once the runs reach 64. When the first run already reaches 64 the pair
// has no second colour: the bytes after the first colour are read and written past the line's
// 64th pixel all the same, and the end test then looks at where the first run ended.
template <bool FirstFromPalette, bool SecondFromPalette>
inline bool narrowPair(size_t R, const uint8_t*& c, const uint64_t* wide, uint16_t*& out, const uint16_t* end) {
    constexpr int FirstSize = FirstFromPalette ? 1 : 2, SecondSize = SecondFromPalette ? 1 : 2;
    uint16_t* second = out + runLengths.first[0][R];
    put<8>(out, FirstFromPalette ? paletteFill(wide, c[0]) : directFill(c));
    put<8>(second, SecondFromPalette ? paletteFill(wide, c[FirstSize]) : directFill(c + FirstSize));
    out = second + runLengths.second[0][R];
    if (out < end) {
        c += FirstSize + SecondSize;
        return true;
    }
    c += second < end ? FirstSize + SecondSize : FirstSize;
    return false;
}

// The same for a pair known to stay below 64.
template <bool FirstFromPalette, bool SecondFromPalette>
inline void narrowPairWithin(size_t R, const uint8_t*& c, const uint64_t* wide, uint16_t*& out) {
    put<8>(out, FirstFromPalette ? paletteFill(wide, c[0]) : directFill(c));
    c += FirstFromPalette ? 1 : 2;
    out += runLengths.first[0][R];
    put<8>(out, SecondFromPalette ? paletteFill(wide, c[0]) : directFill(c));
    c += SecondFromPalette ? 1 : 2;
    out += runLengths.second[0][R];
}

// In both narrow decoders each pair jumps straight to the code for its two colour kinds (R & 3)
// through a table of labels: one indirect jump per pair instead of a chain of compares. The table
// is indexed by the whole run byte, which saves masking it.
#define KINDS4 &&directDirect, &&directPalette, &&paletteDirect, &&palettePalette
#define KINDS16 KINDS4, KINDS4, KINDS4, KINDS4
#define KINDS64 KINDS16, KINDS16, KINDS16, KINDS16
#define KINDS256 KINDS64, KINDS64, KINDS64, KINDS64

// Format17 run pairs, narrow form: each run byte followed by its colours. Returns the first byte
// after the runs.
__attribute__((noinline)) const uint8_t* narrowPairs(const uint8_t* p, const uint64_t* wide, uint16_t* line) {
    static const void* const kinds[256] = {KINDS256};
    uint16_t* out = line;
    const uint16_t* end = line + 64;
    size_t R = *p++;
    goto *kinds[R];
#define PAIR(label, first, second)                                   \
    label:                                                           \
    if (!narrowPair<first, second>(R, p, wide, out, end)) return p; \
    R = *p++;                                                        \
    goto *kinds[R];
    PAIR(directDirect, false, false)
    PAIR(directPalette, false, true)
    PAIR(paletteDirect, true, false)
    PAIR(palettePalette, true, true)
#undef PAIR
}

// Format18 separated narrow runs: the run bytes from r, then the colours of all runs from c.
// Every run byte before the last one (the one just before the colours) holds two runs that end
// below 64, so only the last byte's second run needs a test.
__attribute__((noinline)) const uint8_t* narrowSeparated(const uint8_t* r, const uint8_t* c, const uint64_t* wide, uint16_t* line) {
    static const void* const kinds[256] = {KINDS256};
    const uint8_t* last = c - 1;
    uint16_t* out = line;
    size_t R;
    if (r == last) goto lastByte;
    R = *r++;
    goto *kinds[R];
#define PAIR(label, first, second)                              \
    label:                                                      \
    narrowPairWithin<first, second>(R, c, wide, out);           \
    if (r == last) goto lastByte;                               \
    R = *r++;                                                   \
    goto *kinds[R];
    PAIR(directDirect, false, false)
    PAIR(directPalette, false, true)
    PAIR(paletteDirect, true, false)
    PAIR(palettePalette, true, true)
#undef PAIR
lastByte:
    R = *r;
    put<8>(out, colour(c, R & 2, wide));
    out += runLengths.first[0][R];
    if (out < line + 64) put<8>(out, colour(c, R & 1, wide));
    return c;
}
#undef KINDS256
#undef KINDS64
#undef KINDS16
#undef KINDS4

#endif

// Format17 run pairs, wide form (1..16 pixels, palette colours only).
const uint8_t* widePairs(const uint8_t* p, const uint64_t* wide, uint16_t* line) {
    uint16_t* out = line;
    for (;;) {
        unsigned R = *p++;
        put<16>(out, paletteFill(wide, *p++));
        out += runLengths.first[1][R];
        if (out >= line + 64) return p;
        put<16>(out, paletteFill(wide, *p++));
        out += runLengths.second[1][R];
        if (out >= line + 64) return p;
    }
}

// Format18 four-run form: runs of (H & 31) + 1, ((H >> 5) & 31) + 1, ((H >> 10) & 31) + 1 and the
// rest, colours only for the runs that start before the 64th pixel.
const uint8_t* fourRuns(const uint8_t* p, const uint64_t* wide, uint16_t* line) {
    uint16_t h = le16(p);
    p += 2;
    const int length[4] = {(h & 31) + 1, ((h >> 5) & 31) + 1, ((h >> 10) & 31) + 1, 32};
    bool fromPalette = h & 0x8000;
    uint16_t* out = line;
    for (int r = 0; out < line + 64; r++) {
        put<32>(out, colour(p, fromPalette, wide));
        out += length[r];
    }
    return p;
}

// Where the colours of a Format18 separated narrow entry start: after the run byte whose runs
// reach 64 (adding both lengths of the last byte finds the same byte, as its first run alone
// already reaches 64). Eight run bytes at a time: each byte's two lengths (2..16) summed in place,
// then a multiply by 0x0101..01 leaves in byte k the running total of bytes 0..k (at most 191
// with what came before, so no byte carries into the next); the first byte with bit 6 or 7 set
// has reached 64. The eight bytes read stay inside the entry: runs of at most 8 pixels make at
// least 4 run bytes and 8 colour bytes, and run bytes that go on past the 8k-th one are followed
// by at least 16k + 1 colours.
// mixed (when not null) is set to whether any run byte up to that one has a colour kind bit clear
// (a direct colour, or the unused second run of the last byte): entries of palette runs only are
// drawn without choosing a kind per run.
inline const uint8_t* narrowColours(const uint8_t* p, bool* mixed = nullptr) {
    constexpr uint64_t Ones = 0x0101010101010101ull, Kinds = 0x0303030303030303ull;
    uint64_t direct = 0;
    for (uint64_t total = 0;; p += 8) {
        uint64_t x;
        std::memcpy(&x, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        x = __builtin_bswap64(x);
#endif
        uint64_t sums = ((x >> 5) & 0x0707070707070707ull) + ((x >> 2) & 0x0707070707070707ull) + 2 * Ones;
        uint64_t running = sums * Ones + total * Ones;
        uint64_t reached = running & 0xC0C0C0C0C0C0C0C0ull;
        if (reached) {
            const int last = __builtin_ctzll(reached) >> 3;
            if (mixed) *mixed = (direct | (~x & Kinds & (~0ull >> (56 - 8 * last)))) != 0;
            return p + last + 1;
        }
        direct |= ~x & Kinds;
        total = running >> 56;
    }
}

// Format18 separated runs: the run bytes, then one colour per run. As in narrowSeparated only
// the last run byte can hold a run past the 64th pixel.
template <bool Narrow>
inline __attribute__((always_inline)) const uint8_t* separatedRuns(const uint8_t* p, const uint64_t* wide, uint16_t* line) {
#if DECODE_SSE2
    if (Narrow) {
        bool mixed;
        const uint8_t* colours = narrowColours(p, &mixed);
        return mixed ? narrowSeparated(p, colours, wide, line) : narrowPaletteSeparated(p, colours, wide, line);
    }
#else
    if (Narrow) return narrowSeparated(p, narrowColours(p), wide, line);
#endif
    const uint8_t* q = p;
    for (unsigned total = 0; total < 64;) total += runLengths.pair[1][*q++];
    const uint8_t* last = q - 1;
    uint16_t* out = line;
    for (; p < last; p++) {
        put<16>(out, paletteFill(wide, *q++));
        out += runLengths.first[1][*p];
        put<16>(out, paletteFill(wide, *q++));
        out += runLengths.second[1][*p];
    }
    put<16>(out, paletteFill(wide, *q++));
    out += runLengths.first[1][*p];
    if (out < line + 64) put<16>(out, paletteFill(wide, *q++));
    return q;
}

// Puts the 64 colours of a line into the block at dst along one scan order: the line's pixel
// i = 8 * outer + inner is row outer (column inner) in a rows order, column outer (row inner) in
// a columns order, counted from the right or the bottom when flipped. Fill modes 0..3 with
// variant 0 are rows orders, flipped right to left in odd modes and bottom to top from mode 2 on;
// variant 1 makes them columns orders; modes 4 and 5 are modes 2 and 3 with the variant swapped.
#if DECODE_LEVEL >= 1
// Two block rows to a 32-byte register. A rows order moves two line rows at once (reversed by
// one byte shuffle when it runs right to left). A columns order is the 8x8 transpose of the
// line: with line rows i and i + 4 in one register, two rounds of unpacks transpose both halves
// at once and a lane permute pairs the halves of each column.
template <bool Columns, bool FlipX, bool FlipY>
void scatter(uint16_t* dst, const uint16_t* line) {
    __m256i out[4];  // out[k]: block rows 2k and 2k + 1 before the vertical flip
    if (!Columns) {
        const __m256i reverse = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,  //
                                                 14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
#pragma GCC unroll 4
        for (int k = 0; k < 4; k++) {
            out[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(line + 16 * k));
            if (FlipX) out[k] = _mm256_shuffle_epi8(out[k], reverse);
        }
    } else {
        // Columns right to left: the transpose of the line with its rows taken last first.
        auto rows = [line](int i, int j) {
            const int a = FlipX ? 7 - i : i, b = FlipX ? 7 - j : j;
            return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 8 * a))),
                                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 8 * b)), 1);
        };
        const __m256i a = rows(0, 4), b = rows(1, 5), c = rows(2, 6), d = rows(3, 7);
        const __m256i abLow = _mm256_unpacklo_epi16(a, b), abHigh = _mm256_unpackhi_epi16(a, b);
        const __m256i cdLow = _mm256_unpacklo_epi16(c, d), cdHigh = _mm256_unpackhi_epi16(c, d);
        // Each lane now holds two columns of its four rows; the permute joins the lanes' halves.
        out[0] = _mm256_permute4x64_epi64(_mm256_unpacklo_epi32(abLow, cdLow), 0xD8);
        out[1] = _mm256_permute4x64_epi64(_mm256_unpackhi_epi32(abLow, cdLow), 0xD8);
        out[2] = _mm256_permute4x64_epi64(_mm256_unpacklo_epi32(abHigh, cdHigh), 0xD8);
        out[3] = _mm256_permute4x64_epi64(_mm256_unpackhi_epi32(abHigh, cdHigh), 0xD8);
    }
#pragma GCC unroll 4
    for (int k = 0; k < 4; k++) {
        const int y0 = FlipY ? 7 - 2 * k : 2 * k, y1 = FlipY ? 6 - 2 * k : 2 * k + 1;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + y0 * Stride), _mm256_castsi256_si128(out[k]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + y1 * Stride), _mm256_extracti128_si256(out[k], 1));
    }
}
#elif DECODE_SSE2
// Eight 16-byte rows: a rows order moves each line row to its block row (reversed in three
// shuffles when it runs right to left); a columns order is the 8x8 transpose of the line.
inline __m128i reversed(__m128i v) {
    v = _mm_shuffle_epi32(v, 0x4E);  // swap the 64-bit halves, then the four words of each
    v = _mm_shufflelo_epi16(v, 0x1B);
    return _mm_shufflehi_epi16(v, 0x1B);
}

inline void transpose(__m128i* m) {
    __m128i a0 = _mm_unpacklo_epi16(m[0], m[1]), a1 = _mm_unpackhi_epi16(m[0], m[1]);
    __m128i a2 = _mm_unpacklo_epi16(m[2], m[3]), a3 = _mm_unpackhi_epi16(m[2], m[3]);
    __m128i a4 = _mm_unpacklo_epi16(m[4], m[5]), a5 = _mm_unpackhi_epi16(m[4], m[5]);
    __m128i a6 = _mm_unpacklo_epi16(m[6], m[7]), a7 = _mm_unpackhi_epi16(m[6], m[7]);
    __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    m[0] = _mm_unpacklo_epi64(b0, b4), m[1] = _mm_unpackhi_epi64(b0, b4);
    m[2] = _mm_unpacklo_epi64(b1, b5), m[3] = _mm_unpackhi_epi64(b1, b5);
    m[4] = _mm_unpacklo_epi64(b2, b6), m[5] = _mm_unpackhi_epi64(b2, b6);
    m[6] = _mm_unpacklo_epi64(b3, b7), m[7] = _mm_unpackhi_epi64(b3, b7);
}

template <bool Columns, bool FlipX, bool FlipY>
void scatter(uint16_t* dst, const uint16_t* line) {
    __m128i m[8];
#pragma GCC unroll 8
    for (int i = 0; i < 8; i++) {
        // Columns right to left: the transpose of the line with its rows taken last first.
        int row = Columns && FlipX ? 7 - i : i;
        m[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 8 * row));
        if (!Columns && FlipX) m[i] = reversed(m[i]);
    }
    if (Columns) transpose(m);
#pragma GCC unroll 8
    for (int y = 0; y < 8; y++, dst += Stride) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), m[FlipY ? 7 - y : y]);
}
#else
// Two pixels to a 32-bit word: the line and the block's rows are word aligned (the deck frames
// are, and blocks start every 16 bytes). A rows order copies whole words (swapping their halves
// when it runs right to left); a columns order joins two pixels of the line per word.
inline uint32_t pixelPair(uint16_t left, uint16_t right) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return uint32_t(left) << 16 | right;
#else
    return uint32_t(right) << 16 | left;
#endif
}

template <bool Columns, bool FlipX, bool FlipY>
void scatter(uint16_t* dst, const uint16_t* line) {
    for (int y = 0; y < 8; y++, dst += Stride) {
        const int sy = FlipY ? 7 - y : y;
        uint32_t words[4];
        if (!Columns) {
            std::memcpy(words, __builtin_assume_aligned(line + 8 * sy, 4), 16);
            if (FlipX)
                for (int i = 0; i < 2; i++) {
                    const uint32_t a = words[i], b = words[3 - i];
                    words[i] = b >> 16 | b << 16, words[3 - i] = a >> 16 | a << 16;
                }
        } else {
            for (int i = 0; i < 4; i++) {
                const int x = 2 * i, sx = FlipX ? 7 - x : x, sx1 = FlipX ? 6 - x : x + 1;
                words[i] = pixelPair(line[8 * sx + sy], line[8 * sx1 + sy]);
            }
        }
        std::memcpy(__builtin_assume_aligned(dst, 4), words, 16);
    }
}
#endif

using Scatter = void (*)(uint16_t*, const uint16_t*);
// [fill mode 0..5][variant]
const Scatter scatters[6][2] = {
    {scatter<false, false, false>, scatter<true, false, false>},
    {scatter<false, true, false>, scatter<true, true, false>},
    {scatter<false, false, true>, scatter<true, false, true>},
    {scatter<false, true, true>, scatter<true, true, true>},
    {scatter<true, false, true>, scatter<false, false, true>},
    {scatter<true, true, true>, scatter<false, true, true>},
};

inline void scatterLine(uint16_t* dst, const uint16_t* line, int mode, int variant) { scatters[mode][variant](dst, line); }

#if DECODE_SSE2
inline void fillBlock(uint16_t* cursor, uint16_t c) {
#pragma GCC unroll 8
    for (int y = 0; y < 8; y++, cursor += Stride)
        for (int x = 0; x < 8; x++) cursor[x] = c;
}
#else
inline void fillBlock(uint16_t* cursor, uint16_t c) {  // by words, as a block starts on one
    const uint32_t pair = c * 0x00010001u;
#pragma GCC unroll 8
    for (int y = 0; y < 8; y++, cursor += Stride)
        for (int x = 0; x < 8; x += 2) std::memcpy(aligned(cursor + x), &pair, 4);
}
#endif

inline void directPixels(uint16_t* cursor, const uint8_t* p) {
#pragma GCC unroll 8
    for (int y = 0; y < 8; y++, cursor += Stride)
        for (int x = 0; x < 8; x++, p += 2) cursor[x] = le16(p);
}

inline void palettePixels(uint16_t* cursor, const uint8_t* p, const uint16_t* palette) {
#pragma GCC unroll 8
    for (int y = 0; y < 8; y++, cursor += Stride)
        for (int x = 0; x < 8; x++) cursor[x] = palette[*p++];
}

#if DECODE_SSE2
// Two rows per 16-byte load, stored as its low and high halves.
inline void copyAlpha(uint8_t* plane, const uint8_t* scratch) {
#pragma GCC unroll 4
    for (int y = 0; y < 8; y += 2, plane += 2 * Stride, scratch += 16) {
        __m128i rows = _mm_loadu_si128(reinterpret_cast<const __m128i*>(scratch));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(plane), rows);
        _mm_storeh_pd(reinterpret_cast<double*>(plane + Stride), _mm_castsi128_pd(rows));
    }
}
#else
inline void copyAlpha(uint8_t* plane, const uint8_t* scratch) {
#pragma GCC unroll 8
    for (int y = 0; y < 8; y++, plane += Stride, scratch += 8) std::memcpy(aligned(plane), aligned(scratch), 8);
}
#endif

// A run-coded block's line is put into the block only after the next run-coded block's line has
// been expanded: the line's rows are then read long after the narrow stores that wrote them, not
// straight after (where the loads would wait for those stores to reach the cache). Two lines
// take turns.
class DeferredScatter {
public:
    uint16_t* nextLine() { return lines[next]; }
    // The line from nextLine() goes to the block at cursor; the one before it goes out now.
    void put(uint16_t* cursor, int mode, int variant) {
        flush();
        pending = cursor, pendingMode = mode, pendingVariant = variant;
        next ^= 1;
    }
    void flush() {
        if (pending) scatterLine(pending, lines[next ^ 1], pendingMode, pendingVariant);
        pending = nullptr;
    }

private:
    alignas(64) uint16_t lines[2][LineSize];
    int next = 0;
    uint16_t* pending = nullptr;
    int pendingMode = 0, pendingVariant = 0;
};

// Alpha rows of a clip without alpha. Its blocks take their 64 alpha values from the decoder's
// scratch values (which only a Format17 uniform-alpha entry changes) or from a fixed value, so
// neighbours in a block row mostly write the same eight bytes per row: such a span of blocks is
// written as a whole, each row's eight bytes repeated in wide stores, once it ends.
struct UniformAlpha {
    alignas(8) uint8_t values[64];
    constexpr explicit UniformAlpha(uint8_t a) : values{} {
        for (uint8_t& v : values) v = a;
    }
};
constexpr UniformAlpha opaqueAlpha(15), clearAlpha(0);

inline void repeatRow(uint8_t* plane, uint64_t row, int blocks) {
#if DECODE_LEVEL >= 1
    // Spans of four blocks or more end with a store overlapping the one before it; the repeated
    // rows line up, as both start a whole number of blocks from the span's start.
    const __m256i v = _mm256_set1_epi64x(int64_t(row));
    const int bytes = 8 * blocks;
    if (bytes >= 32) {
        int i = 0;
        for (; i + 32 <= bytes; i += 32) _mm256_storeu_si256(reinterpret_cast<__m256i*>(plane + i), v);
        if (i < bytes) _mm256_storeu_si256(reinterpret_cast<__m256i*>(plane + bytes - 32), v);
        return;
    }
    if (blocks & 2) _mm_storeu_si128(reinterpret_cast<__m128i*>(plane), _mm256_castsi256_si128(v)), plane += 16;
    if (blocks & 1) _mm_storel_epi64(reinterpret_cast<__m128i*>(plane), _mm256_castsi256_si128(v));
#elif DECODE_SSE2
    const __m128i v = _mm_set1_epi64x(int64_t(row));
    for (; blocks >= 2; blocks -= 2, plane += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(plane), v);
    if (blocks) _mm_storel_epi64(reinterpret_cast<__m128i*>(plane), v);
#else
    for (; blocks > 0; blocks--, plane += 8) std::memcpy(aligned(plane), &row, 8);
#endif
}

class AlphaSpan {
public:
    // Block at plane takes the 64 values at source (which must not change while it is pending).
    void add(uint8_t* plane, const uint8_t* source) {
        if (plane != end || source != values) {
            flush();
            start = plane, values = source;
        }
        end = plane + 8;
    }
    void flush() {
        const int blocks = int(end - start) / 8;
        if (blocks == 0) return;
        for (int y = 0; y < 8; y++) {
            uint64_t row;
            std::memcpy(&row, aligned(values + 8 * y), 8);
            repeatRow(start + y * Stride, row, blocks);
        }
        start = end;
    }

private:
    uint8_t* start = nullptr;
    uint8_t* end = nullptr;
    const uint8_t* values = nullptr;
};

// AlphaRun bytes into the 64 values; the runs were checked to cover 64.
inline void readAlphaRuns(const uint8_t* p, uint8_t* alpha) {
    int i = 0;
    while (i < 64) {
        uint8_t a = *p++;
        int end = i + (a >> 4) + 1;
        if (end > 64) end = 64;
        std::memset(alpha + i, a & 15, size_t(end - i));
        i = end;
    }
}

// The redraw test over a frame: calls draw(b, cursor, mode) for every block whose id or fill
// mode differs from the previous decode, or for all while redrawFrames runs. Twenty blocks are
// compared at once first, so that a frame where little changed costs sixty compares.
template <class Draw>
inline void changedBlocks(const Track& t, const uint16_t* words, uint16_t* frame, Draw draw) {
    if (t.redrawFrames != 0) {  // every block, row by row: nothing to compare
        uint16_t* cursor = frame;
        for (int b = 0, w = 0; w < ClipBlocks / 5; w++) {
            unsigned word = words[w];
            for (int shift = 12; shift >= 0; shift -= 3, b++, cursor += 8) draw(b, cursor, int((word >> shift) & 7));
            if (w % 8 == 7) cursor += 7 * Stride;  // the row's 40 blocks done: on to the next block row
        }
        return;
    }
    const uint16_t* ids = t.currentIds;
    const uint16_t* prevIds = t.prevIds;
    const uint16_t* prevModes = t.prevModes;
    for (int g = 0; g < ClipBlocks / GroupBlocks; g++) {
        int b = g * GroupBlocks, w = b / 5;
        if (std::memcmp(words + w, prevModes + w, 4 * sizeof(uint16_t)) == 0 &&
            std::memcmp(ids + b, prevIds + b, GroupBlocks * sizeof(uint16_t)) == 0)
            continue;
        uint16_t* cursor = frame + (g >> 1) * 8 * Stride + (g & 1) * 8 * GroupBlocks;
        for (int last = w + 4; w < last; w++)
            for (int shift = 12; shift >= 0; shift -= 3, b++, cursor += 8) {
                int mode = (words[w] >> shift) & 7;
                if (ids[b] != prevIds[b] || mode != ((prevModes[w] >> shift) & 7)) draw(b, cursor, mode);
            }
    }
}

// The blocks of a Format17 frame whose id or mode changed (all while redrawFrames runs), for a
// frame that does or does not write the alpha plane, of a clip with or without alpha.
template <bool WriteAlpha, bool HasAlpha>
void drawBlocks17With(Track& t, const FramePlan& plan) {
    // Local copies, so that the entry decoders' calls do not make the compiler reload them.
    const bool idColours = plan.idColours, writeAlpha = WriteAlpha, hasAlpha = HasAlpha;
    uint16_t* const frame = plan.frame;
    uint8_t* const plane = alphaPlane;
    const uint8_t* const dictionary = t.dictionary;
    const int32_t* const entryOffsets = t.entryOffsets;
    const uint16_t* const ids = t.currentIds;
    const uint16_t* const palette = t.palette;
    const uint64_t* const wide = t.paletteWide;
    uint8_t* const scratch = t.alphaScratch;
    AlphaSpan span;
    DeferredScatter scatter;
    // Run-coded entries of a clip without alpha expanded at load (entry id at lines + 64 * id).
    const uint16_t* const lines = t.entryLines;
    const unsigned linesCount = unsigned(t.entryLinesCount);
    changedBlocks(t, plan.words, frame, [&](int b, uint16_t* cursor, int mode) __attribute__((always_inline)) {
        uint16_t id = ids[b];
        const uint8_t* entry = dictionary + entryOffsets[id];
        unsigned type = entry[0];
        const uint8_t* p = entry + 1;
        // Without alpha nothing after the runs is read, so an expanded entry skips them.
        const bool expanded = DECODE_SSE2 && !hasAlpha && (type & 7) < 4 && id < linesCount;
        uint16_t* line = scatter.nextLine();
        switch (expanded ? 8 : type & 7) {
        case 0:
        case 1: p = narrowPairs(p, wide, line); break;
        case 2:
        case 3: p = widePairs(p, wide, line); break;
        case 4: fillBlock(cursor, le16(p)), p += 2; break;
        case 5: fillBlock(cursor, palette[*p++]); break;
        case 6: directPixels(cursor, p), p += 128; break;
        case 7: palettePixels(cursor, p, palette), p += 64; break;
        }
        if (type & 8) {
            if (writeAlpha && !hasAlpha) span.flush();  // the pending blocks still need the old values
            std::memset(scratch, type >> 4, 64);
        } else if (hasAlpha) {
            readAlphaRuns(p, scratch);
        }
        if ((type & 7) < 4) {
            if (idColours)
                fillBlock(cursor, id);
            else if (mode < 6 && expanded)
                scatterLine(cursor, lines + 64 * size_t(id), mode, type & 1);
            else if (mode < 6)
                scatter.put(cursor, mode, type & 1);
        }
        if (writeAlpha && hasAlpha) copyAlpha(plane + (cursor - frame), scratch);
        if (writeAlpha && !hasAlpha) span.add(plane + (cursor - frame), scratch);
    });
    scatter.flush();
    span.flush();
}

// The same for Format18: fill modes 0 and 7 and ids beyond the dictionary draw without an entry.
template <bool WriteAlpha, bool HasAlpha>
void drawBlocks18With(Track& t, const FramePlan& plan) {
    const bool idColours = plan.idColours, writeAlpha = WriteAlpha, hasAlpha = HasAlpha;
    uint16_t* const frame = plan.frame;
    uint8_t* const alpha = alphaPlane;
    const uint8_t* const dictionary = t.dictionary;
    const int32_t* const entryOffsets = t.entryOffsets;
    const uint16_t* const ids = t.currentIds;
    const uint16_t* const palette = t.palette;
    const uint64_t* const wide = t.paletteWide;
    uint8_t* const scratch = t.alphaScratch;
    const unsigned entryCount = t.entryCount;
    AlphaSpan span;
    DeferredScatter scatter;
    // Alpha values of a block, written at once with a clip that has alpha, else added to the span.
    auto putAlpha = [&](uint8_t* plane, const uint8_t* values) __attribute__((always_inline)) {
        if (hasAlpha)
            copyAlpha(plane, values);
        else
            span.add(plane, values);
    };
    // The entry's class is the last one starting at or before it (classes the clip does not have
    // start beyond every id).
#if DECODE_SSE2
    // All sixteen class starts compared at once, as 16-bit values (ids here are below entryCount,
    // so 65535 still lies beyond them) offset by 0x8000 for the signed compare; the classes
    // reached form a run of low bits.
    alignas(16) int16_t starts[16];
    for (int c = 0; c < 16; c++) starts[c] = int16_t((t.classFirst[c] > 65535 ? 65535 : t.classFirst[c]) ^ 0x8000);
    const __m128i startsLow = _mm_load_si128(reinterpret_cast<const __m128i*>(starts));
    const __m128i startsHigh = _mm_load_si128(reinterpret_cast<const __m128i*>(starts + 8));
    auto entryClass = [&](uint16_t id) {
        __m128i v = _mm_set1_epi16(int16_t(id ^ 0x8000));
        unsigned beyond = unsigned(_mm_movemask_epi8(_mm_packs_epi16(_mm_cmpgt_epi16(startsLow, v), _mm_cmpgt_epi16(startsHigh, v))));
        return 31 - __builtin_clz(~beyond & 0xFFFF);
    };
#else
    int32_t classFirst[16];
    for (int c = 0; c < 16; c++) classFirst[c] = t.classFirst[c];
    auto entryClass = [&](uint16_t id) {  // a binary search over the sixteen class starts
        int c = classFirst[8] <= int32_t(id) ? 8 : 0;
        c += classFirst[c + 4] <= int32_t(id) ? 4 : 0;
        c += classFirst[c + 2] <= int32_t(id) ? 2 : 0;
        return c + (classFirst[c + 1] <= int32_t(id) ? 1 : 0);
    };
#endif
    const uint16_t* const lines = t.entryLines;
    const unsigned linesFirst = unsigned(t.entryLinesFirst), linesCount = unsigned(t.entryLinesCount);
    changedBlocks(t, plan.words, frame, [&](int b, uint16_t* cursor, int mode) __attribute__((always_inline)) {
        uint16_t id = ids[b];
        uint8_t* plane = alpha + (cursor - frame);
        if (id >= entryCount) mode = 0;  // ids beyond the dictionary are literal colours
        if (idColours || mode == 0) {
            fillBlock(cursor, id);
            if (writeAlpha) putAlpha(plane, opaqueAlpha.values);
            return;
        }
        if (mode == 7) {
            fillBlock(cursor, 0);
            if (writeAlpha) putAlpha(plane, clearAlpha.values);
            return;
        }
        int c = entryClass(id);
        const uint8_t* p = dictionary + entryOffsets[id];
        if (DECODE_SSE2 && id - linesFirst < linesCount) {  // classes 4..7 expanded at load, no alpha part
            scatterLine(cursor, lines + 64 * size_t(id - linesFirst), mode - 1, c & 1);
        } else {
            uint16_t* line = scatter.nextLine();
            switch (c & 7) {
            case 0: directPixels(cursor, p), p += 128; break;
            case 1: palettePixels(cursor, p, palette), p += 64; break;
            case 2:
            case 3: p = fourRuns(p, wide, line); break;
            case 4:
            case 5: p = separatedRuns<true>(p, wide, line); break;
            case 6:
            case 7: p = separatedRuns<false>(p, wide, line); break;
            }
            if ((c & 7) >= 2) scatter.put(cursor, mode - 1, c & 1);
        }
        if (!writeAlpha) return;
        // With alpha every drawn block sets all 64 values before they are copied, so a deck that
        // does not write the alpha plane can leave them alone; without alpha they are left as
        // they were.
        if (hasAlpha && c < 8) {
            std::memset(scratch, 15, 64);
        } else if (hasAlpha) {
            uint8_t a = *p++;
            if (a & 0x20)
                std::memset(scratch, a & 15, 64);
            else
                readAlphaRuns(p, scratch);
        }
        putAlpha(plane, scratch);
    });
    scatter.flush();
    span.flush();
}

}  // namespace

void drawBlocks17(Track& t, const FramePlan& plan) {
    if (plan.writeAlpha)
        t.hasAlpha ? drawBlocks17With<true, true>(t, plan) : drawBlocks17With<true, false>(t, plan);
    else
        t.hasAlpha ? drawBlocks17With<false, true>(t, plan) : drawBlocks17With<false, false>(t, plan);
}

void drawBlocks18(Track& t, const FramePlan& plan) {
    if (plan.writeAlpha)
        t.hasAlpha ? drawBlocks18With<true, true>(t, plan) : drawBlocks18With<true, false>(t, plan);
    else
        t.hasAlpha ? drawBlocks18With<false, true>(t, plan) : drawBlocks18With<false, false>(t, plan);
}

const BlockDecoders decoders = {drawBlocks17, drawBlocks18};
