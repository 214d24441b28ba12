#include "tools/encode/BlockCoder.h"

#include <cstdlib>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "tools/encode/Picture.h"
#include <vector>

namespace encode {

namespace {

using clipwriter::Run;

// The eight distinct scan orders as (fill mode 0..3, variant): rows in four directions with
// variant 0, columns in four directions with variant 1.
struct Orders {
    uint8_t pixel[8][64];
    Orders() {
        for (int o = 0; o < 8; o++) clipwriter::scanOrder(o & 3, o >> 2, pixel[o]);
    }
};
const Orders orders;

// A run of the block before it is cut to the length limit of a form.
struct Span {
    uint8_t length;
    uint16_t colour;  // direct colour within the tolerance of every pixel of the span
    int16_t index;    // a palette colour within the tolerance too, or -1
    float error;      // squared error of the span shown in its direct colour
};

// Squared error weights of one RGB565 level widened to 8 bits: (255/31)^2 and (255/63)^2.
constexpr float RedBlueWeight = 67.7f;
constexpr float GreenWeight = 16.4f;

inline int red(uint16_t c) { return c >> 11; }
inline int green(uint16_t c) { return (c >> 5) & 63; }
inline int blue(uint16_t c) { return c & 31; }

// The longest spans along an order whose channels stay within twice the tolerance, each shown
// in the middle of its range (so within the tolerance of every pixel).
int spansAlong(const uint16_t px[64], const uint8_t order[64], const Tolerance& t,
               const Palette& pal, Span out[], int most = 64) {
    int n = 0;
    int i = 0;
    while (i < 64) {
        if (n == most) return most + 1;  // more spans than the caller has room for
        uint16_t c = px[order[i]];
        int rLo = red(c), rHi = rLo, gLo = green(c), gHi = gLo, bLo = blue(c), bHi = bLo;
        int start = i++;
        while (i < 64) {
            uint16_t d = px[order[i]];
            if (d != c) {
                int r = red(d), g = green(d), b = blue(d);
                int r0 = r < rLo ? r : rLo, r1 = r > rHi ? r : rHi;
                int g0 = g < gLo ? g : gLo, g1 = g > gHi ? g : gHi;
                int b0 = b < bLo ? b : bLo, b1 = b > bHi ? b : bHi;
                if (r1 - r0 > 2 * t.red || g1 - g0 > 2 * t.green || b1 - b0 > 2 * t.blue) break;
                rLo = r0, rHi = r1, gLo = g0, gHi = g1, bLo = b0, bHi = b1;
            }
            i++;
        }
        Span& s = out[n++];
        s.length = uint8_t(i - start);
        s.colour = uint16_t(((rLo + rHi) >> 1) << 11 | ((gLo + gHi) >> 1) << 5 | ((bLo + bHi) >> 1));
        int idx = pal.nearest[s.colour];
        uint16_t p = pal.colours[idx];
        bool fits = pal.size > 0 && red(p) >= rHi - t.red && red(p) <= rLo + t.red &&
                    green(p) >= gHi - t.green && green(p) <= gLo + t.green &&
                    blue(p) >= bHi - t.blue && blue(p) <= bLo + t.blue;
        s.index = fits ? int16_t(idx) : int16_t(-1);
        s.error = 0;  // only the lossy path weighs errors
    }
    return n;
}

// The squared error of every span of a block along one order (start j, length L) and how far
// the spans from each start stay within the tolerance. Neither depends on lambda, so the
// retries of a block with error weighing more use the table of its first try.
struct SpanTable {
    bool filled = false;
    alignas(16) float error[16][64];
    alignas(16) float byStart[64][16];  // error transposed: the spans from one start side by side
    alignas(16) int32_t longest[64];
};

// The spans along an order that cost least in bytes plus lambda x squared error, each within
// twice the tolerance (shown in the middle of its range) and at most 16 pixels long: a shortest
// path over the 65 positions between pixels. table (may be null) keeps the span errors for
// another call on the same block, order and tolerance level.
int cheapestSpansAlong(const uint16_t px[64], const uint8_t order[64], const Tolerance& t,
                       const Palette& pal, Span out[64], SpanTable* table) {
    int R[64], G[64], B[64];
    for (int i = 0; i < 64; i++) {
        uint16_t c = px[order[i]];
        R[i] = red(c), G[i] = green(c), B[i] = blue(c);
    }
    // Past position 64 only for the vector steps below, which never take those lanes.
    alignas(16) float best[80];
    alignas(16) int32_t from[80];
    best[0] = 0;
    for (int i = 1; i < 80; i++) best[i] = 1e30f;
    const int twiceRed = 2 * t.red, twiceGreen = 2 * t.green, twiceBlue = 2 * t.blue;
#ifdef __SSE2__
    // First the error of every span (start j, length L) at once, four starts per step, then the
    // shortest path over them. The sums and errors are whole numbers below 2^24, exact in
    // floats, and the weighing is done in the same order as below, so the costs are the same
    // to the bit and so is the path.
    SpanTable own;
    if (!table) table = &own;
    float (&spanError)[16][64] = table->error;
    int32_t (&longest)[64] = table->longest;
    if (!table->filled) {
    table->filled = true;
    alignas(16) float X[3][80], S[3][84], Q[3][84];  // channels, their running sums and squares
    for (int c = 0; c < 3; c++) {
        const int* v = c == 0 ? R : c == 1 ? G : B;
        S[c][0] = Q[c][0] = 0;
        for (int i = 0; i < 64; i++) {
            X[c][i] = float(v[i]);
            S[c][i + 1] = S[c][i] + float(v[i]);
            Q[c][i + 1] = Q[c][i] + float(v[i] * v[i]);
        }
        // Past the end: a level no span can reach, so spans stop at the block's last pixel.
        for (int i = 64; i < 80; i++) X[c][i] = 4096.0f;
        for (int i = 65; i < 84; i++) S[c][i] = S[c][64], Q[c][i] = Q[c][64];
    }
    {
        __m128 lo[3][16], hi[3][16];
        __m128i count[16];
        for (int k = 0; k < 16; k++) {
            for (int c = 0; c < 3; c++) lo[c][k] = hi[c][k] = _mm_load_ps(&X[c][4 * k]);
            count[k] = _mm_setzero_si128();
        }
        const __m128 limit[3] = {_mm_set1_ps(float(twiceRed)), _mm_set1_ps(float(twiceGreen)), _mm_set1_ps(float(twiceBlue))};
        const __m128 weight[3] = {_mm_set1_ps(RedBlueWeight), _mm_set1_ps(GreenWeight), _mm_set1_ps(RedBlueWeight)};
        const __m128 half = _mm_set1_ps(0.5f), two = _mm_set1_ps(2.0f);
        int rows = 16;  // of spanError filled
        for (int L = 1; L <= 16; L++) {
            const __m128 n = _mm_set1_ps(float(L));
            __m128i any = _mm_setzero_si128();
            for (int k = 0; k < 16; k++) {
                const int j = 4 * k;
                __m128 fits = _mm_castsi128_ps(_mm_set1_epi32(-1));
                __m128 e[3];
                for (int c = 0; c < 3; c++) {
                    if (L > 1) {
                        __m128 x = _mm_loadu_ps(&X[c][j + L - 1]);
                        lo[c][k] = _mm_min_ps(lo[c][k], x);
                        hi[c][k] = _mm_max_ps(hi[c][k], x);
                    }
                    fits = _mm_and_ps(fits, _mm_cmple_ps(_mm_sub_ps(hi[c][k], lo[c][k]), limit[c]));
                    __m128 m = _mm_cvtepi32_ps(_mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(lo[c][k], hi[c][k]), half)));
                    __m128 sum = _mm_sub_ps(_mm_loadu_ps(&S[c][j + L]), _mm_load_ps(&S[c][j]));
                    __m128 squares = _mm_sub_ps(_mm_loadu_ps(&Q[c][j + L]), _mm_load_ps(&Q[c][j]));
                    // squares - 2 m sum + n m m, as the integer expression below.
                    e[c] = _mm_add_ps(_mm_sub_ps(squares, _mm_mul_ps(_mm_mul_ps(two, m), sum)), _mm_mul_ps(_mm_mul_ps(n, m), m));
                }
                __m128 error = _mm_add_ps(_mm_add_ps(_mm_mul_ps(weight[0], e[0]), _mm_mul_ps(weight[1], e[1])),
                                          _mm_mul_ps(weight[2], e[2]));
                _mm_store_ps(&spanError[L - 1][j], error);
                // A span that no longer fits stays out of reach: longer ones from the same
                // start contain it.
                __m128i still = _mm_and_si128(_mm_castps_si128(fits), _mm_cmpeq_epi32(count[k], _mm_set1_epi32(L - 1)));
                count[k] = _mm_sub_epi32(count[k], still);
                any = _mm_or_si128(any, still);
            }
            if (!_mm_movemask_epi8(any)) {
                rows = L;
                break;
            }
        }
        for (int k = 0; k < 16; k++) _mm_store_si128(reinterpret_cast<__m128i*>(&longest[4 * k]), count[k]);
        // Lengths past the longest span of every start are never read, but are set so that
        // the four-wide steps below only see known values.
        for (int L = rows; L % 4; L++) memset(spanError[L], 0, sizeof spanError[L]);
        for (int L = 0; L < rows; L += 4)
            for (int j = 0; j < 64; j += 4) {
                __m128 r0 = _mm_load_ps(&spanError[L][j]), r1 = _mm_load_ps(&spanError[L + 1][j]);
                __m128 r2 = _mm_load_ps(&spanError[L + 2][j]), r3 = _mm_load_ps(&spanError[L + 3][j]);
                _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
                _mm_store_ps(&table->byStart[j][L], r0);
                _mm_store_ps(&table->byStart[j + 1][L], r1);
                _mm_store_ps(&table->byStart[j + 2][L], r2);
                _mm_store_ps(&table->byStart[j + 3][L], r3);
            }
    }
    }
    // The spans from one start, four lengths at a time: each reaches a different position, and
    // every cost is the same sum as in the plain loop below (a start's best is final before it
    // is used), so the path is the same to the bit.
    {
        const __m128 lambda = _mm_set1_ps(t.lambda), runCost = _mm_set1_ps(2.5f);
        const __m128i lengths = _mm_setr_epi32(1, 2, 3, 4), four = _mm_set1_epi32(4);
        for (int j = 0; j < 64; j++) {
            const __m128 from_j = _mm_set1_ps(best[j]);
            const __m128i start = _mm_set1_epi32(j), reach = _mm_set1_epi32(longest[j] + 1);
            __m128i L = lengths;
            for (int l = 0; l < longest[j]; l += 4, L = _mm_add_epi32(L, four)) {
                __m128 c = _mm_add_ps(from_j, _mm_add_ps(runCost, _mm_mul_ps(lambda, _mm_load_ps(&table->byStart[j][l]))));
                __m128 old = _mm_loadu_ps(&best[j + 1 + l]);
                __m128 better = _mm_and_ps(_mm_cmplt_ps(c, old), _mm_castsi128_ps(_mm_cmplt_epi32(L, reach)));
                _mm_storeu_ps(&best[j + 1 + l], _mm_or_ps(_mm_and_ps(better, c), _mm_andnot_ps(better, old)));
                __m128i was = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&from[j + 1 + l]));
                __m128i now = _mm_or_si128(_mm_and_si128(_mm_castps_si128(better), start),
                                           _mm_andnot_si128(_mm_castps_si128(better), was));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(&from[j + 1 + l]), now);
            }
        }
    }
