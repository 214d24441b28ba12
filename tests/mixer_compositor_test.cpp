// The compositor: the six blend modes, fade and flash with their documented values and against the
// per-channel formulas on random pixels, the fixed filter order, and what reaches the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
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

class Compositor : public ::testing::Test {
protected:
    // The decks' state of a fresh start, the compositor's only input besides the frames.
    Decks decks;

    uint16_t* mix(int deck) { return mixFrames + deck * FramePixels; }
    uint16_t* decoded(int deck) { return deckFrames + deck * FramePixels; }
    static void fill(uint16_t* f, uint16_t p) {
        for (int i = 0; i < FramePixels; i++) f[i] = p;
    }
    static void fillRandom(uint16_t* f) {
        for (int i = 0; i < FramePixels; i++) f[i] = uint16_t(rand());
    }
    // Blends one pair of pixels through the whole-frame pass.
    uint16_t blendPair(int mode, uint16_t a, uint16_t b, bool alpha = false, uint8_t w = 0) {
        fill(mix(0), a);
        fill(mix(1), b);
        std::memset(alphaPlane, w, FramePixels);
        blendDecks(mode, alpha);
        return mix(0)[12345];
    }
    void SetUp() override {
        allocateFrameBuffers();
        effectTable.clearEffects();
    }
    static uint16_t pixel(int x, int y) { return screenPixels[y * FrameWidth + x]; }
    // The reference for the filters: every slot that is on, in place in the fixed order.
    static void filterInPlace() {
        const int order[8] = {Invert, Burned, Snow, Zoom, GameBoy, Mirror, Hue, Scroll};
        for (int id : order) {
            for (int deck = 0; deck < 2; deck++) {
                if (!effectTable.effectOn(deck, id)) continue;
                const int v = effectTable.effectValue(deck, id);
                switch (id) {
                case Invert: applyInvert(deck, v); break;
                case Burned: applyBurned(deck, v); break;
                case Snow: applySnow(deck, v); break;
                case Zoom: applyZoom(deck, v); break;
                case GameBoy: applyGameBoy(deck, v); break;
                case Mirror: applyMirror(deck, v); break;
                case Hue: applyHue(deck, v); break;
                }
            }
        }
    }
};

TEST_F(Compositor, AddSaturatesEachChannel) {
    EXPECT_EQ(0xFFFF, blendPair(1, 0x8410, 0x8410));
    EXPECT_EQ(0x1082, blendPair(1, 0x0841, 0x0841));
    EXPECT_EQ(rgb(31, 10, 3), blendPair(1, rgb(20, 4, 1), rgb(12, 6, 2))) << "red saturates alone";

    fillRandom(mix(0));
    fillRandom(mix(1));
    std::vector<uint16_t> a(mix(0), mix(0) + FramePixels);
    blendDecks(1, false);
    for (int i = 0; i < FramePixels; i++) {
        uint16_t x = a[i], y = mix(1)[i];
        uint16_t want = rgb(std::min(R(x) + R(y), 31), std::min(G(x) + G(y), 63), std::min(B(x) + B(y), 31));
        ASSERT_EQ(want, mix(0)[i]) << std::hex << x << " + " << y;
    }
}

TEST_F(Compositor, BlendHalvesEachChannel) {
    EXPECT_EQ(0x7BEF, blendPair(2, 0xFFFF, 0x0000));
    EXPECT_EQ(0xF7DE, blendPair(2, 0xFFFF, 0xFFFF));
    EXPECT_EQ(rgb(7 + 2, 0 + 31, 1 + 0), blendPair(2, rgb(15, 1, 3), rgb(5, 63, 1)));
}

TEST_F(Compositor, MultiplyNormalisesEachProduct) {
    EXPECT_EQ(0x1234, blendPair(4, 0x1234, 0xFFFF)) << "white deck 1 leaves deck 0";
    EXPECT_EQ(0x0000, blendPair(4, 0x1234, 0x0000));
    fillRandom(mix(0));
    fillRandom(mix(1));
    std::vector<uint16_t> a(mix(0), mix(0) + FramePixels);
    blendDecks(4, false);
    for (int i = 0; i < FramePixels; i++) {
        uint16_t x = a[i], y = mix(1)[i];
        ASSERT_EQ(rgb(R(x) * R(y) / 31, G(x) * G(y) / 63, B(x) * B(y) / 31), mix(0)[i]);
    }
}

