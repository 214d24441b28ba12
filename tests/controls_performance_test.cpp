// The performance screen's handlers driven frame by frame: mode A's decks, rate, blend and effects
// pages and scrubbing; mode B's clip triggers from buttons, the stylus and glove keys.
#include <gtest/gtest.h>

#include "core/AppState.h"
#include "core/Controller.h"
#include "controls/Screens.h"
#include "controls_input.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Options.h"
#include "tracks/Track.h"

namespace {

class Performance : public ::testing::Test {
protected:
    void SetUp() override {
        controller.clear();
        decks.resetDecks();
        decks.scrubStartX = decks.scrubStartPos = decks.scrubbing = 0;
        effectTable.clearEffects();
        appState.mode = ModeA;
        appState.screen = Screen::Mix;
        appState.mixView = Performing;
        appState.waitForClipEnd = 0;
        queuedTrack = 0;
        for (int32_t& k : options.keys) k = 0;
        for (Track& t : tracks) t.frameCount = 0;
    }
    // n playable tracks of the given length.
    void load(int n, int frames) {
        decks.trackCount = n;
        for (int i = 0; i < n; i++) tracks[i].frameCount = uint16_t(frames);
    }
    void a(std::initializer_list<Input> down = {}) { pad.frame(down, handleModeA); }
    void b(std::initializer_list<Input> down = {}) { pad.frame(down, handleModeB); }
    Deck& deck(int d) { return decks.decks[d]; }
    Pad pad;
};

TEST_F(Performance, StickSwitchesTheSelectedDecksTrackWithWrapping) {
    a({StickLeft});
    EXPECT_EQ(deck(1).track, 0) << "no tracks: StickLeft leaves the deck";
    deck(1).position = 4;
    a({StickRight});
    EXPECT_EQ(deck(1).track, 0);
    EXPECT_EQ(deck(1).position, 0) << "StickRight with no tracks still restarts at frame 0";

    load(3, 10);
    deck(1).position = 5;
    a({StickLeft});
    EXPECT_EQ(deck(1).track, 2);
    EXPECT_EQ(deck(1).position, 0);
    a({StickLeft});  // held: no second step
    EXPECT_EQ(deck(1).track, 2);
    a();
    a({StickRight});
    EXPECT_EQ(deck(1).track, 0);
    EXPECT_EQ(deck(0).track, 0) << "only the selected deck moves";

    // After the chooser freed the tracks the deck can sit past the new count: stepping lands inside.
    deck(1).track = 7;
    a();
    a({StickRight});
    EXPECT_EQ(deck(1).track, 0);
    deck(1).track = 7;
    a();
    a({StickLeft});
    EXPECT_EQ(deck(1).track, 2);
}

TEST_F(Performance, StickDownSwapsDecksAndTheirFiltersUnlessButtonBArmsTheRate) {
    load(4, 10);
    deck(0) = {1, 3, 0};
    deck(1) = {2, 7, 1};
    effectTable.slots[0][2] = {5, 1, 1, 11};
    effectTable.slots[1][2] = {7, 3, 0, 22};
    effectTable.selectedSlot = 2;
    a({StickDown});
    EXPECT_EQ(deck(0).track, 2);
    EXPECT_EQ(deck(0).position, 7);
    EXPECT_EQ(deck(0).direction, 1);
    EXPECT_EQ(deck(1).track, 1);
    EXPECT_EQ(deck(1).position, 3);
    EXPECT_EQ(effectTable.slots[0][2].effectId, 7);
    EXPECT_EQ(effectTable.slots[0][2].value, 3);
    EXPECT_EQ(effectTable.slots[0][2].on, 0);
    EXPECT_EQ(effectTable.slots[0][2].param, 11) << "SCROLL's offset stays with its deck";
    EXPECT_EQ(effectTable.slots[1][2].effectId, 5);
    EXPECT_EQ(effectTable.selectedSlot, 2);
}

TEST_F(Performance, RateFollowsTheStickOnlyWhileButtonBIsHeld) {
    load(2, 10);
    deck(1).track = 1;
    a({ButtonB});
    EXPECT_EQ(decks.targetFps, 25) << "the first frame of B only arms it";
    a({ButtonB});
    EXPECT_EQ(decks.targetFps, 25);
    a({ButtonB, StickDown});
    EXPECT_EQ(decks.targetFps, 10);
    EXPECT_EQ(deck(1).track, 1) << "no swap while B is down";
    a({ButtonB, StickDown, StickUp});
    EXPECT_EQ(decks.targetFps, 10) << "both directions: the slower wins";
    a({ButtonB, StickUp});
    EXPECT_EQ(decks.targetFps, 40);
    EXPECT_EQ(effectTable.slots[1][0].on, 0) << "StickUp with B down toggles no effect";
    a({ButtonB, StickUp, ButtonR});
    EXPECT_EQ(decks.targetFps, 25) << "the effects page disarms the rate";
    a();
    EXPECT_EQ(decks.targetFps, 25);
    // B pressed in the same frame as StickDown: not held yet, not up either.
    a({ButtonB, StickDown});
    EXPECT_EQ(decks.targetFps, 25);
    EXPECT_EQ(deck(1).track, 1);
}

TEST_F(Performance, DirectionFlashFadeAndFreeze) {
    a({ButtonX});
    EXPECT_EQ(deck(1).direction, 1);
    a({ButtonX});
    EXPECT_EQ(deck(1).direction, 1) << "held X does not toggle again";
    a({ButtonY});
    EXPECT_EQ(decks.flash, 15);
    for (int i = 0; i < 20; i++) a({ButtonA});
    EXPECT_EQ(decks.fade, 15);
    a({ButtonA, ButtonR});
    EXPECT_EQ(decks.fade, 14) << "A on the effects page picks a slot instead of fading";
    a({ButtonII});
    EXPECT_EQ(decks.paused, 1);
    EXPECT_EQ(decks.fade, 13);
    a();
    EXPECT_EQ(decks.paused, 0);
}

TEST_F(Performance, ButtonITogglesTheOverlayOnlyWhenItIsTheOnlyInput) {
    a({ButtonI});
    EXPECT_EQ(decks.overlayShown, 1);
    a({ButtonI});
    EXPECT_EQ(decks.overlayShown, 1) << "held";
    a();
    a({ButtonI, ButtonII});
    EXPECT_EQ(decks.overlayShown, 1) << "pressed with another input";
    a();
    a({ButtonL});
    a({ButtonL, ButtonI});
    EXPECT_EQ(decks.overlayShown, 1) << "pressed while another input is held";
    a();
    a({ButtonI});
    EXPECT_EQ(decks.overlayShown, 0);
}

TEST_F(Performance, BlendPagePicksTheModeUnderTheStylus) {
    const struct { int x, y, mode; } picks[] = {
        {50, 80, 0}, {150, 80, 2}, {250, 10, 1}, {50, 200, 4}, {150, 200, 3}, {300, 234, 6}};
    for (const auto& p : picks) {
        pad.touch(p.x, p.y);
        a({ButtonL});
        EXPECT_EQ(decks.page, 1);
        EXPECT_EQ(decks.blendMode, p.mode) << p.x << "," << p.y;
        pad.lift();
        a({ButtonL});
    }
    pad.touch(107, 80);  // the gap between two buttons
    a({ButtonL});
    EXPECT_EQ(decks.blendMode, 6);
    pad.lift();
    a();
    EXPECT_EQ(decks.page, 0);
}

TEST_F(Performance, EffectsPageSelectsSlotsSetsValuesAndStickUpToggles) {
    a({ButtonR, ButtonB});
    EXPECT_EQ(decks.page, 2);
    EXPECT_EQ(effectTable.selectedSlot, 1);
    a();
    a({ButtonR, ButtonY, ButtonA});
    EXPECT_EQ(effectTable.selectedSlot, 3) << "the last in Y, B, X, A order wins";
    EXPECT_EQ(decks.flash, 0) << "Y on the effects page does not flash";
    pad.touch(250, 200);
    a({ButtonR});
    EXPECT_EQ(effectTable.slots[1][3].value, 3);
    pad.lift();
    a({ButtonR});
    pad.touch(100, 119);  // above the value buttons
    a({ButtonR});
    EXPECT_EQ(effectTable.slots[1][3].value, 3);
    pad.lift();
    a();
    a({StickUp});
    EXPECT_EQ(effectTable.slots[1][3].on, 1);
    EXPECT_EQ(effectTable.slots[0][3].on, 0);
    a();
    a({ButtonL});
    a({ButtonL, StickUp});
    EXPECT_EQ(effectTable.slots[1][3].on, 1) << "not on the blend page";
}

TEST_F(Performance, TouchingADeckPanelSelectsItOnPageZeroOnly) {
    pad.touch(50, 150);
    a();
    EXPECT_EQ(decks.selectedDeck, 0);
    pad.lift();
    a();
    pad.touch(50, 50);
    a({ButtonR});
    EXPECT_EQ(decks.selectedDeck, 0);
    pad.lift();
    a();
    pad.touch(160, 20);
    a();
    EXPECT_EQ(decks.selectedDeck, 1);
}

TEST_F(Performance, ScrubMovesFivePixelsPerFrameAndWrapsInsideTheClip) {
    load(1, 20);
    deck(1).position = 10;
    pad.touch(100, 200);
    a();
    EXPECT_EQ(decks.scrubbing, 1);
    pad.move(112, 200);
    a();
    EXPECT_EQ(deck(1).position, 12) << "+12 pixels: 2 frames";
    pad.move(96, 200);
    a();
    EXPECT_EQ(deck(1).position, 10) << "-4 pixels: none";
    pad.move(45, 200);
    a();
    EXPECT_EQ(deck(1).position, 19) << "-11 frames wraps backward";
    // A stroke longer than the clip lands inside it, never past its last frame.
    pad.move(319, 200);
    a();
    EXPECT_EQ(deck(1).position, (10 + 219 / 5) % 20);
    tracks[0].frameCount = 3;
    pad.move(0, 200);
    a();
    EXPECT_EQ(deck(1).position, ((10 - 20) % 3 + 3) % 3);

    a({ButtonL});
    const int32_t kept = deck(1).position;
    pad.move(60, 200);
    a({ButtonL});
    EXPECT_EQ(deck(1).position, kept) << "the blend page stops the scrub from following";
    pad.lift();
    a();
    EXPECT_EQ(decks.scrubbing, 0);

    tracks[0].frameCount = 0;  // an empty slot keeps its position
    pad.touch(0, 239);
    a();
    pad.move(100, 239);
    a();
    EXPECT_EQ(deck(1).position, kept);
}

TEST_F(Performance, HomeOpensTheChooserOverTheRunningDecks) {
    load(2, 10);
    deck(1) = {1, 4, 0};
    a({ButtonHome});
    EXPECT_EQ(appState.mixView, ChoosingPlaylist);
    EXPECT_EQ(deck(1).track, 1);
    EXPECT_EQ(deck(1).position, 4);
    appState.mixView = Performing;
    appState.mode = ModeB;
    b();
    b({ButtonHome});
    EXPECT_EQ(appState.mixView, ChoosingPlaylist);
}

TEST_F(Performance, ModeBButtonsCutToTheirClipsAtOnceWithoutWait) {
    load(3, 10);
    deck(1).position = 6;
    b({ButtonY});
    EXPECT_EQ(queuedTrack, 1);
    EXPECT_EQ(deck(1).track, 1);
    EXPECT_EQ(deck(1).position, 0);
    b({ButtonY});
    EXPECT_EQ(queuedTrack, 1) << "stays queued while held";
    b();
    EXPECT_EQ(queuedTrack, 0) << "every input released";
    EXPECT_EQ(deck(1).track, 1) << "the playing clip goes on";

    b({ButtonY, ButtonB});
    EXPECT_EQ(deck(1).track, 2) << "both applied, B last";
    b();
    load(1, 10);
    b({ButtonY});
    EXPECT_EQ(queuedTrack, 0) << "track 1 is not loaded";
    EXPECT_EQ(deck(1).track, 0);
    EXPECT_EQ(deck(1).position, 0);
}

TEST_F(Performance, ModeBWithWaitOnlyQueues) {
    load(12, 10);
    deck(1).position = 6;
    pad.touch(50, 50);
    b();
    EXPECT_EQ(appState.waitForClipEnd, 1);
    pad.lift();
    b();
    b({StickLeft});
    EXPECT_EQ(queuedTrack, 10);
    EXPECT_EQ(deck(1).track, 0);
    EXPECT_EQ(deck(1).position, 6);
}

TEST_F(Performance, ModeBStylusInTheTopRightPlaysBackwardWhileDown) {
    pad.touch(300, 50);
    b();
    EXPECT_EQ(deck(1).direction, 1);
    pad.move(150, 150);
    b();
    EXPECT_EQ(deck(1).direction, 1) << "dragged away: unchanged";
    pad.lift();
    b();
    EXPECT_EQ(deck(1).direction, 0);
    pad.touch(150, 150);
    b();
    EXPECT_EQ(deck(1).direction, 0);
}

TEST_F(Performance, GloveKeysToggleWaitAndQueueTracksWhileHeld) {
    load(6, 10);
    options.keys[0] = 'w';
    options.keys[3] = 273;
    options.keys[4] = 273;
    pad.key('w');
    b();
    EXPECT_EQ(appState.waitForClipEnd, 1);
    b();
    EXPECT_EQ(appState.waitForClipEnd, 1) << "a held wait key does not toggle again";
    pad.keyRelease();
    b();
    pad.key(273);
    b();
    EXPECT_EQ(queuedTrack, 3) << "the first matching entry";
    EXPECT_EQ(deck(1).track, 0) << "wait: queued only";
    b();
    EXPECT_EQ(queuedTrack, 3) << "kept while the key is held, though no button is down";
    pad.keyRelease();
    b();
    EXPECT_EQ(queuedTrack, 0);

    pad.key('w');
    b();
    EXPECT_EQ(appState.waitForClipEnd, 0);
    pad.keyRelease();
    pad.key(273);
    b();
    EXPECT_EQ(deck(1).track, 3);
}

}  // namespace
