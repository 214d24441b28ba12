// Decoding: the format's worked entries byte for byte, the scan orders, the redraw test, the
// Format18 fills, alpha, and the GLITCH hooks.
#include <cstdlib>
#include <cstring>

#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "mixer/Random.h"
#include "track_clips.h"

using namespace clipwriter;

namespace {

uint16_t P(int i) { return uint16_t(0x1000 + i); }  // the test palette

struct Block {
    uint16_t px[64];
    uint8_t alpha[64];
};

Block blockAt(int deck, int bx, int by) {
    Block b;
    for (int i = 0; i < 64; i++) {
        b.px[i] = deckPixel(deck, bx * 8 + i % 8, by * 8 + i / 8);
        b.alpha[i] = alphaAt(bx * 8 + i % 8, by * 8 + i / 8);
    }
    return b;
}

ClipFile testClip(uint8_t format, uint8_t hasAlpha, uint16_t frames) {
    ClipFile c(format, hasAlpha, frames);
    for (int i = 0; i < 256; i++) c.palette[i] = P(i);
    return c;
}

void clearDecks() {
    allocateFrameBuffers();
    std::memset(deckFrames, 0, 2 * FrameBytes);
    std::memset(alphaPlane, 0xAA, FrameBytes);
}

std::unique_ptr<Track> loaded(const ClipFile& c, const char* name) {
    auto t = newTrack();
    std::vector<uint8_t> bytes = c.serialise();
    EXPECT_FALSE(bytes.empty());
    EXPECT_EQ(loadBytes(*t, name, bytes).back(), 2) << t->loadError;
    return t;
}

// Every block shows entry e in fill mode `mode`; block 0 of frame 0 decoded on deck 1, blend 3.
Block decodeEntry(uint8_t format, uint8_t hasAlpha, const ClipEntry& e, int mode) {
    ClipFile c = testClip(format, hasAlpha, 1);
    c.addEntry(e);
    c.setModeAll(0, mode);
    auto t = loaded(c, format == 17 ? "entry.q17" : "entry.q18");
    clearDecks();
    t->decodeFrame(1, 0, 3);
    t->releaseBuffers();
    return blockAt(1, 0, 0);
}

ClipEntry raw(uint8_t cls, std::vector<uint8_t> bytes) { return ClipEntry{cls, bytes}; }

void expectAll(const uint16_t* px, uint16_t c) {
    for (int i = 0; i < 64; i++) ASSERT_EQ(px[i], c) << "pixel " << i;
}
void expectAll(const uint8_t* a, uint8_t v) {
    for (int i = 0; i < 64; i++) ASSERT_EQ(a[i], v) << "alpha " << i;
}

TEST(Format17Entries, WorkedExamples) {
    expectAll(decodeEntry(17, 0, raw(0, {0x05, 0x2A}), 0).px, P(0x2A));
    expectAll(decodeEntry(17, 0, raw(0, {0x04, 0x1F, 0xF8}), 0).px, 0xF81F);

    Block b = decodeEntry(17, 1, raw(0, {0xFD, 0x07}), 0);
    expectAll(b.px, P(7));
    expectAll(b.alpha, 15);

    b = decodeEntry(17, 1, raw(0, {0x05, 0x2A, 0xF0, 0xF0, 0xF0, 0xFF}), 0);
    expectAll(b.px, P(0x2A));
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.alpha[i], i < 48 ? 0 : 15);

    // Wide runs: 16 + 16, 16 + 15, then one pixel that completes the 64.
    b = decodeEntry(17, 0, raw(0, {0x02, 0xFF, 0x05, 0x09, 0xFE, 0x05, 0x09, 0x00, 0x0C}), 0);
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.px[i], i < 16 ? P(5) : i < 32 ? P(9) : i < 48 ? P(5) : i < 63 ? P(9) : P(12));

    // Narrow runs: four pairs of 8 direct 0xF800 and 8 of palette[3].
    std::vector<uint8_t> narrow = {0x00};
    static const uint8_t pair[] = {0xFD, 0x00, 0xF8, 0x03};
    for (int k = 0; k < 4; k++)
        for (uint8_t byte : pair) narrow.push_back(byte);
    b = decodeEntry(17, 0, raw(0, narrow), 0);
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.px[i], (i / 8) % 2 ? P(3) : 0xF800);

    // Raw pixels and raw indices, row by row.
    uint16_t px[64];
    uint8_t idx[64];
    for (int i = 0; i < 64; i++) px[i] = uint16_t(i * 1000), idx[i] = uint8_t(200 - i);
    b = decodeEntry(17, 0, encode17Pixels(px, noAlpha()), 3);
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.px[i], px[i]);
    b = decodeEntry(17, 0, encode17Indices(idx, noAlpha()), 5);
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.px[i], P(idx[i]));
}

