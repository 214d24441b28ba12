// The mixer's fast pixel loops against the plain per-pixel rules, on random frames and at every
// position where a loop could go wrong: SNOW's shifts at both clamps for each pattern length,
// SCROLL at every offset, the alpha blend at every level and with stray alpha bytes, and fade
// and flash together on the way to the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/FrameBuffers.h"
#include "mixer/Compositor.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "mixer/Random.h"
#include "tracks/Track.h"

namespace {

int R(uint16_t p) { return p >> 11; }
int G(uint16_t p) { return (p >> 5) & 63; }
int B(uint16_t p) { return p & 31; }
uint16_t rgb(int r, int g, int b) { return uint16_t(r << 11 | g << 5 | b); }
int clamp(int v, int hi) { return std::min(std::max(v, 0), hi); }

class Kernels : public ::testing::Test {
protected:
    // The decks' state of a fresh start, the compositor's only input besides the frames.
    Decks decks;

    uint16_t* mix(int deck) { return mixFrames + deck * FramePixels; }
    uint16_t* decoded(int deck) { return deckFrames + deck * FramePixels; }
    static void fillRandom(uint16_t* f) {
        for (int i = 0; i < FramePixels; i++) f[i] = uint16_t(rand());
    }
    void SetUp() override {
        allocateFrameBuffers();
        effectTable.clearEffects();
    }
    static uint16_t pixel(int x, int y) { return screenPixels[y * FrameWidth + x]; }
};

TEST_F(Kernels, SnowShiftsEveryPixelOfARandomFrameWithClamping) {
    const int periods[] = {497, 313, 29, 7};
    for (int v = 0; v < 4; v++) {
        const int n = periods[v];
        for (int deck = 0; deck < 2; deck++) {
            fillRandom(mix(deck));
            // Saturated pixels at the start of the frame and of each pattern copy reach both clamps.
            for (int i = 0; i < FramePixels; i += n) mix(deck)[i] = (i / n) % 2 ? 0xFFFF : 0x0000;
            std::vector<uint16_t> before(mix(deck), mix(deck) + FramePixels);
            srand(1234 + v);
            std::vector<int> noise(n);
            for (int& d : noise) d = rand() % 20;
            seedRandom(1234 + v);  // the same numbers as rand() after srand
            applySnow(deck, v);
            for (int i = 0; i < FramePixels; i++) {
                const int s = noise[(i + 1) % n] - 10;
                const uint16_t p = before[i];
                ASSERT_EQ(rgb(clamp(R(p) + s, 31), clamp(G(p) + 2 * s, 63), clamp(B(p) + s, 31)), mix(deck)[i])
                    << "value " << v << " deck " << deck << " pixel " << i << " shift " << s;
            }
        }
    }
}

TEST_F(Kernels, SnowDrawsItsNoiseInOrderAndLeavesOtherDeckAlone) {
    fillRandom(mix(1));
    std::vector<uint16_t> other(mix(1), mix(1) + FramePixels);
    seedRandom(9);
    applySnow(0, 1);
    const int after = nextRandom();
    seedRandom(9);
    for (int k = 0; k < 313; k++) nextRandom();
    EXPECT_EQ(nextRandom(), after) << "exactly n random numbers drawn";
    EXPECT_TRUE(std::equal(other.begin(), other.end(), mix(1)));
}

TEST_F(Kernels, HorizontalMirrorsEveryPixelOfARandomFrame) {
    for (int value : {1, 3}) {
        for (int deck = 0; deck < 2; deck++) {
            fillRandom(mix(deck));
            const std::vector<uint16_t> before(mix(deck), mix(deck) + FramePixels);
            applyMirror(deck, value);
            for (int y = 0; y < FrameHeight; y++)
                for (int x = 0; x < FrameWidth; x++) {
                    // Value 1 keeps the left half, value 3 the right half; the other half is its mirror.
                    const bool kept = value == 1 ? x < 160 : x >= 160;
                    ASSERT_EQ(before[y * FrameWidth + (kept ? x : 319 - x)], mix(deck)[y * FrameWidth + x])
                        << "value " << value << " deck " << deck << " at " << x << "," << y;
                }
        }
    }
}

TEST_F(Kernels, HorizontalScrollRotatesEveryRowAtEveryOffset) {
    fillRandom(mix(1));
    std::vector<uint16_t> original(mix(1), mix(1) + FramePixels);
    effectTable.slots[1][0] = EffectSlot{Scroll, 1, 1, 0};
    // Paused, the stored offset is drawn as it is; a stored 0 is drawn as 320, the row unmoved.
    for (int offset = 0; offset < 320; offset++) {
        std::copy(original.begin(), original.end(), mix(1));
        effectTable.slots[1][0].param = offset;
        applyScroll(1, 1, 1);
        for (int y = 0; y < FrameHeight; y++)
            for (int x = 0; x < FrameWidth; x++)
                ASSERT_EQ(original[y * FrameWidth + (x - offset + FrameWidth) % FrameWidth], mix(1)[y * FrameWidth + x])
                    << "offset " << offset << " at " << x << "," << y;
    }
}

TEST_F(Kernels, VerticalScrollRotatesTheRowsAtEveryOffset) {
    fillRandom(mix(0));
    std::vector<uint16_t> original(mix(0), mix(0) + FramePixels);
    effectTable.slots[0][0] = EffectSlot{Scroll, 2, 1, 0};
    for (int offset = 0; offset <= 240; offset++) {
        std::copy(original.begin(), original.end(), mix(0));
        effectTable.slots[0][0].param = offset;
        applyScroll(0, 2, 1);
        for (int y = 0; y < FrameHeight; y++)
            ASSERT_TRUE(std::equal(mix(0) + y * FrameWidth, mix(0) + (y + 1) * FrameWidth,
                                   original.begin() + ((y - offset + FrameHeight) % FrameHeight) * FrameWidth))
                << "offset " << offset << " row " << y;
    }
}

TEST_F(Kernels, AlphaBlendAtEveryLevelOverEveryPixelValue) {
    for (int w = 0; w <= 15; w++) {
        for (int i = 0; i < FramePixels; i++) mix(0)[i] = uint16_t(i * 7 + w);  // every value of deck 0
        fillRandom(mix(1));
        std::memset(alphaPlane, w, FramePixels);
        std::vector<uint16_t> a(mix(0), mix(0) + FramePixels);
        blendDecks(3, true);
        for (int i = 0; i < FramePixels; i++) {
            const uint16_t x = a[i], y = mix(1)[i];
            auto ch = [&](int c0, int c1) { return c0 * (15 - w) / 15 + c1 * w / 15; };
            ASSERT_EQ(rgb(ch(R(x), R(y)), ch(G(x), G(y)), ch(B(x), B(y))), mix(0)[i]) << "w " << w;
        }
    }
}

TEST_F(Kernels, AlphaBytesAboveFifteenShowDeckOne) {
    fillRandom(mix(0));
    fillRandom(mix(1));
    for (int i = 0; i < FramePixels; i++) alphaPlane[i] = uint8_t(16 + i % 240);
    blendDecks(3, true);
    EXPECT_TRUE(std::equal(mix(0), mix(0) + FramePixels, mix(1)));
}

TEST_F(Kernels, AddOverEveryPixelValue) {
    for (int i = 0; i < FramePixels; i++) mix(0)[i] = uint16_t(i);
    fillRandom(mix(1));
    std::vector<uint16_t> a(mix(0), mix(0) + FramePixels);
    blendDecks(1, false);
    for (int i = 0; i < FramePixels; i++) {
        const uint16_t x = a[i], y = mix(1)[i];
        ASSERT_EQ(rgb(std::min(R(x) + R(y), 31), std::min(G(x) + G(y), 63), std::min(B(x) + B(y), 31)), mix(0)[i]);
    }
}

TEST_F(Kernels, FadeAndFlashTogetherReachTheScreenAsTheTwoFormulasInTurn) {
    const int levels[][2] = {{1, 1}, {5, 7}, {14, 15}, {15, 3}, {7, 0}, {0, 9}};
    for (const auto& l : levels) {
        for (int i = 0; i < FramePixels; i++) decoded(1)[i] = uint16_t(i * 13 + l[0]);
        decks.fade = l[0];
        decks.flash = l[1];
        composite(decks, 0, 0, false);
        const int d = 15 - l[0], f = l[1];
        for (int y = 0; y < FrameHeight; y += 7) {
            for (int x = 0; x < FrameWidth; x++) {
                uint16_t p = decoded(1)[y * FrameWidth + x];
                p = rgb(R(p) * d / 15, G(p) * d / 15, B(p) * d / 15);
                if (f > 0)
                    p = rgb((31 * f + (15 - f) * R(p)) / 15, (126 * f + (31 - 2 * f) * G(p)) / 31,
                            (31 * f + (15 - f) * B(p)) / 15);
                ASSERT_EQ(p, pixel(x, y)) << "fade " << l[0] << " flash " << l[1] << " at " << x << "," << y;
                ASSERT_EQ(p, mix(1)[y * FrameWidth + x]) << "the output half holds the picture too";
            }
        }
    }
}

// With fade or flash on, a blend runs in one pass with them on the way to the screen; every blend
// mode must give the blend's own result put through the two formulas, at every pixel.
TEST_F(Kernels, BlendsWithFadeAndFlashGiveTheBlendThenTheFormulas) {
    struct Case {
        int mode;
        bool alpha;
        int fade, flash;
    };
    const Case cases[] = {{1, false, 7, 0},  {2, false, 3, 0}, {3, false, 7, 0}, {3, true, 7, 0},  {4, false, 7, 0},
                          {1, false, 0, 9},  {2, false, 1, 1}, {3, true, 0, 15}, {4, false, 14, 15}, {3, true, 15, 0}};
    fillRandom(decoded(0));
    fillRandom(decoded(1));
    for (int i = 0; i < FramePixels; i += 3) decoded(1)[i] = 0;  // black, which "alpha/black chroma" sees through
    // Pixel pairs wholly transparent, wholly opaque, and mixed levels with stray bytes above 15.
    for (int i = 0; i < FramePixels; i++) alphaPlane[i] = uint8_t(i % 8 < 2 ? 0 : i % 8 < 4 ? 15 : rand() % 20);
    for (const Case& c : cases) {
        tracks[decks.decks[1].track].hasAlpha = c.alpha;
        decks.blendMode = c.mode;
        decks.fade = c.fade;
        decks.flash = c.flash;
        std::memcpy(mixFrames, deckFrames, 2 * FrameBytes);
        blendDecks(c.mode, c.alpha);
        const std::vector<uint16_t> blended(mix(0), mix(0) + FramePixels);
        composite(decks, 0, 0, false);
        const int d = 15 - c.fade, f = c.flash;
        for (int i = 0; i < FramePixels; i++) {
            uint16_t p = blended[i];
            p = rgb(R(p) * d / 15, G(p) * d / 15, B(p) * d / 15);
            if (f > 0)
                p = rgb((31 * f + (15 - f) * R(p)) / 15, (126 * f + (31 - 2 * f) * G(p)) / 31, (31 * f + (15 - f) * B(p)) / 15);
            ASSERT_EQ(p, screenPixels[i]) << "mode " << c.mode << " alpha " << c.alpha << " fade " << c.fade << " flash "
                                          << c.flash << " pixel " << i;
            ASSERT_EQ(p, mix(0)[i]) << "the output half holds the picture too";
        }
    }
    tracks[decks.decks[1].track].hasAlpha = 0;
}

}  // namespace
