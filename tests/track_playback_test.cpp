// Playback over many frames against a plain reference decoder: seeded random clips of both formats,
// with and without alpha, played forwards, held, jumped around and backwards, with invalidations,
// deck switches and GLITCH, and every deck pixel, alpha byte and redraw table compared after each
// decode. The decoders keep per-block state between frames; this is where a stale segment, a
// skipped block or a wrong scan order would show.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "mixer/Random.h"
#include "random_clips.h"
#include "track_clips.h"

using namespace clipwriter;

namespace {

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// The decoding rules written out as plainly as possible: every pixel through a scan-order table,
// runs as a list, no state but what the format says is kept between frames.
struct Reference {
    const Track& t;
    uint16_t frames[2][FramePixels] = {};
    uint8_t alpha[FramePixels] = {};
    uint16_t prevIds[1200];
    uint16_t prevModes[240] = {};
    uint16_t ids[1200] = {};
    uint8_t segmentIndex[1200] = {};
    uint8_t alphaScratch[64] = {};
    int redraw = 2;

    explicit Reference(const Track& track) : t(track) { invalidate(); }
    void invalidate() {
        std::fill(prevIds, prevIds + 1200, uint16_t(60000));
        std::memset(prevModes, 0, sizeof prevModes);
        redraw = 2;
    }

    void selectIds(int position) {
        const uint16_t* u = t.timeline;
        for (int b = 0; b < 1200; b++) {
            int n = *u++ & 0xFF;
            const uint16_t* lengths = u;
            if (n > 0) {
                int sum = 0;
                for (int s = 0; s < n; s++) {
                    sum += ((lengths[s / 2] >> (s % 2 * 8)) & 0xFF) + 1;
                    if (position < sum) {
                        segmentIndex[b] = uint8_t(s);
                        break;
                    }
                }
                u += (n + 1) / 2;
            } else {
                segmentIndex[b] = uint8_t(position);
            }
            ids[b] = u[segmentIndex[b]];
            u += n ? n : t.frameCount;
        }
    }

    void alphaRuns(const uint8_t* p) {
        for (int i = 0; i < 64; p++)
            for (int k = 0; k <= *p >> 4 && i < 64; k++) alphaScratch[i++] = *p & 15;
    }

    // Fills the block (x0, y0) of frame f with runs along the scan order (mode, variant).
    static void fillRuns(uint16_t* f, int x0, int y0, int mode, int variant, const std::vector<std::pair<int, uint16_t>>& runs) {
        uint8_t order[64];
        scanOrder(mode, variant, order);
        int p = 0;
        for (auto& r : runs)
            for (int i = 0; i < r.first && p < 64; i++, p++) f[(y0 + order[p] / 8) * 320 + x0 + order[p] % 8] = r.second;
    }

    static void flat(uint16_t* f, int x0, int y0, uint16_t c) {
        for (int i = 0; i < 64; i++) f[(y0 + i / 8) * 320 + x0 + i % 8] = c;
    }

    void decode(int deck, int position, int blendMode, int glitch) {
        selectIds(position);
        if (glitch == 0) glitchBlocks(ids);
        const uint16_t* words = t.modeWords + position * 240;
        uint16_t* f = frames[deck];
        for (int b = 0; b < 1200; b++) {
            int shift = 12 - 3 * (b % 5);
            int mode = (words[b / 5] >> shift) & 7, prevMode = (prevModes[b / 5] >> shift) & 7;
            uint16_t id = ids[b];
            if (id == prevIds[b] && mode == prevMode && !redraw) continue;
            int x0 = b % 40 * 8, y0 = b / 40 * 8;
            const uint8_t* a = t.format == 17 ? block17(f, x0, y0, id, mode, glitch) : block18(f, x0, y0, id, mode, glitch);
            if (deck == 1 && blendMode == 3)
                for (int i = 0; i < 64; i++) alpha[(y0 + i / 8) * 320 + x0 + i % 8] = a[i];
        }
        std::memcpy(prevModes, words, sizeof prevModes);
        std::memcpy(prevIds, ids, sizeof prevIds);
        if (redraw) redraw--;
    }

    uint16_t colour(const uint8_t*& p, bool pal) {
        uint16_t c = pal ? t.palette[*p] : le16(p);
        p += pal ? 1 : 2;
        return c;
    }