TEST_F(Compositor, AlphaOrBlackChroma) {
    // Without an alpha plane black in deck 1 is transparent.
    EXPECT_EQ(0x1234, blendPair(3, 0x1234, 0x0000));
    EXPECT_EQ(0x0001, blendPair(3, 0x1234, 0x0001));
    // With one, the byte per pixel weighs the decks.
    EXPECT_EQ(0xF800, blendPair(3, 0x07E0, 0xF800, true, 15));
    EXPECT_EQ(0x07E0, blendPair(3, 0x07E0, 0xF800, true, 0));
    EXPECT_EQ(0x0000, blendPair(3, 0x0000, 0x0000, true, 15));
    // w 5: 31 * 10 / 15 + 0 = 20 red; 0 + 63 * 5 / 15 = 21 green; each term truncated apart:
    // blue 1 * 10 / 15 + 1 * 5 / 15 = 0.
    EXPECT_EQ(rgb(20, 21, 0), blendPair(3, rgb(31, 0, 1), rgb(0, 63, 1), true, 5));

    fillRandom(mix(0));
    fillRandom(mix(1));
    for (int i = 0; i < FramePixels; i++) alphaPlane[i] = uint8_t(rand() % 16);
    std::vector<uint16_t> a(mix(0), mix(0) + FramePixels);
    blendDecks(3, true);
    for (int i = 0; i < FramePixels; i++) {
        const int w = alphaPlane[i];
        uint16_t x = a[i], y = mix(1)[i];
        auto ch = [&](int c0, int c1) { return c0 * (15 - w) / 15 + c1 * w / 15; };
        uint16_t want = w == 0 ? x : rgb(ch(R(x), R(y)), ch(G(x), G(y)), ch(B(x), B(y)));
        ASSERT_EQ(want, mix(0)[i]) << "w " << w;
    }
}

TEST_F(Compositor, HalfHalfTakesTheLeftHalfFromDeckOne) {
    fill(mix(0), 0xF800);
    fill(mix(1), 0x001F);
    blendDecks(6, false);
    for (int y = 0; y < FrameHeight; y++) {
        ASSERT_EQ(0x001F, mix(0)[y * 320 + 0]);
        ASSERT_EQ(0x001F, mix(0)[y * 320 + 159]);
        ASSERT_EQ(0xF800, mix(0)[y * 320 + 160]);
        ASSERT_EQ(0xF800, mix(0)[y * 320 + 319]);
    }
}

TEST_F(Compositor, FadeAndFlashLevels) {
    uint16_t f[FramePixels];
    fill(f, 0xFFFF);
    fadeFrame(f, 15);
    EXPECT_EQ(0x0000, f[0]);
    fill(f, 0xFFFF);
    fadeFrame(f, 5);
    EXPECT_EQ(rgb(20, 42, 20), f[100]);
    fill(f, 0x1234);
    fadeFrame(f, 0);
    EXPECT_EQ(0x1234, f[0]);

    fill(f, 0x0000);
    flashFrame(f, 15);
    EXPECT_EQ(0xFF9F, f[0]);
    fill(f, 0x0000);
    flashFrame(f, 1);
    EXPECT_EQ(rgb(2, 4, 2), f[0]);  // 31/15, 126/31
    fill(f, 0x1234);
    flashFrame(f, 0);
    EXPECT_EQ(0x1234, f[0]);

    // A stray level beyond 15 is held at 15 instead of wrapping the fields.
    fill(f, 0xFFFF);
    fadeFrame(f, 40);
    EXPECT_EQ(0x0000, f[0]);
    fill(f, 0x0000);
    flashFrame(f, 40);
    EXPECT_EQ(0xFF9F, f[0]);

    for (int level = 1; level <= 15; level++) {
        for (int i = 0; i < FramePixels; i++) f[i] = uint16_t(i);
        fadeFrame(f, level);
        const int d = 15 - level;
        for (int i = 0; i < 65536; i++) {
            uint16_t p = uint16_t(i);
            ASSERT_EQ(rgb(R(p) * d / 15, G(p) * d / 15, B(p) * d / 15), f[i]) << "fade " << level;
        }
        for (int i = 0; i < FramePixels; i++) f[i] = uint16_t(i);
        flashFrame(f, level);
        for (int i = 0; i < 65536; i++) {
            uint16_t p = uint16_t(i);
            uint16_t want = rgb((31 * level + (15 - level) * R(p)) / 15, (126 * level + (31 - 2 * level) * G(p)) / 31,
                                (31 * level + (15 - level) * B(p)) / 15);
            ASSERT_EQ(want, f[i]) << "flash " << level;
        }
    }
}