#else
    (void)table;
    for (int j = 0; j < 64; j++) {
        int rLo = R[j], rHi = R[j], gLo = G[j], gHi = G[j], bLo = B[j], bHi = B[j];
        int sr = 0, sg = 0, sb = 0, srr = 0, sgg = 0, sbb = 0;
        const float from_j = best[j];
        const int end = j + 16 < 64 ? j + 16 : 64;
        for (int i = j; i < end; i++) {
            rLo = std::min(rLo, R[i]), rHi = std::max(rHi, R[i]);
            gLo = std::min(gLo, G[i]), gHi = std::max(gHi, G[i]);
            bLo = std::min(bLo, B[i]), bHi = std::max(bHi, B[i]);
            if (rHi - rLo > twiceRed || gHi - gLo > twiceGreen || bHi - bLo > twiceBlue) break;
            sr += R[i], sg += G[i], sb += B[i];
            srr += R[i] * R[i], sgg += G[i] * G[i], sbb += B[i] * B[i];
            int n = i - j + 1;
            int mr = (rLo + rHi) >> 1, mg = (gLo + gHi) >> 1, mb = (bLo + bHi) >> 1;
            float error = RedBlueWeight * float(srr - 2 * mr * sr + n * mr * mr) +
                          GreenWeight * float(sgg - 2 * mg * sg + n * mg * mg) +
                          RedBlueWeight * float(sbb - 2 * mb * sb + n * mb * mb);
            // A direct colour costs two bytes and half a run byte; whether a palette colour
            // can stand in is only asked of the spans chosen. Written without branches: which
            // span wins is data the branch predictor cannot learn.
            float cost = from_j + (2.5f + t.lambda * error);
            bool better = cost < best[i + 1];
            best[i + 1] = better ? cost : best[i + 1];
            from[i + 1] = better ? uint8_t(j) : from[i + 1];
        }
    }
