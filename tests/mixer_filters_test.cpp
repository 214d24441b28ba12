// The compositor's filters on a deck's half of mixFrames: the documented pixel values, the
// geometry of MIRROR, ZOOM and SCROLL, SNOW's repeating pattern, and every pixel value of the
// colour filters checked against the plain per-pixel formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/FrameBuffers.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "mixer/Random.h"

namespace {

class Filters : public ::testing::Test {
protected:
    void SetUp() override {
        allocateFrameBuffers();
        effectTable.clearEffects();
    }

    uint16_t* frame(int deck) { return mixFrames + deck * FramePixels; }
    uint16_t& at(int deck, int x, int y) { return frame(deck)[y * FrameWidth + x]; }
    void fill(int deck, uint16_t p) {
        for (int i = 0; i < FramePixels; i++) frame(deck)[i] = p;
    }
    // Every 16-bit value once, then the first 11,264 again: the whole pixel space in one frame.
    void fillAllValues(int deck) {
        for (int i = 0; i < FramePixels; i++) frame(deck)[i] = uint16_t(i);
    }
    // A frame where each pixel says where it came from.
    static uint16_t tag(int x, int y) { return uint16_t(y * 320 + x); }
    void fillTags(int deck) {
        for (int y = 0; y < FrameHeight; y++)
            for (int x = 0; x < FrameWidth; x++) at(deck, x, y) = tag(x, y);
    }
    // Puts SCROLL on slot 0 of the deck, switched on, and returns its offset after one frame.
    int scrollOnce(int deck, int value, int paused = 0) {
        applyScroll(deck, value, paused);
        return effectTable.slots[deck][0].param;
    }
    void scrollSlot(int deck, int value) {
        effectTable.clearEffects();
        effectTable.slots[deck][0] = EffectSlot{Scroll, value, 1, 0};
    }
};

int R(uint16_t p) { return p >> 11; }
int G(uint16_t p) { return (p >> 5) & 63; }
int B(uint16_t p) { return p & 31; }
uint16_t rgb(int r, int g, int b) { return uint16_t(r << 11 | g << 5 | b); }

TEST(FilterNames, TenNamesAndNoneOutside) {
    const char* expected[] = {"NONE", "MIRROR", "SCROLL", "INVERT", "BURNED",
                              "ZOOM", "HUE",    "GAME BOY", "GLITCH", "SNOW"};
    for (int id = 0; id < 10; id++) EXPECT_STREQ(expected[id], filterName(id));
    EXPECT_STREQ("NONE", filterName(10));
    EXPECT_STREQ("NONE", filterName(-1));
}

TEST_F(Filters, InvertComplementsAndTwiceRestores) {
    fillAllValues(1);
    fill(0, 0x1234);
    applyInvert(1, 0);
    for (int i = 0; i < FramePixels; i++) ASSERT_EQ(uint16_t(~i), frame(1)[i]) << "pixel " << i;
    EXPECT_EQ(0x1234, frame(0)[0]) << "the other deck is untouched";
    applyInvert(1, 0);
    for (int i = 0; i < FramePixels; i++) ASSERT_EQ(uint16_t(i), frame(1)[i]);
}

TEST_F(Filters, BurnedThresholdAtNinety) {
    const uint16_t cases[][2] = {
        {0x8410, 0xFFE0},  // L 96
        {0x7BEF, 0xFFE0},  // L 91
        {0x7BCF, 0xFFE0},  // L 90
        {0x7BAF, 0x0000},  // R 15, G 29, B 15: L 89
    };
    for (auto& c : cases) {
        fill(0, c[0]);
        applyBurned(0, 3);
        EXPECT_EQ(c[1], at(0, 100, 100)) << std::hex << c[0];
    }
    const uint16_t colours[] = {0xF800, 0xF79E, 0x07E0, 0xFFE0};
    for (int v = 0; v < 4; v++) {
        fill(0, 0xFFFF);
        applyBurned(0, v);
        EXPECT_EQ(colours[v], at(0, 5, 5)) << "value " << v;
    }
    fill(0, 0xFFFF);
    applyBurned(0, 4);
    EXPECT_EQ(0x0000, at(0, 5, 5)) << "an unknown colour burns to black";
}

TEST_F(Filters, GameBoyFourShadesWithTheirBounds) {
    struct { uint16_t in, out; } cases[] = {
        {0x0000, 0x39E0}, {rgb(0, 45, 0), 0x39E0},   {rgb(0, 46, 0), 0x6304},
        {rgb(0, 62, 14), 0x6304} /* L 90 */,          {rgb(0, 63, 14), 0xAD4D} /* L 91 */,
        {rgb(18, 63, 18), 0xAD4D} /* L 135 */,        {rgb(19, 62, 18), 0xFFFD} /* L 136 */,
        {0xFFFF, 0xFFFD},
    };
    for (auto& c : cases) {
        fill(1, c.in);
        applyGameBoy(1, 2);
        EXPECT_EQ(c.out, at(1, 319, 239)) << std::hex << c.in;
    }
}

TEST_F(Filters, BurnedAndGameBoyMatchTheBrightnessRuleOnEveryPixelValue) {
    for (int v = 0; v < 4; v++) {
        const uint16_t colour[] = {0xF800, 0xF79E, 0x07E0, 0xFFE0};
        fillAllValues(0);
        applyBurned(0, v);
        for (int i = 0; i < FramePixels; i++) {
            uint16_t p = uint16_t(i);
            int l = 2 * R(p) + G(p) + 2 * B(p);
            ASSERT_EQ(l >= 90 ? colour[v] : 0, frame(0)[i]) << "value " << v << " pixel " << i;
        }
    }
    fillAllValues(0);
    applyGameBoy(0, 0);
    for (int i = 0; i < FramePixels; i++) {
        uint16_t p = uint16_t(i);
        int l = 2 * R(p) + G(p) + 2 * B(p);
        uint16_t want = l <= 45 ? 0x39E0 : l <= 90 ? 0x6304 : l <= 135 ? 0xAD4D : 0xFFFD;
        ASSERT_EQ(want, frame(0)[i]) << "pixel " << i;
    }
}

TEST_F(Filters, MirrorHalves) {
    const uint16_t red = 0xF800, blue = 0x001F;
    auto leftRedRightBlue = [&] {
        for (int y = 0; y < FrameHeight; y++)
            for (int x = 0; x < FrameWidth; x++) at(0, x, y) = x < 160 ? red : blue;
    };
    leftRedRightBlue();
    applyMirror(0, 1);
    for (int i = 0; i < FramePixels; i++) ASSERT_EQ(red, frame(0)[i]);
    leftRedRightBlue();
    applyMirror(0, 3);
    for (int i = 0; i < FramePixels; i++) ASSERT_EQ(blue, frame(0)[i]);

    // Vertical: the kept half is intact, the other half its flipped copy.
    fillTags(1);
    applyMirror(1, 0);
    for (int y = 0; y < FrameHeight; y++)
        for (int x = 0; x < FrameWidth; x += 53)
            ASSERT_EQ(tag(x, y < 120 ? 239 - y : y), at(1, x, y)) << x << "," << y;
    fillTags(1);
    applyMirror(1, 2);
    for (int y = 0; y < FrameHeight; y++)
        for (int x = 0; x < FrameWidth; x += 53)
            ASSERT_EQ(tag(x, y >= 120 ? 239 - y : y), at(1, x, y)) << x << "," << y;
    // Right half from the left (x = 319 - k copies x = k), and the left from the right.
    fillTags(1);
    applyMirror(1, 1);
    for (int y = 0; y < FrameHeight; y += 7)
        for (int x = 0; x < FrameWidth; x++) ASSERT_EQ(tag(x < 160 ? x : 319 - x, y), at(1, x, y)) << x << "," << y;
    fillTags(1);
    applyMirror(1, 3);
    for (int y = 0; y < FrameHeight; y += 7)
        for (int x = 0; x < FrameWidth; x++) ASSERT_EQ(tag(x >= 160 ? x : 319 - x, y), at(1, x, y)) << x << "," << y;
    fillTags(1);
    applyMirror(1, 9);
    for (int y = 0; y < FrameHeight; y++) ASSERT_EQ(tag(300, y), at(1, 300, y)) << "unknown value: unchanged";
}

TEST_F(Filters, HueOnWhiteBlackAndSmallLevels) {
    for (int v = 0; v < 4; v++) {
        fill(0, 0xFFFF);
        applyHue(0, v);
        EXPECT_EQ(0xFFDF, at(0, 0, 0)) << "white, value " << v;
        fill(0, 0x0000);
        applyHue(0, v);
        EXPECT_EQ(0x0000, at(0, 0, 0)) << "black, value " << v;
    }
    // g = 5 from red 5 alone.
    struct { int value; uint16_t out; } g5[] = {
        {0, 0x0841},  // l = 1 everywhere
        {1, 0x2800},  // l = 5 red, e = 0
        {2, 0x0140},  // l = 5 green (top bits of the 6-bit field)
        {3, 0x1081},  // l = 2 red and green, e = 1 blue
    };
    for (auto& c : g5) {
        fill(0, rgb(5, 0, 0));
        applyHue(0, c.value);
        EXPECT_EQ(c.out, at(0, 10, 10)) << "value " << c.value;
    }
    fill(0, rgb(31, 0, 9));  // g = 40: green ramp saturates, the rest spills into red and blue
    applyHue(0, 2);
    EXPECT_EQ(0x27C4, at(0, 10, 10));
    fill(0, 0x1234);
    applyHue(0, 4);
    EXPECT_EQ(0x1234, at(0, 10, 10)) << "unknown tint leaves the frame";
}

TEST_F(Filters, HueMatchesTheDivisorTableOnEveryPixelValue) {
    struct Tint { int c, b; char r, g, bl; } tints[4] = {
        {3, 0, 'l', 'l', 'l'}, {1, 2, 'l', 'e', 'e'}, {1, 2, 'e', 'l', 'e'}, {2, 1, 'l', 'l', 'e'}};
    for (int v = 0; v < 4; v++) {
        const Tint& t = tints[v];
        fillAllValues(1);
        applyHue(1, v);
        for (int i = 0; i < FramePixels; i++) {
            uint16_t p = uint16_t(i);
            int g = R(p) + B(p) + (G(p) >> 1);
            int l = std::min(g / t.c, 31);
            int e = t.b ? (g - t.c * l) / t.b : 0;
            auto pick = [&](char k) { return k == 'l' ? l : e; };
            uint16_t want = uint16_t((pick(t.r) << 11) + (pick(t.g) << 6) + pick(t.bl));
            ASSERT_EQ(want, frame(1)[i]) << "value " << v << " pixel " << i;
        }
    }
}

TEST_F(Filters, ZoomDoublesTheCentreQuarter) {
    fillTags(0);
    applyZoom(0, 0);
    for (int y = 0; y < FrameHeight; y++)
        for (int x = 0; x < FrameWidth; x++)
            ASSERT_EQ(tag(80 + x / 2, 60 + y / 2), at(0, x, y)) << x << "," << y;

    fillTags(0);
    applyZoom(0, 1);
    for (int y = 0; y < FrameHeight; y++)
        for (int x = 0; x < FrameWidth; x++) {
            uint16_t want = (x % 2 == 0 && y % 2 == 0) ? tag(80 + x / 2, 60 + y / 2) : tag(x, y);
            ASSERT_EQ(want, at(0, x, y)) << x << "," << y;
        }

    // The documented corner: red at (80, 60).
    fill(1, 0);
    at(1, 80, 60) = 0xF800;
    applyZoom(1, 0);
    EXPECT_EQ(0xF800, at(1, 0, 0));
    EXPECT_EQ(0xF800, at(1, 1, 0));
    EXPECT_EQ(0xF800, at(1, 0, 1));
    EXPECT_EQ(0xF800, at(1, 1, 1));
    EXPECT_EQ(0x0000, at(1, 2, 0));
    fill(1, 0);
    at(1, 80, 60) = 0xF800;
    applyZoom(1, 1);
    EXPECT_EQ(0xF800, at(1, 0, 0));
    EXPECT_EQ(0x0000, at(1, 1, 0));
    EXPECT_EQ(0x0000, at(1, 1, 1));
}

TEST_F(Filters, SnowRepeatsWithItsPeriodAndShiftsAllChannelsAlike) {
    const int periods[] = {497, 313, 29, 7};
    for (int v = 0; v < 4; v++) {
        const int n = periods[v];
        srand(77);
        std::vector<int> noise(n);
        for (int& d : noise) d = rand() % 20;
        seedRandom(77);  // the same numbers as rand() after srand(77)
        fill(0, 0x8410);  // R 16, G 32, B 16: no clamping for any shift
        applySnow(0, v);
        for (int i = 0; i < FramePixels; i++) {
            const int d = noise[(i + 1) % n];
            ASSERT_EQ(rgb(16 + d - 10, 32 + 2 * d - 20, 16 + d - 10), frame(0)[i]) << "value " << v << " pixel " << i;
        }
    }
    // Repeat every 7 pixels along the raster, across row ends.
    fill(0, 0x8410);
    applySnow(0, 3);
    for (int i = 0; i + 7 < FramePixels; i++) ASSERT_EQ(frame(0)[i], frame(0)[i + 7]);
}

TEST_F(Filters, SnowClampsAtBothEnds) {
    fill(0, 0xFFFF);
    fill(1, 0x0000);
    applySnow(0, 2);
    applySnow(1, 2);
    bool brighter = false, darker = false;
    for (int i = 0; i < 29; i++) {
        uint16_t w = frame(0)[i], k = frame(1)[i];
        // White only darkens and black only brightens; the fields never wrap.
        ASSERT_GE(R(w), 21);
        ASSERT_GE(G(w), 43);
        ASSERT_LE(R(k), 9);
        ASSERT_LE(G(k), 18);
        ASSERT_EQ(R(w) - 31, B(w) - 31);
        ASSERT_EQ(R(k), B(k));
        brighter |= k != 0;
        darker |= w != 0xFFFF;
    }
    EXPECT_TRUE(brighter);
    EXPECT_TRUE(darker);
}

TEST_F(Filters, ScrollOffsetSequences) {
    scrollSlot(0, 1);
    for (int k = 1; k <= 159; k++) ASSERT_EQ(2 * k, scrollOnce(0, 1));
    EXPECT_EQ(2, scrollOnce(0, 1)) << "320 becomes 2";
    EXPECT_EQ(4, scrollOnce(0, 1));

    scrollSlot(0, 3);
    EXPECT_EQ(2, scrollOnce(0, 3)) << "65534 becomes 2";
    EXPECT_EQ(320, scrollOnce(0, 3)) << "0 becomes 320";
    EXPECT_EQ(318, scrollOnce(0, 3));
    EXPECT_EQ(316, scrollOnce(0, 3));

    scrollSlot(1, 2);
    for (int k = 1; k <= 120; k++) ASSERT_EQ(2 * k, scrollOnce(1, 2));
    EXPECT_EQ(2, scrollOnce(1, 2)) << "242 becomes 2";

    scrollSlot(1, 0);
    EXPECT_EQ(2, scrollOnce(1, 0));
    EXPECT_EQ(240, scrollOnce(1, 0));
    EXPECT_EQ(238, scrollOnce(1, 0));
}

TEST_F(Filters, ScrollMovesThePictureAndHoldsWhilePaused) {
    scrollSlot(0, 1);  // right
    fillTags(0);
    applyScroll(0, 1, 0);  // offset 2
    for (int y = 0; y < FrameHeight; y += 17)
        for (int x = 0; x < FrameWidth; x++) ASSERT_EQ(tag((x + 318) % 320, y), at(0, x, y));
    fillTags(0);
    EXPECT_EQ(2, scrollOnce(0, 1, 1)) << "paused: the offset stays";
    EXPECT_EQ(tag(318, 0), at(0, 0, 0)) << "paused: still drawn at the stored offset";

    scrollSlot(1, 2);  // down
    effectTable.slots[1][0].param = 8;
    fillTags(1);
    applyScroll(1, 2, 0);  // offset 10
    for (int y = 0; y < FrameHeight; y++) ASSERT_EQ(tag(5, (y + 230) % 240), at(1, 5, y)) << y;

    // At 320 and 240 the picture is where it started.
    scrollSlot(0, 3);
    effectTable.slots[0][0].param = 2;
    fillTags(0);
    EXPECT_EQ(320, scrollOnce(0, 3));
    for (int i = 0; i < FramePixels; i += 97) ASSERT_EQ(uint16_t(i), frame(0)[i]);
}

TEST_F(Filters, ScrollKeepsItsOffsetInTheFirstSlotThatIsOn) {
    effectTable.clearEffects();
    effectTable.slots[0][1] = EffectSlot{Scroll, 1, 1, 100};
    effectTable.slots[0][2] = EffectSlot{Scroll, 1, 1, 7};
    fill(0, 0);
    applyScroll(0, 1, 0);
    EXPECT_EQ(102, effectTable.slots[0][1].param);
    EXPECT_EQ(7, effectTable.slots[0][2].param);
    EXPECT_EQ(0, effectTable.slots[1][1].param) << "the other deck's slot keeps its own";
}

}  // namespace