TEST_F(Compositor, BlendModeZeroShowsDeckOneAlone) {
    fill(decoded(0), 0xF800);
    fill(decoded(1), 0x07E0);
    effectTable.slots[0][0] = EffectSlot{Invert, 0, 1, 0};
    composite(decks, 0, 0, false);
    EXPECT_EQ(0x07E0, pixel(0, 0));
    EXPECT_EQ(0x07E0, pixel(319, 239));
    EXPECT_EQ(0x07E0, mix(1)[0]) << "the output is deck 1's half";
}

TEST_F(Compositor, FiltersRunInTheirFixedOrder) {
    // INVERT before BURNED: black turns white, then burns red. The other way round would give white.
    fill(decoded(1), 0x0000);
    effectTable.slots[1][0] = EffectSlot{Burned, 0, 1, 0};
    effectTable.slots[1][3] = EffectSlot{Invert, 0, 1, 0};
    composite(decks, 0, 0, false);
    EXPECT_EQ(0xF800, pixel(160, 120));

    // BURNED before GAME BOY: black stays black, then takes the darkest shade. The other way
    // round the shade would burn back to black.
    effectTable.clearEffects();
    effectTable.slots[1][0] = EffectSlot{GameBoy, 0, 1, 0};
    effectTable.slots[1][1] = EffectSlot{Burned, 0, 1, 0};
    composite(decks, 0, 0, false);
    EXPECT_EQ(0x39E0, pixel(160, 120));
}