#endif
    int n = 0;
    for (int at = 64; at > 0; at = from[at]) n++;
    int k = n;
    for (int at = 64; at > 0; at = from[at]) {
        Span& sp = out[--k];
        int rLo = 31, rHi = 0, gLo = 63, gHi = 0, bLo = 31, bHi = 0;
        int sr = 0, sg = 0, sb = 0, srr = 0, sgg = 0, sbb = 0;
        for (int i = from[at]; i < at; i++) {
            rLo = std::min(rLo, R[i]), rHi = std::max(rHi, R[i]);
            gLo = std::min(gLo, G[i]), gHi = std::max(gHi, G[i]);
            bLo = std::min(bLo, B[i]), bHi = std::max(bHi, B[i]);
            sr += R[i], sg += G[i], sb += B[i];
            srr += R[i] * R[i], sgg += G[i] * G[i], sbb += B[i] * B[i];
        }
        int len = at - from[at];
        int mr = (rLo + rHi) >> 1, mg = (gLo + gHi) >> 1, mb = (bLo + bHi) >> 1;
        sp.length = uint8_t(len);
        sp.colour = uint16_t(mr << 11 | mg << 5 | mb);
        sp.error = RedBlueWeight * float(srr - 2 * mr * sr + len * mr * mr) +
                   GreenWeight * float(sgg - 2 * mg * sg + len * mg * mg) +
                   RedBlueWeight * float(sbb - 2 * mb * sb + len * mb * mb);
        sp.index = -1;
        if (pal.size == 0) continue;
        int idx = pal.nearest[sp.colour];
        uint16_t p = pal.colours[idx];
        if (red(p) >= rHi - t.red && red(p) <= rLo + t.red && green(p) >= gHi - t.green &&
            green(p) <= gLo + t.green && blue(p) >= bHi - t.blue && blue(p) <= bLo + t.blue)
            sp.index = int16_t(idx);
    }
    // Neighbouring spans of one colour become one: the same picture and error, and the forms
    // with runs longer than 16 (four runs, one colour) can then use them.
    int m = 0;
    for (int k = 0; k < n; k++) {
        if (m > 0 && out[m - 1].colour == out[k].colour && out[m - 1].index == out[k].index) {
            out[m - 1].length = uint8_t(out[m - 1].length + out[k].length);
            out[m - 1].error += out[k].error;
        } else {
            out[m++] = out[k];
        }
    }
    return m;
}

