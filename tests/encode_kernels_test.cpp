// The encoder's measuring kernels against plain per-pixel versions: the squared error that
// every PSNR and every block decision rests on, the per-channel tolerance test that decides
// whether a block may stand for another, and the copy of pictures that already have the clip's
// size.
#include <gtest/gtest.h>

#ifdef LOOPMIXER_ENCODER
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "tools/encode/BlockCoder.h"
#include "tools/encode/Picture.h"

namespace {

using namespace encode;

int widen5(int v) { return (v << 3) | (v >> 2); }
int widen6(int v) { return (v << 2) | (v >> 4); }

uint64_t plainError(const uint16_t* a, const uint16_t* b, int count) {
    uint64_t sum = 0;
    for (int i = 0; i < count; i++) {
        int dr = widen5(a[i] >> 11) - widen5(b[i] >> 11);
        int dg = widen6((a[i] >> 5) & 63) - widen6((b[i] >> 5) & 63);
        int db = widen5(a[i] & 31) - widen5(b[i] & 31);
        sum += uint64_t(dr * dr + dg * dg + db * db);
    }
    return sum;
}

TEST(EncodeKernels, SquaredErrorMatchesThePlainSumAtEveryLengthAndOffset) {
    std::mt19937 rng(8);
    std::vector<uint16_t> a(Pixels + 16), b(Pixels + 16);
    for (size_t i = 0; i < a.size(); i++) {
        a[i] = uint16_t(rng());
        // Half the pixels close to their partner, as in real blocks; the rest anywhere.
        b[i] = (i & 1) ? uint16_t(a[i] ^ (rng() & 0x0841)) : uint16_t(rng());
    }
    for (int offset = 0; offset < 3; offset++)
        for (int count = 0; count <= 70; count++)
            ASSERT_EQ(squaredError565(&a[offset], &b[offset + 1], count), plainError(&a[offset], &b[offset + 1], count))
                << "offset " << offset << ", " << count << " pixels";
    EXPECT_EQ(squaredError565(a.data(), b.data(), Pixels), plainError(a.data(), b.data(), Pixels));
    EXPECT_EQ(squaredError565(a.data(), a.data(), Pixels), 0u);
}

TEST(EncodeKernels, SquaredErrorOfAWholeFrameOfOppositesDoesNotOverflow) {
    // Black against white in every pixel: 3 x 255^2 per pixel, far beyond 32 bits in a frame.
    std::vector<uint16_t> black(Pixels, 0), white(Pixels, 0xFFFF);
    EXPECT_EQ(squaredError565(black.data(), white.data(), Pixels), uint64_t(Pixels) * 3 * 255 * 255);
    EXPECT_EQ(squaredError565(white.data(), black.data(), Pixels - 3), uint64_t(Pixels - 3) * 3 * 255 * 255);
    EXPECT_DOUBLE_EQ(psnrFromError(uint64_t(Pixels) * 3 * 255 * 255, Pixels), 0.0);
}

uint16_t rgb(int r, int g, int b) { return uint16_t(r << 11 | g << 5 | b); }

TEST(EncodeKernels, ToleranceAllowsEachChannelUpToItsLimitInEitherDirectionAtEveryPixel) {
    const Tolerance t(2);  // red and blue 2 levels, green 4
    uint16_t base[64], moved[64];
    for (int i = 0; i < 64; i++) base[i] = rgb(10 + (i & 7), 20 + (i >> 3), 15);
    struct Move {
        int dr, dg, db;
        bool allowed;
    };
    const Move moves[] = {{2, 0, 0, true},   {-2, 0, 0, true},  {3, 0, 0, false},  {-3, 0, 0, false},
                          {0, 4, 0, true},   {0, -4, 0, true},  {0, 5, 0, false},  {0, -5, 0, false},
                          {0, 0, 2, true},   {0, 0, -2, true},  {0, 0, 3, false},  {0, 0, -3, false},
                          {2, -4, 2, true},  {-2, 4, -3, false}};
    for (const Move& m : moves)
        for (int p = 0; p < 64; p++) {
            for (int i = 0; i < 64; i++) moved[i] = base[i];
            int r = (base[p] >> 11) + m.dr, g = ((base[p] >> 5) & 63) + m.dg, b = (base[p] & 31) + m.db;
            moved[p] = rgb(r, g, b);
            ASSERT_EQ(withinTolerance(moved, base, t), m.allowed)
                << "pixel " << p << " moved by " << m.dr << "," << m.dg << "," << m.db;
        }
    // At the extremes of every channel a one-level step is within any tolerance above 0 and
    // outside tolerance 0.
    uint16_t white[64], near[64];
    for (int i = 0; i < 64; i++) white[i] = 0xFFFF, near[i] = rgb(30, 63, 31);
    EXPECT_TRUE(withinTolerance(near, white, Tolerance(1)));
    EXPECT_FALSE(withinTolerance(near, white, Tolerance(0)));
    EXPECT_TRUE(withinTolerance(white, white, Tolerance(0)));
}

TEST(EncodeKernels, ToleranceAlsoKeepsTheBlockWithinItsErrorBudget) {
    uint16_t a[64], b[64];
    for (int i = 0; i < 64; i++) a[i] = rgb(10, 20, 10), b[i] = rgb(11, 20, 10);
    // Every pixel one red level off: 64 x (90 - 82)^2 = 4096 in 8-bit terms.
    EXPECT_EQ(blockError(a, b), 64 * 8 * 8);
    EXPECT_TRUE(withinTolerance(a, b, Tolerance(1, 4096)));
    EXPECT_FALSE(withinTolerance(a, b, Tolerance(1, 4095)));
}

// Blocks of every kind the coder meets: flat, two halves, gradients along rows or columns,
// soft waves and noise.
void makeBlock(int kind, std::mt19937& rng, uint16_t out[64]) {
    for (int i = 0; i < 64; i++) {
        int x = i & 7, y = i >> 3;
        int r = 0, g = 0, b = 0;
        switch (kind) {
        case 0: r = 12, g = 40, b = 7; break;
        case 1: r = x < 4 ? 31 : 2, g = x < 4 ? 10 : 50, b = 9; break;
        case 2: r = 2 * x + 3, g = 7 * x, b = 31 - 3 * x; break;
        case 3: r = 3 * y, g = 60 - 5 * y, b = 4 * y; break;
        case 4: r = int(15 + 12 * std::sin((x + 2 * y) * 0.7)), g = int(30 + 25 * std::cos(y * 0.5)), b = (x * y) % 32; break;
        default: r = int(rng() % 32), g = int(rng() % 64), b = int(rng() % 32); break;
        }
        out[i] = rgb(r, g, b);
    }
}

TEST(EncodeKernels, EveryCodedBlockStaysWithinItsToleranceAndFlatOnesCostAFewBytes) {
    std::mt19937 rng(11);
    std::unique_ptr<Palette> none(new Palette), some(new Palette);
    none->build();
    some->size = 64;
    for (int i = 0; i < 64; i++) some->colours[i] = uint16_t(rng());
    some->colours[0] = rgb(12, 40, 7);
    some->build();
    uint8_t opaque[64];
    for (uint8_t& a : opaque) a = 15;
    for (int format : {17, 18})
        for (const Palette* pal : {none.get(), some.get()})
            for (const Tolerance& t : {Tolerance(0), Tolerance(1, 1500, 0.01f), Tolerance(2, 1248, 16.0f / 1248),
                                       Tolerance(4, 6000, 16.0f / 6000), Tolerance(3)})
                for (int kind = 0; kind < 8; kind++) {
                    uint16_t block[64];
                    makeBlock(kind, rng, block);
                    BlockCoding coded;
                    codeBlock(format, false, block, opaque, *pal, t, coded);
                    ASSERT_TRUE(withinTolerance(coded.picture, block, t))
                        << "format " << format << ", level " << t.level << ", block kind " << kind;
                    ASSERT_LE(coded.entry.bytes.size(), 129u);
                    if (kind == 0) {
                        EXPECT_LE(coded.entry.bytes.size(), format == 17 ? 3u : 6u) << "a flat block, level " << t.level;
                    }
                    if (kind == 1 && format == 18) {
                        EXPECT_LE(coded.entry.bytes.size(), 6u) << "two flat halves: two runs of 32, level " << t.level;
                    }
                }
}

TEST(EncodeKernels, APictureOfTheClipsSizeIsKeptPixelForPixelAndTransparentPixelsTurnBlack) {
    std::mt19937 rng(3);
    const int stride = Width * 4 + 8;  // rows with two unused pixels after them
    std::vector<uint8_t> src(size_t(stride) * Height), out(size_t(Pixels) * 4);
    for (uint8_t& v : src) v = uint8_t(rng());
    for (int y = 0; y < Height; y++) src[size_t(y) * stride + 3] = 0;  // the first pixel of each row transparent
    SourcePicture pic{src.data(), Width, Height, stride, 1.0};
    fitPicture(pic, Fit::Crop, out.data());
    for (int y = 0; y < Height; y++)
        for (int x = 0; x < Width; x++) {
            const uint8_t* s = &src[size_t(y) * stride + 4 * x];
            const uint8_t* o = &out[(size_t(y) * Width + x) * 4];
            bool seen = s[3] != 0;
            ASSERT_EQ(o[3], s[3]) << x << "," << y;
            ASSERT_EQ(o[0], seen ? s[0] : 0) << x << "," << y;
            ASSERT_EQ(o[1], seen ? s[1] : 0) << x << "," << y;
            ASSERT_EQ(o[2], seen ? s[2] : 0) << x << "," << y;
        }
}

}  // namespace

#else

TEST(EncodeKernels, Skipped) { GTEST_SKIP() << "loopmixer-encode was not built (FFmpeg's development libraries missing)"; }

#endif
