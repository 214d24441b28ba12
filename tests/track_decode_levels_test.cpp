// The frame decoders' block loops exist once per instruction set (portable, AVX2, AVX-512), and
// playback runs the widest this processor has. Every other set this processor runs must draw the
// same pixels, alpha bytes and redraw tables, decode after decode, as the set playback chooses
// (which track_playback_test holds against a plain reference decoder).
#include <algorithm>
#include <cstring>
#include <random>

#include "mixer/EffectTable.h"
#include "mixer/Random.h"
#include "track_clips.h"

using namespace clipwriter;

namespace {

// Random clips with every entry form, very short and very long runs, all fill modes, and (in
// Format18) literal colours beyond the dictionary.
struct Maker {
    std::mt19937 rng;
    explicit Maker(unsigned seed) : rng(seed) {}
    int below(int n) { return int(rng() % unsigned(n)); }

    std::vector<Run> runs(int maxLength, bool mixed) {
        if (below(4) == 0) maxLength = 1 + below(2);  // up to 64 runs
        std::vector<Run> out;
        for (int total = 0; total < 64;) {
            int l = 1 + below(std::min(maxLength, 64 - total));
            bool pal = !mixed || below(2) == 0;
            out.push_back({uint8_t(l), uint16_t(pal ? below(256) : int(rng() & 0xFFFF)), pal});
            total += l;
        }
        return out;
    }
    std::vector<Run> fourRuns() {
        bool pal = below(2);
        int a = 1 + below(32), b = 1 + below(32);
        std::vector<int> len = {a, b};
        if (a + b < 64) {
            int c = std::min({64 - a - b, 32, std::max(1, 32 - a - b) + below(8)});  // a + b + c >= 32 when run 3 is used
            len.push_back(c);
            if (a + b + c < 64) len.push_back(64 - a - b - c);
        }
        std::vector<Run> out;
        for (int l : len) out.push_back({uint8_t(l), uint16_t(pal ? below(256) : int(rng() & 0xFFFF)), pal});
        return out;
    }
    EntryAlpha alpha(uint8_t format, bool hasAlpha) {
        int kind = below(3);
        if (!hasAlpha) return kind == 0 && format == 17 ? uniformAlpha(uint8_t(below(16))) : noAlpha();
        if (kind == 0) return uniformAlpha(uint8_t(below(16)));
        uint8_t v[64];
        for (int i = 0; i < 64; i++) v[i] = uint8_t(i > 0 && below(4) ? v[i - 1] : below(16));
        return alphaValues(v);
    }
    ClipEntry entry(uint8_t format, bool hasAlpha) {
        uint16_t px[64];
        uint8_t idx[64];
        for (int i = 0; i < 64; i++) px[i] = uint16_t(rng()), idx[i] = uint8_t(rng());
        EntryAlpha a = alpha(format, hasAlpha);
        int kind = below(8);
        if (format == 17) {
            switch (kind) {
            case 0: case 1: return encode17Runs(kind, runs(8, true), a);
            case 2: case 3: return encode17Runs(kind, runs(16, false), a);
            case 4: return encode17Colour(uint16_t(rng()), a);
            case 5: return encode17Index(idx[0], a);
            case 6: return encode17Pixels(px, a);
            default: return encode17Indices(idx, a);
            }
        }
        switch (kind) {
        case 0: return encode18Pixels(px, a);
        case 1: return encode18Indices(idx, a);
        case 2: case 3: return encode18FourRuns(kind & 1, fourRuns(), a);
        case 4: case 5: return encode18Narrow(kind & 1, runs(8, true), a);
        default: return encode18Wide(kind & 1, runs(16, false), a);
        }
    }
    ClipFile clip(uint8_t format, uint8_t hasAlpha, uint16_t frames) {
        ClipFile c(format, hasAlpha, frames);
        for (int i = 0; i < 256; i++) c.palette[i] = uint16_t(rng());
        std::vector<ClipEntry> entries;
        int count = 100 + below(200);
        for (int i = 0; i < count; i++) entries.push_back(entry(format, hasAlpha));
        std::stable_sort(entries.begin(), entries.end(), [](const ClipEntry& a, const ClipEntry& b) { return a.cls < b.cls; });
        for (auto& e : entries) c.addEntry(e);
        for (int b = 0; b < BlockCount; b++) {
            std::vector<uint16_t> ids;
            for (int f = 0; f < frames; f++)
                ids.push_back(f > 0 && below(3) ? ids.back() : uint16_t(format == 18 && below(6) == 0 ? count + below(5000) : below(count)));
            c.setPerFrame(b, ids);
        }
        for (int f = 0; f < frames; f++)
            for (int b = 0; b < BlockCount; b++) c.setMode(f, b, f > 0 && below(4) ? c.modes[size_t(f - 1) * BlockCount + b] : below(8));
        return c;
    }
};

// What one decode leaves behind: both deck frames, the alpha plane and the redraw tables.
struct Snapshot {
    std::vector<uint16_t> frames;
    std::vector<uint8_t> alpha;
    std::vector<uint16_t> prevIds, prevModes;
    int redrawFrames;
    explicit Snapshot(const Track& t)
        : frames(deckFrames, deckFrames + 2 * FramePixels), alpha(alphaPlane, alphaPlane + FramePixels),
          prevIds(t.prevIds, t.prevIds + 1200), prevModes(t.prevModes, t.prevModes + 240), redrawFrames(t.redrawFrames) {}
};

// Loads the clip and plays a scripted run of decodes (playing on, jumps, both decks, every blend
// mode, invalidations, GLITCH 0 and 2) with the given block loops.
std::vector<Snapshot> play(int level, const std::vector<uint8_t>& bytes, uint8_t format, uint16_t frames, unsigned seed) {
    std::vector<Snapshot> shots;
    EXPECT_TRUE(setBlockDecoderLevel(level));
    auto t = newTrack();
    EXPECT_EQ(loadBytes(*t, format == 17 ? "levels.q17" : "levels.q18", bytes).back(), 2) << t->loadError;
    std::memset(deckFrames, 0, 2 * FrameBytes);
    std::memset(alphaPlane, 0, FrameBytes);
    Maker script(seed);
    int position = 0;
    for (int step = 0; step < 40; step++) {
        int what = script.below(10), deck = script.below(4) == 0 ? 0 : 1, blend = script.below(4);
        if (what < 6) position = (position + 1) % frames;
        else if (what < 8) position = script.below(frames);
        else if (what == 8) t->invalidate();
        effectTable.clearEffects();
        if (script.below(5) == 0) effectTable.slots[deck][4] = EffectSlot{8, script.below(3), 1, 0};
        seedRandom(script.rng());
        t->decodeFrame(deck, position, blend);
        shots.emplace_back(*t);
    }
    effectTable.clearEffects();
    t->releaseBuffers();
    return shots;
}

class DecodeLevels : public testing::TestWithParam<std::tuple<int, int>> {
protected:
    int chosen = 0;
    void SetUp() override {
        chosen = blockDecoderLevel();
        effectTable.clearEffects();
    }
    void TearDown() override {
        setBlockDecoderLevel(chosen);
        effectTable.clearEffects();
    }
};

TEST_P(DecodeLevels, EverySetDrawsWhatThePlaybackSetDraws) {
    uint8_t format = uint8_t(std::get<0>(GetParam())), hasAlpha = uint8_t(std::get<1>(GetParam()));
    for (unsigned seed = 1; seed <= 2; seed++) {
        Maker make(seed * 31 + format + hasAlpha);
        uint16_t frames = uint16_t(seed == 1 ? 3 : 20);
        std::string why;
        std::vector<uint8_t> bytes = make.clip(format, hasAlpha, frames).serialise(&why);
        ASSERT_FALSE(bytes.empty()) << why;
        const std::vector<Snapshot> expected = play(chosen, bytes, format, frames, seed);
        for (int level = 0; level <= 2; level++) {
            if (level == chosen || !setBlockDecoderLevel(level)) continue;
            const std::vector<Snapshot> got = play(level, bytes, format, frames, seed);
            ASSERT_EQ(got.size(), expected.size());
            for (size_t s = 0; s < got.size(); s++) {
                const Snapshot &a = got[s], &e = expected[s];
                for (int i = 0; i < 2 * FramePixels; i++)
                    ASSERT_EQ(a.frames[i], e.frames[i]) << "level " << level << " step " << s << ": deck " << i / FramePixels
                                                        << " x " << i % 320 << " y " << i % FramePixels / 320;
                ASSERT_TRUE(a.alpha == e.alpha) << "level " << level << " step " << s << ": alpha plane";
                ASSERT_TRUE(a.prevIds == e.prevIds && a.prevModes == e.prevModes) << "level " << level << " step " << s;
                ASSERT_EQ(a.redrawFrames, e.redrawFrames) << "level " << level << " step " << s;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, DecodeLevels, testing::Combine(testing::Values(17, 18), testing::Values(0, 1)),
                         [](const testing::TestParamInfo<std::tuple<int, int>>& p) {
                             return "Format" + std::to_string(std::get<0>(p.param)) + (std::get<1>(p.param) ? "Alpha" : "NoAlpha");
                         });

// The portable set runs everywhere; a level outside 0..2 is refused and changes nothing.
TEST(DecodeLevelChoice, PortableAlwaysAvailableAndUnknownLevelsRefused) {
    const int chosen = blockDecoderLevel();
    ASSERT_GE(chosen, 0);
    ASSERT_LE(chosen, 2);
    EXPECT_TRUE(setBlockDecoderLevel(0));
    EXPECT_EQ(blockDecoderLevel(), 0);
    EXPECT_FALSE(setBlockDecoderLevel(3));
    EXPECT_FALSE(setBlockDecoderLevel(-1));
    EXPECT_EQ(blockDecoderLevel(), 0);
    EXPECT_TRUE(setBlockDecoderLevel(chosen));
    EXPECT_EQ(blockDecoderLevel(), chosen);
}

}  // namespace