    // Each draws one block and answers the 64 alpha values it leaves for the alpha plane.
    const uint8_t* block17(uint16_t* f, int x0, int y0, uint16_t id, int mode, int glitch) {
        const uint8_t* e = t.dictionary + t.entryOffsets[id];
        uint8_t T = e[0];
        const uint8_t* p = e + 1;
        std::vector<std::pair<int, uint16_t>> runs;
        int type = T & 7, total = 0;
        if (type < 4) {
            bool wide = type >= 2;
            while (total < 64) {
                uint8_t R = *p++;
                int a = wide ? (R >> 4) + 1 : (R >> 5) + 1, b = wide ? (R & 15) + 1 : ((R >> 2) & 7) + 1;
                runs.push_back({a, colour(p, wide || (R & 2))});
                if ((total += a) >= 64) break;
                runs.push_back({b, colour(p, wide || (R & 1))});
                total += b;
            }
        } else if (type == 4) {
            flat(f, x0, y0, colour(p, false));
        } else if (type == 5) {
            flat(f, x0, y0, colour(p, true));
        } else {
            for (int i = 0; i < 64; i++) f[(y0 + i / 8) * 320 + x0 + i % 8] = colour(p, type == 7);
        }
        if (T & 8) std::memset(alphaScratch, T >> 4, 64);
        else if (t.hasAlpha) alphaRuns(p);
        if (type < 4) {
            if (glitch == 2) flat(f, x0, y0, id);
            else if (mode < 6) fillRuns(f, x0, y0, mode, T & 1, runs);
        }
        return alphaScratch;
    }