TEST(Format18Entries, WorkedExamples) {
    Block b = decodeEntry(18, 0, raw(2, {0xEF, 0x3D, 0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0xFF, 0xFF}), 1);
    const uint16_t four[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.px[i], four[i / 16]);
    b = decodeEntry(18, 0, raw(2, {0xEF, 0xBD, 0x01, 0x02, 0x03, 0x04}), 1);
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.px[i], P(1 + i / 16));

    // Class 3 (variant 1, columns): two colours only; with alpha its alpha is 15.
    b = decodeEntry(18, 1, raw(3, {0xFF, 0x83, 0x0A, 0x0B}), 1);
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.px[i], i % 8 < 4 ? P(10) : P(11));
    expectAll(b.alpha, 15);
    // The same with an alpha part: the byte right after the two colours is the alpha header.
    b = decodeEntry(18, 1, raw(11, {0xFF, 0x83, 0x0A, 0x0B, 0x25}), 1);
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.px[i], i % 8 < 4 ? P(10) : P(11));
    expectAll(b.alpha, 5);

    b = decodeEntry(18, 0, raw(6, {0xFF, 0xFF, 0x05, 0x09, 0x05, 0x09}), 1);
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.px[i], (i / 16) % 2 ? P(9) : P(5));

    std::vector<uint8_t> rawIdx;
    for (int i = 0; i < 64; i++) rawIdx.push_back(uint8_t(i * 3));
    rawIdx.push_back(0x2F);
    b = decodeEntry(18, 1, raw(9, rawIdx), 4);
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.px[i], P(i * 3));
    expectAll(b.alpha, 15);

    // Alpha runs in row order.
    uint8_t alpha[64];
    for (int i = 0; i < 64; i++) alpha[i] = uint8_t(i % 16);
    b = decodeEntry(18, 1, encode18Narrow(0, {{8, 0x1234, false}, {8, 2, true}, {8, 3, true}, {8, 4, true},
                                              {8, 5, true}, {8, 6, true}, {8, 7, true}, {8, 0xABCD, false}},
                                          alphaValues(alpha)),
                    1);
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.px[i], i < 8 ? 0x1234 : i >= 56 ? 0xABCD : P(i / 8 + 1));
    for (int i = 0; i < 64; i++) EXPECT_EQ(b.alpha[i], alpha[i]);
}

// The scan orders as the format's table states them: the corner the first pixel is in, and
// whether the block is filled row by row or column by column.
struct Scan {
    bool columns, right, bottom;
};
const Scan scanTable[6][2] = {
    {{false, false, false}, {true, false, false}}, {{false, true, false}, {true, true, false}},
    {{false, false, true}, {true, false, true}},   {{false, true, true}, {true, true, true}},
    {{true, false, true}, {false, false, true}},   {{true, true, true}, {false, true, true}},
};

TEST(ScanOrder, RunsFollowTheTableInBothFormats) {
    // 64 one-pixel runs in palette colours 0..63: pixel k of the scan shows palette[k].
    std::vector<clipwriter::Run> runs;
    for (int k = 0; k < 64; k++) runs.push_back({1, uint16_t(k), true});
    for (int mode = 0; mode < 6; mode++)
        for (int variant = 0; variant < 2; variant++) {
            const Scan& s = scanTable[mode][variant];
            uint16_t expect[64];
            for (int k = 0; k < 64; k++) {
                int outer = k / 8, inner = k % 8;
                int x = s.columns ? outer : inner, y = s.columns ? inner : outer;
                if (s.right) x = 7 - x;
                if (s.bottom) y = 7 - y;
                expect[y * 8 + x] = P(k);
            }
            Block b17 = decodeEntry(17, 0, encode17Runs(variant, runs, noAlpha()), mode);
            Block b18 = decodeEntry(18, 0, encode18Narrow(variant, runs, noAlpha()), mode + 1);
            for (int i = 0; i < 64; i++) {
                ASSERT_EQ(b17.px[i], expect[i]) << "Format17 mode " << mode << " variant " << variant << " pixel " << i;
                ASSERT_EQ(b18.px[i], expect[i]) << "Format18 mode " << mode + 1 << " variant " << variant << " pixel " << i;
            }
        }
}

