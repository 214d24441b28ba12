#include "tools/encode/Picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace encode {

namespace {

// The source taps of one output pixel along one axis.
struct Taps {
    int first = 0;
    std::vector<float> weights;
};

// Output pixels dst0..dst1-1 show the source interval [src0, src1) of an axis srcLength long.
std::vector<Taps> axisTaps(int srcLength, double src0, double src1, int dst0, int dst1) {
    std::vector<Taps> taps(dst1 - dst0);
    double step = (src1 - src0) / (dst1 - dst0);
    for (int o = 0; o < dst1 - dst0; o++) {
        Taps& t = taps[o];
        if (step > 1.0) {
            // Shrinking: the average of the source area the output pixel covers.
            double a = src0 + o * step, b = a + step;
            int first = std::max(0, int(std::floor(a)));
            int last = std::min(srcLength - 1, int(std::ceil(b)) - 1);
            t.first = first;
            for (int s = first; s <= last; s++) {
                double cover = std::min<double>(b, s + 1) - std::max<double>(a, s);
                t.weights.push_back(float(std::max(0.0, cover)));
            }
        } else {
            // Growing: linear interpolation between the two nearest source pixels.
            double c = src0 + (o + 0.5) * step - 0.5;
            c = std::min(std::max(c, 0.0), double(srcLength - 1));
            int s = std::min(int(c), srcLength - 1);
            double f = c - s;
            t.first = s;
            t.weights.push_back(float(1.0 - f));
            if (s + 1 < srcLength) t.weights.push_back(float(f));
        }
        float sum = 0;
        for (float w : t.weights) sum += w;
        if (t.weights.empty() || sum <= 0) {
            t.weights.assign(1, 1.0f);
            t.first = std::min(std::max(int(src0), 0), srcLength - 1);
            sum = 1;
        }
        for (float& w : t.weights) w /= sum;
    }
    return taps;
}

}  // namespace

void fitPicture(const SourcePicture& src, Fit fit, uint8_t out[Pixels * 4]) {
    for (int i = 0; i < Pixels; i++) {
        out[4 * i] = out[4 * i + 1] = out[4 * i + 2] = 0;
        out[4 * i + 3] = 255;
    }
    if (src.width <= 0 || src.height <= 0) return;
    double aspect = src.sampleAspect > 0 ? src.sampleAspect : 1.0;
    double shownWidth = src.width * aspect;  // the source's width in square pixels

    double sx0 = 0, sx1 = src.width, sy0 = 0, sy1 = src.height;
    int dx0 = 0, dx1 = Width, dy0 = 0, dy1 = Height;
    if (fit == Fit::Crop) {
        double scale = std::max(Width / shownWidth, double(Height) / src.height);
        double keepW = Width / scale / aspect, keepH = Height / scale;
        sx0 = (src.width - keepW) / 2;
        sx1 = sx0 + keepW;
        sy0 = (src.height - keepH) / 2;
        sy1 = sy0 + keepH;
    } else if (fit == Fit::Letterbox) {
        double scale = std::min(Width / shownWidth, double(Height) / src.height);
        int w = std::max(1, std::min(Width, int(std::lround(shownWidth * scale))));
        int h = std::max(1, std::min(Height, int(std::lround(src.height * scale))));
        dx0 = (Width - w) / 2;
        dx1 = dx0 + w;
        dy0 = (Height - h) / 2;
        dy1 = dy0 + h;
    }
    if (src.width == Width && src.height == Height && dx1 - dx0 == Width && dy1 - dy0 == Height &&
        sx0 == 0 && sy0 == 0 && sx1 == Width && sy1 == Height) {
        // Already the clip's size: every output pixel is its source pixel, which is what the
        // weighted sums below give too (one tap of weight 1), a transparent one black.
        for (int y = 0; y < Height; y++) {
            const uint8_t* p = src.rgba + size_t(y) * src.stride;
            uint8_t* o = out + size_t(y) * Width * 4;
            for (int x = 0; x < Width; x++, p += 4, o += 4) {
                bool seen = p[3] != 0;
                o[0] = seen ? p[0] : 0;
                o[1] = seen ? p[1] : 0;
                o[2] = seen ? p[2] : 0;
                o[3] = p[3];
            }
        }
        return;
    }
    std::vector<Taps> tx = axisTaps(src.width, sx0, sx1, dx0, dx1);
    std::vector<Taps> ty = axisTaps(src.height, sy0, sy1, dy0, dy1);
    int rowFirst = ty.front().first;
    int rowLast = ty.back().first + int(ty.back().weights.size()) - 1;
    int w = dx1 - dx0;

    // Horizontal pass over the source rows that the vertical pass needs, alpha-weighted.
    std::vector<float> rows(size_t(rowLast - rowFirst + 1) * w * 4);
    for (int y = rowFirst; y <= rowLast; y++) {
        const uint8_t* line = src.rgba + size_t(y) * src.stride;
        float* o = &rows[size_t(y - rowFirst) * w * 4];
        for (int x = 0; x < w; x++, o += 4) {
            const Taps& t = tx[x];
            float r = 0, g = 0, b = 0, a = 0;
            const uint8_t* p = line + 4 * t.first;
            for (float wt : t.weights) {
                float wa = wt * p[3];
                r += wa * p[0];
                g += wa * p[1];
                b += wa * p[2];
                a += wa;
                p += 4;
            }
            o[0] = r;
            o[1] = g;
            o[2] = b;
            o[3] = a;
        }
    }
    for (int y = 0; y < dy1 - dy0; y++) {
        const Taps& t = ty[y];
        uint8_t* o = out + (size_t(dy0 + y) * Width + dx0) * 4;
        for (int x = 0; x < w; x++, o += 4) {
            float r = 0, g = 0, b = 0, a = 0;
            const float* p = &rows[(size_t(t.first - rowFirst) * w + x) * 4];
            for (float wt : t.weights) {
                r += wt * p[0];
                g += wt * p[1];
                b += wt * p[2];
                a += wt * p[3];
                p += size_t(w) * 4;
            }
            if (a <= 0.0f) {
                o[0] = o[1] = o[2] = o[3] = 0;
                continue;
            }
            o[0] = uint8_t(std::min(255.0f, r / a + 0.5f));
            o[1] = uint8_t(std::min(255.0f, g / a + 0.5f));
            o[2] = uint8_t(std::min(255.0f, b / a + 0.5f));
            o[3] = uint8_t(std::min(255.0f, a + 0.5f));
        }
    }
}