    const uint8_t* block18(uint16_t* f, int x0, int y0, uint16_t id, int mode, int glitch) {
        static const uint8_t opaque[64] = {15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
                                           15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
                                           15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
                                           15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15};
        static const uint8_t clear[64] = {};
        if (id >= t.entryCount) mode = 0;
        if (glitch == 2 || mode == 0) return flat(f, x0, y0, id), opaque;
        if (mode == 7) return flat(f, x0, y0, 0), clear;
        int c = t.hasAlpha ? 15 : 7;
        while (t.classStart[c] > id) c--;
        int k = c & 7;
        const uint8_t* p = t.dictionary + t.entryOffsets[id];
        std::vector<std::pair<int, uint16_t>> runs;
        if (k < 2) {
            for (int i = 0; i < 64; i++) f[(y0 + i / 8) * 320 + x0 + i % 8] = colour(p, k == 1);
        } else if (k < 4) {
            uint16_t h = le16(p);
            p += 2;
            int len[4] = {(h & 31) + 1, ((h >> 5) & 31) + 1, ((h >> 10) & 31) + 1, 32};
            for (int r = 0, total = 0; total < 64; total += len[r++]) runs.push_back({len[r], colour(p, h & 0x8000)});
        } else {
            bool narrow = k < 6;
            std::vector<bool> pal;
            for (int total = 0; total < 64;) {
                uint8_t R = *p++;
                int a = narrow ? (R >> 5) + 1 : (R >> 4) + 1, b = narrow ? ((R >> 2) & 7) + 1 : (R & 15) + 1;
                runs.push_back({a, 0});
                pal.push_back(!narrow || (R & 2));
                if ((total += a) == 64) break;
                runs.push_back({b, 0});
                pal.push_back(!narrow || (R & 1));
                total += b;
            }
            for (size_t r = 0; r < runs.size(); r++) runs[r].second = colour(p, pal[r]);
        }
        if (k >= 2) fillRuns(f, x0, y0, mode - 1, k & 1, runs);
        if (t.hasAlpha && c < 8) std::memset(alphaScratch, 15, 64);
        if (c >= 8) {
            uint8_t a = *p++;
            if (a & 0x20) std::memset(alphaScratch, a & 15, 64);
            else alphaRuns(p);
        }
        return alphaScratch;
    }
};

class Playback : public testing::TestWithParam<std::tuple<int, int>> {
protected:
    void SetUp() override { effectTable.clearEffects(); }
    void TearDown() override { effectTable.clearEffects(); }
};

// Compares whole buffers first; only a difference is searched for pixel by pixel.
void expectSame(const Reference& ref, const Track& t, int step, int deck) {
    for (int d = 0; d < 2; d++) {
        const uint16_t* got = deckFrames + d * FramePixels;
        if (std::memcmp(got, ref.frames[d], FrameBytes) == 0) continue;
        int i = 0;
        while (got[i] == ref.frames[d][i]) i++;
        FAIL() << "step " << step << " (decoded deck " << deck << "): deck " << d << " differs first at x " << i % 320
               << " y " << i / 320 << ": " << got[i] << " instead of " << ref.frames[d][i];
    }
    if (std::memcmp(alphaPlane, ref.alpha, FramePixels) != 0) {
        int i = 0;
        while (alphaPlane[i] == ref.alpha[i]) i++;
        FAIL() << "step " << step << ": alpha differs first at x " << i % 320 << " y " << i / 320;
    }
    for (int b = 0; b < 1200; b++) {
        ASSERT_EQ(t.prevIds[b], ref.prevIds[b]) << "step " << step << ": prevIds of block " << b;
        ASSERT_EQ(t.segmentIndex[b], ref.segmentIndex[b]) << "step " << step << ": segment of block " << b;
    }
    ASSERT_EQ(std::memcmp(t.prevModes, ref.prevModes, sizeof ref.prevModes), 0) << "step " << step;
    ASSERT_EQ(t.redrawFrames, ref.redraw) << "step " << step;
}

TEST_P(Playback, EveryDecodeMatchesThePlainDecoder) {
    uint8_t format = uint8_t(std::get<0>(GetParam()));
    uint8_t hasAlpha = uint8_t(std::get<1>(GetParam()));
    for (unsigned seed = 1; seed <= 3; seed++) {
        ClipMaker make(seed * 100 + format + hasAlpha);
        uint16_t frames = uint16_t(seed == 1 ? 1 : seed == 2 ? 37 : 255);
        ClipFile c = make.clip(format, hasAlpha, frames);
        auto t = newTrack();
        std::string why;
        std::vector<uint8_t> bytes = c.serialise(&why);
        ASSERT_FALSE(bytes.empty()) << why;
        ASSERT_EQ(loadBytes(*t, format == 17 ? "play.q17" : "play.q18", bytes).back(), 2) << t->loadError;
        std::memset(deckFrames, 0, 2 * FrameBytes);
        std::memset(alphaPlane, 0, FrameBytes);
        auto owned = std::make_unique<Reference>(*t);
        Reference& ref = *owned;

        int position = 0;
        for (int step = 0; step < 160; step++) {
            int what = make.below(20), deck = make.below(4) == 0 ? 0 : 1, blend = make.below(4);
            if (what < 12) position = (position + 1) % frames;  // playing on
            else if (what < 14) position = make.below(frames);  // a jump
            else if (what == 14) position = (position + frames - 1) % frames;  // backwards
            else if (what == 15) t->invalidate(), ref.invalidate();
            else if (what == 16) t->redrawFrames = ref.redraw = 1;  // the deck switched to this track
            int glitch = -1;
            effectTable.clearEffects();
            if (make.below(6) == 0) {
                glitch = make.below(3);
                effectTable.slots[deck][4] = EffectSlot{8, glitch, 1, 0};
            }
            unsigned glitchSeed = make.rng();
            seedRandom(glitchSeed);
            ref.decode(deck, position, blend, glitch);
            seedRandom(glitchSeed);
            t->decodeFrame(deck, position, blend);
            expectSame(ref, *t, step, deck);
            if (HasFatalFailure()) return;
        }
        t->releaseBuffers();
    }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, Playback,
                         testing::Combine(testing::Values(17, 18), testing::Values(0, 1)),
                         [](const testing::TestParamInfo<std::tuple<int, int>>& p) {
                             return "Format" + std::to_string(std::get<0>(p.param)) +
                                    (std::get<1>(p.param) ? "Alpha" : "NoAlpha");
                         });

// A held frame draws nothing, yet a block whose entry in prevIds or prevModes was changed behind
// the decoder's back is redrawn: the redraw test reads those tables, not a copy of them.
TEST(Playback, HeldFrameRedrawsOnlyWhatTheTablesSayChanged) {
    ClipMaker make(7);
    ClipFile c = make.clip(17, 0, 4);
    uint16_t flat = c.addEntry(encode17Index(9, noAlpha()));
    c.setSegments(0, {{4, flat}});
    c.setSegments(1199, {{4, flat}});
    auto t = newTrack();
    ASSERT_EQ(loadBytes(*t, "held.q17", c.serialise()).back(), 2);
    effectTable.clearEffects();
    for (int i = 0; i < 3; i++) t->decodeFrame(1, 2, 0);
    uint16_t* deck1 = deckFrames + FramePixels;
    std::memset(deck1, 0, FrameBytes);
    t->decodeFrame(1, 2, 0);
    for (int i = 0; i < FramePixels; i++) ASSERT_EQ(deck1[i], 0) << "pixel " << i;

    t->prevIds[1199] = 60000;
    t->prevModes[0] ^= 7 << 12;  // block 0's fill mode
    t->decodeFrame(1, 2, 0);
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) {
            bool redrawn = (x >= 312 && y >= 232) || (x < 8 && y < 8);
            ASSERT_EQ(deck1[y * 320 + x], redrawn ? c.palette[9] : 0) << "x " << x << " y " << y;
        }
    t->releaseBuffers();
}

}  // namespace