// Two frames: block 0 run-coded (left half palette[1], right half palette[2]), block 1 a flat
// entry, block 2 run-coded again; the fill modes change between the frames as each test sets.
struct TwoFrames {
    std::unique_ptr<Track> t;
    TwoFrames(int mode0, int mode1, int otherMode1) {
        ClipFile c = testClip(17, 0, 2);
        std::vector<clipwriter::Run> halves;
        for (int r = 0; r < 8; r++) halves.push_back({4, 1, true}), halves.push_back({4, 2, true});
        c.addEntry(encode17Runs(0, halves, noAlpha()));  // id 0
        c.addEntry(encode17Index(9, noAlpha()));          // id 1
        for (int b = 0; b < BlockCount; b++) c.setSegments(b, {{2, uint16_t(b == 1 ? 1 : 0)}});
        c.setModeAll(0, 0);
        c.setModeAll(1, otherMode1);
        c.setMode(0, 0, mode0);
        c.setMode(1, 0, mode1);
        c.setMode(1, 1, mode1);
        t = loaded(c, "two.q17");
        clearDecks();
        t->decodeFrame(0, 0, 0);
        t->decodeFrame(0, 0, 0);  // redrawFrames now 0
    }
    ~TwoFrames() { t->releaseBuffers(); }
};

void scribble(int deck, int bx) {
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) deckFrames[deck * FramePixels + y * 320 + bx * 8 + x] = 0xDEAD;
}

TEST(RedrawTest, UnchangedBlocksAreLeftAlone) {
    TwoFrames f(0, 0, 0);
    EXPECT_EQ(f.t->redrawFrames, 0);
    scribble(0, 0);
    scribble(0, 1);
    f.t->decodeFrame(0, 0, 0);
    EXPECT_EQ(deckPixel(0, 0, 0), 0xDEAD);
    EXPECT_EQ(deckPixel(0, 8, 0), 0xDEAD);
    f.t->invalidate();
    f.t->decodeFrame(0, 0, 0);
    EXPECT_EQ(deckPixel(0, 0, 0), P(1));
    EXPECT_EQ(deckPixel(0, 8, 0), P(9));
}

TEST(RedrawTest, AChangedFillModeRedrawsTheBlock) {
    TwoFrames f(0, 1, 0);
    EXPECT_EQ(deckPixel(0, 0, 0), P(1));
    EXPECT_EQ(deckPixel(0, 7, 0), P(2));
    scribble(0, 1);
    f.t->decodeFrame(0, 1, 0);
    // Mode 1 fills each row right to left: the run-coded block shows mirrored.
    EXPECT_EQ(deckPixel(0, 0, 0), P(2));
    EXPECT_EQ(deckPixel(0, 7, 7), P(1));
    // The flat block's mode changed too: redrawn, the same pixels.
    EXPECT_EQ(deckPixel(0, 8, 0), P(9));
    EXPECT_EQ(deckPixel(0, 15, 7), P(9));
}

TEST(RedrawTest, FillModesSixAndSevenDrawNoRuns) {
    for (int mode : {6, 7}) {
        TwoFrames f(0, mode, mode);
        scribble(0, 0);
        scribble(0, 1);
        f.t->decodeFrame(0, 1, 0);
        EXPECT_EQ(deckPixel(0, 3, 3), 0xDEAD) << "mode " << mode;  // run-coded: nothing drawn
        EXPECT_EQ(deckPixel(0, 9, 1), P(9)) << "mode " << mode;    // flat entry: drawn
        EXPECT_EQ(f.t->prevModes[0] >> 12, mode);                  // yet counted as drawn
    }
}