namespace {

// For every 8-bit value, its nearest level: built once by trying every level.
struct NearestLevels {
    uint8_t five[256], six[256];
    NearestLevels() {
        for (int v = 0; v < 256; v++) {
            five[v] = six[v] = 0;
            for (int q = 1; q < 32; q++)
                if (std::abs((q << 3 | q >> 2) - v) < std::abs((five[v] << 3 | five[v] >> 2) - v)) five[v] = uint8_t(q);
            for (int q = 1; q < 64; q++)
                if (std::abs((q << 2 | q >> 4) - v) < std::abs((six[v] << 2 | six[v] >> 4) - v)) six[v] = uint8_t(q);
        }
    }
};
const NearestLevels levels;

}  // namespace

int nearestLevel5(int v) { return levels.five[v & 255]; }
int nearestLevel6(int v) { return levels.six[v & 255]; }
uint16_t nearest565(int r, int g, int b) {
    return uint16_t(levels.five[r & 255] << 11 | levels.six[g & 255] << 5 | levels.five[b & 255]);
}

namespace {

inline int widened(int q, int bits) { return bits == 5 ? (q << 3 | q >> 2) : (q << 2 | q >> 4); }

// One of the two levels around v as the screen shows them, the upper one when v lies above the
// threshold d / 32 of the way between them: over the 4x4 pattern the screen's average is v.
int ditherLevel(int v, int bits, int d) {
    int q = bits == 5 ? levels.five[v] : levels.six[v];
    if (widened(q, bits) > v) q--;
    int top = (1 << bits) - 1;
    if (q >= top) return top;
    int lo = widened(q, bits), hi = widened(q + 1, bits);
    return 32 * (v - lo) > d * (hi - lo) ? q + 1 : q;
}

}  // namespace