enum Form { RawDirect, RawPalette, Flat, FourRun, Narrow, Wide };

struct Choice {
    int cost = 1 << 30;
    Form form = RawDirect;
    int order = 0;
    bool palette = false;  // four-run form: palette colours
};

// Cuts spans into runs of at most maxLength pixels, with palette colours when usePalette is set
// and the span has one.
std::vector<Run> cut(const Span* spans, int n, int maxLength, bool usePalette) {
    std::vector<Run> runs;
    for (int s = 0; s < n; s++) {
        bool p = usePalette && spans[s].index >= 0;
        uint16_t colour = p ? uint16_t(spans[s].index) : spans[s].colour;
        for (int left = spans[s].length; left > 0; left -= maxLength)
            runs.push_back(Run{uint8_t(left < maxLength ? left : maxLength), colour, p});
    }
    return runs;
}

clipwriter::EntryAlpha entryAlpha(int format, bool hasAlpha, const uint8_t alpha[64]) {
    if (!hasAlpha) return clipwriter::noAlpha();
    bool uniform = true;
    for (int i = 1; i < 64; i++) uniform &= alpha[i] == alpha[0];
    if (uniform) return clipwriter::uniformAlpha(alpha[0]);
    (void)format;
    return clipwriter::alphaValues(alpha);
}

}  // namespace