// A deck whose first filter works pixel by pixel reads the decoded frame directly instead of a copy
// of it, and without a vector unit chains of such filters run as one composed pass; every filter
// set must give what copying first and running each filter in place in the fixed order gives, and
// the decoded frames must stay as they were.
TEST_F(Compositor, FirstFilterFromTheDecodedFrameMatchesCopyingFirst) {
    struct Set {
        EffectSlot deck0[7], deck1[7];
    };
    const Set sets[] = {
        // The heaviest four, and every filter but SCROLL (which keeps its own offset) on both decks.
        {{{Snow, 0, 1, 0}, {Burned, 0, 1, 0}, {Hue, 3, 1, 0}, {GameBoy, 0, 1, 0}},
         {{GameBoy, 0, 1, 0}, {Hue, 3, 1, 0}, {Burned, 2, 1, 0}, {Snow, 0, 1, 0}}},
        {{{Invert, 0, 1, 0}, {Burned, 1, 1, 0}, {Snow, 0, 1, 0}, {Zoom, 1, 1, 0}, {GameBoy, 0, 1, 0}, {Mirror, 1, 1, 0}, {Hue, 3, 1, 0}},
         {{Invert, 0, 1, 0}, {Burned, 3, 1, 0}, {Snow, 1, 1, 0}, {Zoom, 0, 1, 0}, {GameBoy, 0, 1, 0}, {Mirror, 3, 1, 0}, {Hue, 0, 1, 0}}},
        // INVERT before HUE's level, SNOW after it; SNOW before GAME BOY (runs filter by filter).
        {{{Invert, 0, 1, 0}, {Hue, 1, 1, 0}, {Snow, 2, 1, 0}, {Mirror, 0, 1, 0}}, {{GameBoy, 0, 1, 0}, {Snow, 3, 1, 0}, {Invert, 0, 1, 0}}},
        // BURNED with no such colour (black), HUE and SNOW with no such value (no change).
        {{{Burned, 9, 1, 0}, {Snow, 3, 1, 0}, {Invert, 0, 1, 0}}, {{Hue, 2, 1, 0}, {Snow, 7, 1, 0}, {Zoom, 0, 1, 0}}},
        {{{Invert, 0, 1, 0}, {Hue, 8, 1, 0}, {GameBoy, 0, 1, 0}}, {{Hue, 1, 1, 0}, {Invert, 0, 1, 0}, {Burned, 0, 1, 0}}},
        {{{Invert, 0, 1, 0}, {Mirror, 1, 1, 0}}, {{Snow, 0, 1, 0}, {Hue, 2, 1, 0}}},
        {{{Burned, 3, 1, 0}, {}}, {{GameBoy, 0, 1, 0}, {Zoom, 1, 1, 0}}},
        // ZOOM 0 after a chain that ends before it (with SNOW), and after one that goes on past it.
        {{{Burned, 0, 1, 0}, {Snow, 0, 1, 0}, {Zoom, 0, 1, 0}}, {{Invert, 0, 1, 0}, {Hue, 3, 1, 0}, {Zoom, 0, 1, 0}, {Mirror, 1, 1, 0}}},
        {{{Hue, 1, 1, 0}, {Snow, 3, 1, 0}}, {{Zoom, 0, 1, 0}, {Invert, 0, 1, 0}}},  // ZOOM first: copied
        {{{Snow, 2, 1, 0}, {}}, {{}, {}}},                                          // deck 1 bare
        {{{Hue, 7, 1, 0}, {}}, {{Snow, 9, 1, 0}, {}}},  // values with no variant leave the frame as it is
    };
    fillRandom(decoded(0));
    fillRandom(decoded(1));
    const std::vector<uint16_t> source(deckFrames, deckFrames + 2 * FramePixels);
    decks.blendMode = 2;
    for (const Set& set : sets) {
        effectTable.clearEffects();
        for (int s = 0; s < 7; s++) {
            if (set.deck0[s].on) effectTable.slots[0][s] = set.deck0[s];
            if (set.deck1[s].on) effectTable.slots[1][s] = set.deck1[s];
        }
        // The reference: both frames copied, then every filter in place in the fixed order.
        std::memcpy(mixFrames, deckFrames, 2 * FrameBytes);
        seedRandom(31);
        filterInPlace();
        const std::vector<uint16_t> filtered1(mix(1), mix(1) + FramePixels);
        blendDecks(2, false);
        const std::vector<uint16_t> expected(mix(0), mix(0) + FramePixels);

        fill(mix(0), 0x1234);  // stale content that must not show
        fill(mix(1), 0x4321);
        seedRandom(31);
        composite(decks, 0, 0, false);
        const int set_ = int(&set - sets);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), mix(0))) << "set " << set_;
        ASSERT_TRUE(std::equal(filtered1.begin(), filtered1.end(), mix(1))) << "set " << set_;
        ASSERT_EQ(expected[40000], pixel(0, 125)) << "set " << set_;
        ASSERT_TRUE(std::equal(source.begin(), source.end(), deckFrames)) << "set " << set_ << ": decoded frames changed";
    }
}