void quantise(const uint8_t rgba[Pixels * 4], bool dither, Frame565& out) {
    static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    uint64_t error = 0;
    for (int y = 0; y < Height; y++) {
        for (int x = 0; x < Width; x++) {
            int i = y * Width + x;
            const uint8_t* p = rgba + 4 * i;
            int r, g, b;
            if (dither) {
                int d = 2 * bayer[y & 3][x & 3] + 1;
                r = ditherLevel(p[0], 5, d);
                g = ditherLevel(p[1], 6, d);
                b = ditherLevel(p[2], 5, d);
            } else {
                r = levels.five[p[0]];
                g = levels.six[p[1]];
                b = levels.five[p[2]];
            }
            uint8_t a = uint8_t((p[3] * 15 + 127) / 255);
            out.alpha[i] = a;
            out.colour[i] = a == 0 ? 0 : uint16_t(r << 11 | g << 5 | b);
            if (a == 15) {
                int dr = widened(r, 5) - p[0], dg = widened(g, 6) - p[1], db = widened(b, 5) - p[2];
                error += uint64_t(dr * dr + dg * dg + db * db);
            }
        }
    }
    out.quantisationError = error;
}

namespace {

inline uint32_t pixelError(uint16_t a, uint16_t b) {
    int ra = a >> 11, ga = (a >> 5) & 63, ba = a & 31;
    int rb = b >> 11, gb = (b >> 5) & 63, bb = b & 31;
    int dr = ((ra << 3) | (ra >> 2)) - ((rb << 3) | (rb >> 2));
    int dg = ((ga << 2) | (ga >> 4)) - ((gb << 2) | (gb >> 4));
    int db = ((ba << 3) | (ba >> 2)) - ((bb << 3) | (bb >> 2));
    return uint32_t(dr * dr + dg * dg + db * db);
}

#ifdef __SSE2__
// The three channels of eight pixels widened to 8 bits, one channel per 16-bit lane.
inline void widen(__m128i p, __m128i& r, __m128i& g, __m128i& b) {
    const __m128i five = _mm_set1_epi16(31), six = _mm_set1_epi16(63);
    __m128i r5 = _mm_srli_epi16(p, 11);
    __m128i g6 = _mm_and_si128(_mm_srli_epi16(p, 5), six);
    __m128i b5 = _mm_and_si128(p, five);
    r = _mm_or_si128(_mm_slli_epi16(r5, 3), _mm_srli_epi16(r5, 2));
    g = _mm_or_si128(_mm_slli_epi16(g6, 2), _mm_srli_epi16(g6, 4));
    b = _mm_or_si128(_mm_slli_epi16(b5, 3), _mm_srli_epi16(b5, 2));
}
#endif

}  // namespace

uint64_t squaredError565(const uint16_t* a, const uint16_t* b, int count) {
    uint64_t sum = 0;
    int i = 0;
#ifdef __SSE2__
    // Eight pixels at a time: differences fit 16 bits, their squares are summed in pairs into
    // 32-bit lanes (at most 3 x 2 x 255^2 per lane and step), which are emptied into the 64-bit
    // sum every 512 pixels, long before they could overflow.
    while (i + 8 <= count) {
        __m128i acc = _mm_setzero_si128();
        int stop = std::min(count - 7, i + 512);
        for (; i < stop; i += 8) {
            __m128i ra, ga, ba, rb, gb, bb;
            widen(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)), ra, ga, ba);
            widen(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)), rb, gb, bb);
            __m128i dr = _mm_sub_epi16(ra, rb), dg = _mm_sub_epi16(ga, gb), db = _mm_sub_epi16(ba, bb);
            acc = _mm_add_epi32(acc, _mm_madd_epi16(dr, dr));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(dg, dg));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(db, db));
        }
        uint32_t lanes[4];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), acc);
        sum += uint64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
    }
#endif
    for (; i < count; i++) sum += pixelError(a[i], b[i]);
    return sum;
}

uint64_t squaredErrorToRgb(const uint16_t* a, const uint8_t* rgb, int count) {
    uint64_t sum = 0;
    for (int i = 0; i < count; i++, rgb += 3) {
        int r = a[i] >> 11, g = (a[i] >> 5) & 63, b = a[i] & 31;
        int dr = (r << 3 | r >> 2) - rgb[0], dg = (g << 2 | g >> 4) - rgb[1], db = (b << 3 | b >> 2) - rgb[2];
        sum += uint64_t(dr * dr + dg * dg + db * db);
    }
    return sum;
}

double psnrFromError(uint64_t squaredError, uint64_t pixelCount) {
    if (squaredError == 0 || pixelCount == 0) return 99.0;
    double mse = double(squaredError) / (3.0 * double(pixelCount));
    return std::min(99.0, 10.0 * std::log10(255.0 * 255.0 / mse));
}

}  // namespace encode