int64_t blockError(const uint16_t a[64], const uint16_t b[64]) {
    return int64_t(squaredError565(a, b, 64));
}

bool withinTolerance(const uint16_t a[64], const uint16_t b[64], const Tolerance& t) {
#ifdef __SSE2__
    // Eight pixels at a time: a lane fails when one of its channels moved by more than allowed.
    const __m128i five = _mm_set1_epi16(31), six = _mm_set1_epi16(63);
    const __m128i limR = _mm_set1_epi16(int16_t(t.red)), limG = _mm_set1_epi16(int16_t(t.green)),
                  limB = _mm_set1_epi16(int16_t(t.blue));
    __m128i over = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8) {
        __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        __m128i dr = _mm_sub_epi16(_mm_srli_epi16(p, 11), _mm_srli_epi16(q, 11));
        __m128i dg = _mm_sub_epi16(_mm_and_si128(_mm_srli_epi16(p, 5), six), _mm_and_si128(_mm_srli_epi16(q, 5), six));
        __m128i db = _mm_sub_epi16(_mm_and_si128(p, five), _mm_and_si128(q, five));
        dr = _mm_max_epi16(dr, _mm_sub_epi16(_mm_setzero_si128(), dr));
        dg = _mm_max_epi16(dg, _mm_sub_epi16(_mm_setzero_si128(), dg));
        db = _mm_max_epi16(db, _mm_sub_epi16(_mm_setzero_si128(), db));
        over = _mm_or_si128(over, _mm_cmpgt_epi16(dr, limR));
        over = _mm_or_si128(over, _mm_cmpgt_epi16(dg, limG));
        over = _mm_or_si128(over, _mm_cmpgt_epi16(db, limB));
    }
    if (_mm_movemask_epi8(over)) return false;
#else
    for (int i = 0; i < 64; i++) {
        if (a[i] == b[i]) continue;
        if (std::abs(red(a[i]) - red(b[i])) > t.red || std::abs(green(a[i]) - green(b[i])) > t.green ||
            std::abs(blue(a[i]) - blue(b[i])) > t.blue)
            return false;
    }
#endif
    return t.budget < 0 || blockError(a, b) <= t.budget;
}