TEST(RedrawTest, PerFrameRecordsSelectTheFramesId) {
    ClipFile c = testClip(17, 0, 5);
    for (int e = 0; e < 5; e++) c.addEntry(encode17Index(uint8_t(20 + e), noAlpha()));
    c.setPerFrame(0, {4, 3, 2, 1, 0});
    auto t = loaded(c, "perframe.q17");
    clearDecks();
    for (int p = 0; p < 5; p++) {
        t->decodeFrame(1, p, 0);
        EXPECT_EQ(deckPixel(1, 4, 4), P(24 - p));
        EXPECT_EQ(deckPixel(1, 12, 4), P(20));
    }
    t->releaseBuffers();
}

TEST(AlphaPlane, WrittenOnlyForDeckOneInBlendModeThree) {
    ClipFile c = testClip(17, 1, 1);
    c.addEntry(encode17Index(1, uniformAlpha(6)));
    auto t = loaded(c, "alpha.q17");
    clearDecks();
    t->decodeFrame(0, 0, 3);
    t->invalidate();
    t->decodeFrame(1, 0, 2);
    EXPECT_EQ(alphaAt(100, 100), 0xAA);
    t->invalidate();
    t->decodeFrame(1, 0, 3);
    EXPECT_EQ(alphaAt(100, 100), 6);
    EXPECT_EQ(alphaAt(319, 239), 6);
    EXPECT_EQ(alphaAt(0, 240), 0xAA);  // the 76,800 bytes of deck 1 and no more
    t->releaseBuffers();
}

TEST(Format18Fills, LiteralColoursBlackAndClassAlpha) {
    ClipFile c = testClip(18, 1, 1);
    c.addEntry(encode18FourRuns(0, {{32, 1, true}, {32, 2, true}}, noAlpha()));                 // id 0, class 2
    c.addEntry(encode18FourRuns(0, {{32, 3, true}, {32, 4, true}}, uniformAlpha(5)));           // id 1, class 10
    c.setSegments(0, {{1, 0xF800}});  // block 0: a literal colour, whatever the dictionary holds
    c.setSegments(1, {{1, 2}});       // block 1: id == entryCount in mode 3, a literal colour too
    c.setSegments(2, {{1, 0}});       // block 2: black
    c.setSegments(3, {{1, 0}});       // block 3: class 2 in a clip with alpha
    c.setSegments(4, {{1, 1}});       // block 4: class 10, uniform alpha 5
    c.setModeAll(0, 1);
    c.setMode(0, 0, 0);
    c.setMode(0, 1, 3);
    c.setMode(0, 2, 7);
    auto t = loaded(c, "fills.q18");
    clearDecks();
    t->decodeFrame(1, 0, 3);
    Block b = blockAt(1, 0, 0);
    expectAll(b.px, 0xF800);
    expectAll(b.alpha, 15);
    b = blockAt(1, 1, 0);
    expectAll(b.px, 2);
    expectAll(b.alpha, 15);
    b = blockAt(1, 2, 0);
    expectAll(b.px, 0);
    expectAll(b.alpha, 0);
    b = blockAt(1, 3, 0);
    for (int i = 0; i < 64; i++) ASSERT_EQ(b.px[i], i < 32 ? P(1) : P(2));
    expectAll(b.alpha, 15);
    b = blockAt(1, 4, 0);
    expectAll(b.alpha, 5);
    t->releaseBuffers();
}

class Glitch : public testing::Test {
protected:
    void SetUp() override { effectTable.clearEffects(); }
    void TearDown() override { effectTable.clearEffects(); }
    void glitchOn(int deck, int value) { effectTable.slots[deck][2] = EffectSlot{8, value, 1, 0}; }
};

TEST_F(Glitch, ValueTwoPaintsRunCodedBlocksWithTheirIdsInFormat17) {
    ClipFile c = testClip(17, 0, 1);
    std::vector<clipwriter::Run> runs = {{16, 1, true}, {16, 1, true}, {16, 2, true}, {16, 2, true}};
    c.addEntry(encode17Runs(2, runs, noAlpha()));  // id 0: run-coded
    c.addEntry(encode17Index(9, noAlpha()));        // id 1: flat
    c.addEntry(encode17Runs(3, runs, noAlpha()));  // id 2: run-coded
    c.setSegments(1, {{1, 1}});
    c.setSegments(2, {{1, 2}});
    auto t = loaded(c, "glitch.q17");
    clearDecks();
    glitchOn(1, 2);
    t->decodeFrame(1, 0, 0);
    expectAll(blockAt(1, 0, 0).px, 0);
    expectAll(blockAt(1, 1, 0).px, P(9));
    expectAll(blockAt(1, 2, 0).px, 2);
    // Deck 0 has no GLITCH on: its frame shows the runs.
    t->invalidate();
    t->decodeFrame(0, 0, 0);
    EXPECT_EQ(deckPixel(0, 16, 0), P(1));
    t->releaseBuffers();
}