// With fade or flash on, deck 1's filters may run inside the blend (without a vector unit, when
// nothing moves its pixels after them); every blend mode must still give the filtered frames
// blended, faded and flashed.
TEST_F(Compositor, FiltersThenBlendThenFadeAndFlashReachTheScreen) {
    struct Slots {
        EffectSlot deck0[4], deck1[4];
    };
    const Slots sets[] = {
        {{{Snow, 0, 1, 0}, {Burned, 0, 1, 0}, {Hue, 3, 1, 0}, {GameBoy, 0, 1, 0}},
         {{Snow, 0, 1, 0}, {Burned, 0, 1, 0}, {Hue, 3, 1, 0}, {GameBoy, 0, 1, 0}}},
        {{{Burned, 1, 1, 0}, {Snow, 3, 1, 0}}, {{Invert, 0, 1, 0}, {Hue, 1, 1, 0}}},
        {{{}}, {{GameBoy, 0, 1, 0}, {Snow, 2, 1, 0}}},                     // SNOW first: filter by filter
        {{{Invert, 0, 1, 0}}, {{Hue, 2, 1, 0}, {Snow, 1, 1, 0}, {Mirror, 1, 1, 0}}},  // a move after the chain
    };
    struct Blend {
        int mode;
        bool alpha;
        int fade, flash;
    };
    const Blend blends[] = {{1, false, 7, 0}, {2, false, 3, 5}, {3, false, 7, 0}, {3, true, 7, 0}, {3, true, 0, 9}, {4, false, 14, 15}};
    fillRandom(decoded(0));
    fillRandom(decoded(1));
    for (int i = 0; i < FramePixels; i += 5) decoded(1)[i] = 0;
    for (int i = 0; i < FramePixels; i++) alphaPlane[i] = uint8_t(i % 8 < 2 ? 0 : i % 8 < 4 ? 15 : rand() % 20);
    for (const Slots& set : sets) {
        effectTable.clearEffects();
        for (int s = 0; s < 4; s++) {
            if (set.deck0[s].on) effectTable.slots[0][s] = set.deck0[s];
            if (set.deck1[s].on) effectTable.slots[1][s] = set.deck1[s];
        }
        for (const Blend& b : blends) {
            tracks[decks.decks[1].track].hasAlpha = b.alpha;
            decks.blendMode = b.mode;
            decks.fade = b.fade;
            decks.flash = b.flash;
            std::memcpy(mixFrames, deckFrames, 2 * FrameBytes);
            seedRandom(7);
            filterInPlace();
            blendDecks(b.mode, b.alpha);
            fadeFrame(mix(0), b.fade);
            flashFrame(mix(0), b.flash);
            const std::vector<uint16_t> expected(mix(0), mix(0) + FramePixels);

            seedRandom(7);
            composite(decks, 0, 0, false);
            const std::string where = "set " + std::to_string(&set - sets) + " mode " + std::to_string(b.mode) +
                                      (b.alpha ? " alpha" : "");
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), screenPixels)) << where;
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), mix(0))) << where << ": the output half";
        }
    }
    tracks[decks.decks[1].track].hasAlpha = 0;
}

TEST_F(Compositor, BlendThenFadeThenFlashReachTheScreen) {
    fill(decoded(0), 0xF800);
    fill(decoded(1), 0x001F);
    decks.blendMode = 1;
    composite(decks, 0, 0, false);
    EXPECT_EQ(0xF81F, pixel(50, 50));
    EXPECT_EQ(0xF800, decoded(0)[0]) << "the decoded frames are only read";

    decks.fade = 15;
    composite(decks, 0, 0, false);
    EXPECT_EQ(0x0000, pixel(50, 50));
    decks.flash = 15;
    composite(decks, 0, 0, false);
    EXPECT_EQ(0xFF9F, pixel(50, 50)) << "flash comes after fade";
}

TEST_F(Compositor, AlphaModeUsesTheAlphaPlaneOnlyForClipsThatHaveOne) {
    fill(decoded(0), 0xF800);
    fill(decoded(1), 0x001F);
    std::memset(alphaPlane, 0, FramePixels);
    decks.blendMode = 3;
    decks.decks[0].track = 1;
    tracks[0].hasAlpha = 0;
    composite(decks, 0, 0, false);
    EXPECT_EQ(0x001F, pixel(5, 5)) << "no alpha plane: every non-black pixel of deck 1 covers";
    tracks[0].hasAlpha = 1;
    composite(decks, 0, 0, false);
    EXPECT_EQ(0xF800, pixel(5, 5)) << "alpha 0 everywhere: deck 0 shows";
    tracks[0].hasAlpha = 0;
}

TEST_F(Compositor, PlaybackLine) {
    fill(decoded(1), 0x0000);
    composite(decks, 99, 100, true);
    EXPECT_EQ(0xFFFF, pixel(0, 5));
    EXPECT_EQ(0xFFFF, pixel(315, 5));
    EXPECT_EQ(0x0000, pixel(316, 5));
    EXPECT_EQ(0x0000, pixel(0, 4));
    EXPECT_EQ(0x0000, pixel(0, 6));

    composite(decks, 0, 100, true);
    EXPECT_EQ(0x0000, pixel(0, 5)) << "position 0: width 0";
    composite(decks, 5, 0, true);
    EXPECT_EQ(0x0000, pixel(0, 5)) << "no frames: no line";
    composite(decks, 99, 100, false);
    EXPECT_EQ(0x0000, pixel(0, 5)) << "option off";
}

}  // namespace