void Palette::build() {
    for (int c = 0; c < 65536; c++) {
        int best = 0, bestDistance = 1 << 30;
        for (int i = 0; i < size; i++) {
            uint16_t p = colours[i];
            int dr = red(p) - red(uint16_t(c)), dg = green(p) - green(uint16_t(c)), db = blue(p) - blue(uint16_t(c));
            // Weights of the widened 8-bit channels: a red or blue level is twice a green one.
            int d = 4 * dr * dr + dg * dg + 4 * db * db;
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
                if (d == 0) break;
            }
        }
        nearest[c] = uint8_t(best);
    }
}

namespace {

// A coding chosen whose entry is not written yet: most tries of a block are dropped for their
// picture's error, and only the one kept needs its bytes.
struct Chosen {
    Choice best;
    int spanCount = 0;
    Span spans[64];       // along the order chosen (run forms and Flat)
    uint8_t indices[64];  // RawPalette
};

// order >= 0 limits the search to that scan order; the order of the runs chosen (or -1 for the
// raw forms) is returned. Fills out's picture and fill mode, and chosen for entryOf.
int codeWithin(int format, const uint16_t colour[64], const Palette& pal, const Tolerance& tol, BlockCoding& out,
               int onlyOrder, SpanTable tables[8], Chosen& chosen) {
    Span spans[8][64];
    int spanCount[8];
    Choice best;
    best.cost = 128;  // raw direct pixels, always possible and exact
    float bestWeighed = 128;  // bytes + lambda x squared error

    uint8_t indices[64];
    bool rawPalette = pal.size > 0;
    for (int i = 0; i < 64 && rawPalette; i++) {
        uint16_t c = colour[i];
        indices[i] = pal.nearest[c];
        uint16_t p = pal.colours[indices[i]];
        rawPalette = std::abs(red(p) - red(c)) <= tol.red && std::abs(green(p) - green(c)) <= tol.green &&
                     std::abs(blue(p) - blue(c)) <= tol.blue;
    }
    if (rawPalette) {
        uint16_t shown[64];
        for (int i = 0; i < 64; i++) shown[i] = pal.colours[indices[i]];
        float weighed = 64 + tol.lambda * float(squaredError565(shown, colour, 64));
        if (weighed < bestWeighed) {
            bestWeighed = weighed;
            best.cost = 64;
            best.form = RawPalette;
        }
    }

    // A scan order and its reverse cut a block into the same runs at the same cost, so four of
    // the eight orders (rows and columns from the top or the left) are enough.
    // An order and its mirror (0 and 1, 4 and 5) differ only where runs pass from one row (or
    // column) to the next: the search keeps the one of each pair whose passages join pixels
    // closer in colour.
    int pairOrder[2] = {0, 4};
    if (onlyOrder < 0) {
        int joinCost[8] = {};
        for (int o : {0, 1, 4, 5})
            for (int k = 8; k < 64; k += 8) {
                uint16_t a = colour[orders.pixel[o][k - 1]], b = colour[orders.pixel[o][k]];
                joinCost[o] += 4 * std::abs(red(a) - red(b)) + std::abs(green(a) - green(b)) * 2 +
                               4 * std::abs(blue(a) - blue(b));
            }
        if (joinCost[1] < joinCost[0]) pairOrder[0] = 1;
        if (joinCost[5] < joinCost[4]) pairOrder[1] = 5;
    }
    for (int o : {0, 1, 4, 5}) {
        if (onlyOrder >= 0 && o != onlyOrder) continue;
        if (onlyOrder < 0 && o != pairOrder[0] && o != pairOrder[1]) continue;
        int n = spanCount[o] = tol.lambda > 0 ? cheapestSpansAlong(colour, orders.pixel[o], tol, pal, spans[o], &tables[o])
                                              : spansAlong(colour, orders.pixel[o], tol, pal, spans[o]);
        int narrowRuns = 0, narrowColourBytes = 0, wideRuns = 0, fourRuns = 0;
        bool allPalette = true;
        float error = 0;
        for (int s = 0; s < n; s++) {
            error += spans[o][s].error;
            int len = spans[o][s].length;
            bool p = spans[o][s].index >= 0;
            allPalette &= p;
            int pieces8 = (len + 7) / 8;
            narrowRuns += pieces8;
            narrowColourBytes += pieces8 * (p ? 1 : 2);
            wideRuns += (len + 15) / 16;
            fourRuns += (len + 31) / 32;
        }
        auto consider = [&](int cost, Form form, bool palette) {
            float weighed = float(cost) + tol.lambda * error;
            if (weighed < bestWeighed) {
                bestWeighed = weighed;
                best.cost = cost;
                best.form = form;
                best.order = o;
                best.palette = palette;
            }
        };
        if (format == 17 && n == 1) {
            consider(allPalette ? 1 : 2, Flat, allPalette);
            continue;
        }
        consider((narrowRuns + 1) / 2 + narrowColourBytes, Narrow, true);
        if (allPalette) consider((wideRuns + 1) / 2 + wideRuns, Wide, true);
        if (format == 18 && fourRuns >= 2 && fourRuns <= 4)
            consider(2 + fourRuns * (allPalette ? 1 : 2), FourRun, allPalette);
    }

    // The weighed search cuts spans at 16 pixels, so a block whose colours all lie within the
    // tolerance is also offered as one span: one colour (Format17) or two runs of 32 of it
    // (Format18), a few bytes where runs of 16 would take ten or twenty.
    if (tol.lambda > 0 && (onlyOrder < 0 || onlyOrder == 0)) {
        Span whole[1];
        if (spansAlong(colour, orders.pixel[0], tol, pal, whole, 1) == 1) {
            float error = 0;
            for (int i = 0; i < 64; i++) {
                int dr = red(colour[i]) - red(whole[0].colour), dg = green(colour[i]) - green(whole[0].colour),
                    db = blue(colour[i]) - blue(whole[0].colour);
                error += RedBlueWeight * float(dr * dr) + GreenWeight * float(dg * dg) + RedBlueWeight * float(db * db);
            }
            bool p = whole[0].index >= 0;
            int cost = format == 17 ? (p ? 1 : 2) : 2 + 2 * (p ? 1 : 2);
            if (float(cost) + tol.lambda * error < bestWeighed) {
                bestWeighed = float(cost) + tol.lambda * error;
                best.cost = cost;
                best.form = format == 17 ? Flat : FourRun;
                best.order = 0;
                best.palette = p;
                spans[0][0] = whole[0];
                spans[0][0].error = error;
                spanCount[0] = 1;
            }
        }
    }

    int o = best.order;
    chosen.best = best;
    out.fillMode = uint8_t(format == 18 ? 1 : 0);
    switch (best.form) {
    case RawDirect:
        for (int i = 0; i < 64; i++) out.picture[i] = colour[i];
        return -1;
    case RawPalette:
        memcpy(chosen.indices, indices, 64);
        for (int i = 0; i < 64; i++) out.picture[i] = pal.colours[indices[i]];
        return -1;
    case Flat: {
        const Span& sp = spans[o][0];
        chosen.spans[0] = sp;
        chosen.spanCount = 1;
        uint16_t shown = best.palette ? pal.colours[sp.index] : sp.colour;
        for (int i = 0; i < 64; i++) out.picture[i] = shown;
        return o;
    }
    default:
        break;
    }
    const int n = spanCount[o];
    chosen.spanCount = n;
    memcpy(chosen.spans, spans[o], sizeof(Span) * size_t(n));
    out.fillMode = uint8_t(format == 18 ? (o & 3) + 1 : o & 3);
    // The runs cut from a span show its palette colour when the form takes one (see cut).
    const bool usePalette = best.form != FourRun || best.palette;
    const uint8_t* order = orders.pixel[o];
    int at = 0;
    for (int k = 0; k < n; k++) {
        const Span& sp = spans[o][k];
        uint16_t shown = usePalette && sp.index >= 0 ? pal.colours[sp.index] : sp.colour;
        for (int i = 0; i < sp.length; i++) out.picture[order[at++]] = shown;
    }
    return o;
}

// Writes the entry of a coding that codeWithin chose.
void entryOf(int format, bool hasAlpha, const uint16_t colour[64], const uint8_t alpha[64], const Chosen& chosen,
             BlockCoding& out) {
    clipwriter::EntryAlpha a = entryAlpha(format, hasAlpha, alpha);
    const Choice& best = chosen.best;
    const int variant = best.order >> 2;
    const Span* sp = chosen.spans;
    const int n = chosen.spanCount;
    switch (best.form) {
    case RawDirect:
        out.entry = format == 18 ? clipwriter::encode18Pixels(colour, a) : clipwriter::encode17Pixels(colour, a);
        return;
    case RawPalette:
        out.entry = format == 18 ? clipwriter::encode18Indices(chosen.indices, a)
                                 : clipwriter::encode17Indices(chosen.indices, a);
        return;
    case Flat:
        out.entry = best.palette ? clipwriter::encode17Index(uint8_t(sp[0].index), a)
                                 : clipwriter::encode17Colour(sp[0].colour, a);
        return;
    case FourRun:
        out.entry = clipwriter::encode18FourRuns(variant, cut(sp, n, 32, best.palette), a);
        return;
    case Wide:
        out.entry = format == 18 ? clipwriter::encode18Wide(variant, cut(sp, n, 16, true), a)
                                 : clipwriter::encode17Runs(2 + variant, cut(sp, n, 16, true), a);
        return;
    case Narrow:
        out.entry = format == 18 ? clipwriter::encode18Narrow(variant, cut(sp, n, 8, true), a)
                                 : clipwriter::encode17Runs(variant, cut(sp, n, 8, true), a);
        return;
    }
}

}  // namespace

