// The frame decoders' block loops exist once per instruction set (portable, AVX2), and
// playback runs the widest this processor has. Every other set this processor runs must draw the
// same pixels, alpha bytes and redraw tables, decode after decode, as the set playback chooses
// (which track_playback_test holds against a plain reference decoder).
#include <algorithm>
#include <cstring>
#include <random>

#include "mixer/EffectTable.h"
#include "mixer/Random.h"
#include "random_clips.h"
#include "track_clips.h"

using namespace clipwriter;

namespace {

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
    ClipMaker script(seed);
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
        ClipMaker make(seed * 31 + format + hasAlpha);
        uint16_t frames = uint16_t(seed == 1 ? 3 : 20);
        std::string why;
        std::vector<uint8_t> bytes = make.clip(format, hasAlpha, frames).serialise(&why);
        ASSERT_FALSE(bytes.empty()) << why;
        const std::vector<Snapshot> expected = play(chosen, bytes, format, frames, seed);
        for (int level = 0; level <= 1; level++) {
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

// The portable set runs everywhere; a level it does not have is refused and changes nothing.
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