TEST_F(Glitch, ValueTwoPaintsEveryBlockInFormat18WithAlpha15) {
    ClipFile c = testClip(18, 1, 1);
    uint8_t idx[64] = {};
    c.addEntry(encode18Indices(idx, uniformAlpha(3)));  // id 0, class 9
    c.setModeAll(0, 1);
    auto t = loaded(c, "glitch.q18");
    clearDecks();
    glitchOn(1, 2);
    t->decodeFrame(1, 0, 3);
    expectAll(blockAt(1, 0, 0).px, 0);
    expectAll(blockAt(1, 0, 0).alpha, 15);
    effectTable.slots[1][2].value = 1;  // values 1 and 3 do nothing
    t->invalidate();
    t->decodeFrame(1, 0, 3);
    expectAll(blockAt(1, 5, 5).px, P(0));
    expectAll(blockAt(1, 5, 5).alpha, 3);
    t->releaseBuffers();
}

TEST_F(Glitch, ShearKeepsRowZeroAndShiftsLowerRowsRight) {
    int sheared = 0;
    for (unsigned seed = 1; seed <= 300; seed++) {
        seedRandom(seed);
        uint16_t ids[1200];
        for (int i = 0; i < 1200; i++) ids[i] = uint16_t(i);
        glitchBlocks(ids);
        for (int i = 0; i < 40; i++) ASSERT_EQ(ids[i], i);
        if (ids[40] == 40) {
            for (int i = 0; i < 1200; i++) ASSERT_EQ(ids[i], i);
            continue;
        }
        sheared++;
        for (int k = 1; k < 30; k++) {
            int j = ids[40 * k] - 39 * k;  // row k starts at scratch id 39k + j
            ASSERT_GE(j, 0);
            ASSERT_LE(j, (k - 1) / 2) << "row " << k;
            for (int i = 0; i < 40; i++) ASSERT_EQ(ids[40 * k + i], 39 * k + j + i);
        }
    }
    // r = rand() % 100 shears when it is 51 or more: about 49 frames in 100.
    EXPECT_GT(sheared, 100);
    EXPECT_LT(sheared, 200);
}

TEST_F(Glitch, ValueZeroShearsTheDecodedFrame) {
    ClipFile c = testClip(18, 0, 1);
    for (int b = 0; b < BlockCount; b++) c.setSegments(b, {{1, uint16_t(b + 1)}});  // literal colours
    auto t = loaded(c, "shear.q18");
    glitchOn(1, 0);
    int moved = 0;
    for (unsigned seed = 1; seed <= 20; seed++) {
        seedRandom(seed);
        clearDecks();
        t->invalidate();
        t->decodeFrame(1, 0, 0);
        for (int k = 0; k < 40; k++) ASSERT_EQ(deckPixel(1, 8 * k, 0), k + 1);  // row 0 stays
        moved += deckPixel(1, 0, 8) != 41;
    }
    EXPECT_GT(moved, 0);
    t->releaseBuffers();
}

TEST(DecodeFrame, IgnoresTracksThatAreNotReadyAndPositionsOutOfRange) {
    ClipFile c = testClip(17, 0, 3);
    c.addEntry(encode17Index(1, noAlpha()));
    auto t = loaded(c, "guard.q17");
    clearDecks();
    t->decodeFrame(1, 3, 0);
    t->decodeFrame(1, -1, 0);
    t->decodeFrame(2, 0, 0);
    EXPECT_EQ(deckPixel(1, 0, 0), 0);
    t->releaseBuffers();
    t->decodeFrame(1, 0, 0);
    EXPECT_EQ(deckPixel(1, 0, 0), 0);
}

}  // namespace
