// What the beat does on screen, whole frames with the harness's fake clock: mode-B triggers that
// wait for the next beat or bar, beat-locked loops (forward, backward, the rate controls, ten
// minutes without drift), the beat flash and the overlay's beat, the desktop tap key, and the
// options screen's beat settings.
#include <gtest/gtest.h>

#include <cmath>

#include "core/AppState.h"
#include "core/Platform.h"
#include "draw/Colours.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "mixer/BeatLock.h"
#include "mixer/Decks.h"
#include "mixer/Options.h"
#include "tempo/TempoClock.h"
#include "tracks/Track.h"

namespace {

constexpr int32_t ClipFrames = 50;  // 2 s at 25 frames per second: 4.3 beats at 128 BPM, so 4

class Beat : public ::testing::Test {
protected:
    Harness h{HarnessOptions::withoutPictures()};
    void SetUp() override {
        // Three clips the decks can play; they are never decoded, only stepped.
        mix._totalTracks = 3;
        for (int i = 0; i < 3; i++) tracks[i].frameCount = ClipFrames;
        appState.screen = Screen::Mix;
        appState.mixView = Performing;
        h.frame();
        ASSERT_TRUE(tempoClock.setTempo(128, now()));
    }
    void TearDown() override {
        for (int i = 0; i < 3; i++) tracks[i].frameCount = 0;
        mix._totalTracks = 0;
    }
    static double now() { return platform::ticks(); }
    static double beat() { return tempoClock.beatAt(now()); }
    // Frames until the beat position reaches b; the first frame at or after it is the last run.
    void frameUntil(double b) {
        while (beat() < b) h.frame();
    }
    Deck& deck1() { return decks.decks[1]; }
};

int32_t lockedFrame(double beat, double beats) {
    const double phase = beat / beats;
    return int32_t((phase - std::floor(phase)) * ClipFrames);
}

TEST_F(Beat, AWaitingTriggerSwitchesOnTheFirstFrameAtOrAfterTheBeatOrBar) {
    for (int32_t q : {QuantiseBeat, QuantiseBar}) {
        appState.mode = ModeB;
        appState.waitForClipEnd = 1;
        appState.quantise = q;
        deck1().track = 0;
        frameUntil(std::floor(beat()) + 5.3);
        h.tap(ButtonB);  // clip 2
        h.frame();
        const double unit = q == QuantiseBar ? BeatsPerBar : 1;
        const double target = std::ceil(beat() / unit) * unit;
        double before = beat();
        while (deck1().track != 2 && beat() < target + 1) {
            before = beat();
            h.frame();
        }
        EXPECT_EQ(2, deck1().track) << q;
        EXPECT_LT(before, target) << q << ": not before the beat";
        EXPECT_GE(beat(), target) << q;
        EXPECT_LE((beat() - target) * tempoClock.beatMs, 1000.0 / 26 + 1) << q << ": within one frame";
    }
}

TEST_F(Beat, ALockedLoopFollowsTheBeatBothWaysAndWithTheRateControls) {
    appState.mode = ModeA;
    decks.sync[1] = 1;
    frameUntil(std::ceil(beat() / 4) * 4);  // a downbeat
    tempoClock.originMs = now() + 10;  // beat 0 falls 10 ms before the next frame
    h.tap(StickRight);                 // the next clip starts on that frame
    h.frame();
    ASSERT_EQ(1, deck1().track);
    EXPECT_EQ(4.0, beatsPerLoop(ClipFrames, 128, 25));
    for (int i = 0; i < 80; i++) {
        EXPECT_EQ(lockedFrame(beat(), 4), deck1().position) << "frame " << i;
        h.frame();
    }

    // The rate controls halve and double the loop while held; the loop stays on the bar grid.
    h.setDown(ButtonB, true);
    h.frame(2);
    for (Input rate : {StickUp, StickDown}) {
        h.setDown(rate, true);
        h.frame();
        const double beats = rate == StickUp ? 2 : 8;
        EXPECT_EQ(beats, beatsPerLoop(ClipFrames, 128, decks.targetFps));
        for (int i = 0; i < 40; i++, h.frame()) EXPECT_EQ(lockedFrame(beat(), beats), deck1().position);
        h.setDown(rate, false);
    }
    h.setDown(ButtonB, false);

    // Backward: the frame on the deck stays, and the loop runs down at the same pace.
    h.frame();
    const int32_t turnedAt = deck1().position;
    h.tap(ButtonX);
    h.frame();
    EXPECT_EQ(1, deck1().direction);
    EXPECT_EQ(turnedAt, deck1().position);
    int32_t last = deck1().position;
    double lastBeat = beat();
    for (int i = 0; i < 60; i++) {
        h.frame();
        const int32_t moved = (last - deck1().position + ClipFrames) % ClipFrames;
        const double expected = (beat() - lastBeat) / 4 * ClipFrames;
        EXPECT_NEAR(expected, moved, 1.0) << "frame " << i;
        last = deck1().position;
        lastBeat = beat();
    }
}

TEST_F(Beat, ALoopStartedOnTheDownbeatIsOnTheDownbeatAfterTenMinutes) {
    appState.mode = ModeA;
    decks.sync[1] = 1;
    frameUntil(std::ceil(beat() / 4) * 4);
    const double start = std::round(beat());
    tempoClock.originMs = now() + 10 - start * tempoClock.beatMs;  // a downbeat 10 ms before the next frame
    h.tap(StickRight);
    h.frame();
    ASSERT_EQ(0, deck1().position);
    const double tenMinutes = start + 128 * 10;  // 1280 beats: 320 loops of 4 beats
    int32_t before = -1;
    while (beat() < tenMinutes) {
        before = deck1().position;
        h.frame();
    }
    EXPECT_EQ(ClipFrames - 1, before);
    EXPECT_EQ(0, deck1().position) << "the first frame at or after the downbeat shows the clip's first frame";
    EXPECT_LE((beat() - tenMinutes) * tempoClock.beatMs, 1000.0 / 26 + 1);
}

TEST_F(Beat, TheFlashFallsOnEveryBeatOrEveryBarAndTheOverlayShowsTheBeat) {
    for (int32_t every : {BeatFlashEveryBeat, BeatFlashEveryBar}) {
        options.beatFlash = every;
        const int unit = every == BeatFlashEveryBar ? BeatsPerBar : 1;
        int flashes = 0;
        for (int i = 0; i < 100; i++) {
            const double before = std::floor(beat() / unit);
            decks.flash = 0;
            h.frame();
            const bool crossed = std::floor(beat() / unit) != before;
            EXPECT_EQ(crossed ? 15 : 0, decks.flash) << "every " << unit << ", frame " << i;
            flashes += crossed;
        }
        EXPECT_GT(flashes, 0);
    }

    decks.overlayShown = 1;
    decks.drawOverlay();
    const int32_t b = tempoClock.beatInBar(currentTick);
    for (int i = 1; i <= 4; i++) {
        const int32_t lit = i == 1 ? uiAmber : uiWhite;
        EXPECT_EQ(toRgb565(i == b ? lit : uiGrey), h.pixel(252 + 10 * (i - 1), 22)) << "square " << i;
    }
}

TEST_F(Beat, TheTapKeyTimesItsPressesAndNeverReachesTheGloveKeys) {
    for (int i = 0; i < 4; i++) {
        h.keyDown(platform::TapKey);
        h.keyDown(platform::TapKey);  // key repeat: no second tap
        h.callAfter(250);
        h.keyUp(platform::TapKey);
        h.callAfter(250);
    }
    h.frame();
    EXPECT_NEAR(120.0, tempoClock.bpm(), 0.5);
    EXPECT_EQ(TempoTaps, tempoClock.source);
    EXPECT_EQ(0, controller.key);
}

TEST_F(Beat, TheOptionsScreenSetsTheBeatSettings) {
    appState.screen = Screen::Options;
    options.view = FiltersView;
    auto touch = [&](int x, int y) {
        h.touchDown(x, y);
        h.frame();
        h.touchUp();
        h.frame();
    };
    touch(30, 128);
    touch(30, 144);
    EXPECT_EQ(1, decks.sync[1]);
    EXPECT_EQ(1, decks.sync[0]);
    touch(30, 160);
    EXPECT_EQ(BeatFlashEveryBeat, options.beatFlash);
    touch(30, 176);
    touch(30, 176);
    EXPECT_EQ(QuantiseBar, appState.quantise);
    for (int i = 0; i < 4; i++) {
        h.touchDown(200, 160);
        h.callAfter(100);
        h.touchUp();
        h.callAfter(400);
    }
    EXPECT_NEAR(120.0, tempoClock.bpm(), 0.5) << "the tap button";
}

}  // namespace