void codeBlock(int format, bool hasAlpha, const uint16_t colour[64], const uint8_t alpha[64],
               const Palette& pal, const Tolerance& tol, BlockCoding& out) {
    SpanTable tables[8];
    Chosen chosen;
    int order = codeWithin(format, colour, pal, tol, out, -1, tables, chosen);
    if (tol.lambda <= 0 || tol.budget < 0 || tol.level == 0 || blockError(out.picture, colour) <= tol.budget) {
        entryOf(format, hasAlpha, colour, alpha, chosen, out);
        return;
    }
    // A coding that spends more error than the block's budget is done again with error weighing
    // four times more each time (the runs then follow the picture more closely where that is
    // cheapest) until it meets the budget; then the weight halfway between (on a log scale) the
    // last that failed and the first that met it, as a step of four may spend bytes the budget
    // did not ask for. The retries keep to the scan order of the first try, which the block's
    // structure chose. The last resort is the exact block.
    BlockCoding trial;
    Tolerance t = tol;
    float failed = tol.lambda;
    for (int attempt = 0; attempt < 6; attempt++) {
        t.lambda = failed * 4;
        codeWithin(format, colour, pal, t, out, order, tables, chosen);
        if (blockError(out.picture, colour) > tol.budget) {
            failed = t.lambda;
            continue;
        }
        entryOf(format, hasAlpha, colour, alpha, chosen, out);
        t.lambda = failed * 2;
        codeWithin(format, colour, pal, t, trial, order, tables, chosen);
        if (blockError(trial.picture, colour) <= tol.budget) {
            entryOf(format, hasAlpha, colour, alpha, chosen, trial);
            if (trial.entry.bytes.size() < out.entry.bytes.size()) out = trial;
        }
        return;
    }
    codeWithin(format, colour, pal, Tolerance(0, tol.budget, 0), out, -1, tables, chosen);
    entryOf(format, hasAlpha, colour, alpha, chosen, out);
}

}  // namespace encode
