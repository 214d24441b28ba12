// The decks' frame steps (both modes, the queue) and the performance overlay, probed on the screen.
#include <gtest/gtest.h>

#include <SDL/SDL_ttf.h>

#include <cstdlib>

#include "core/AppState.h"
#include "core/Controller.h"
#include "draw/Text.h"
#include "harness/Harness.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "tracks/Track.h"

namespace {

int R(uint16_t p) { return p >> 11; }
int B(uint16_t p) { return p & 31; }

class DeckSteps : public ::testing::Test {
protected:
    Harness h{HarnessOptions::withoutPictures()};
    void SetUp() override {
        decks.resetDecks();
        queuedTrack = 0;
        appState.mode = ModeA;
        const int frames[] = {10, 5, 3, 0};
        for (int i = 0; i < 4; i++) {
            tracks[i].frameCount = uint16_t(frames[i]);
            tracks[i].redrawFrames = 0;
        }
        decks.trackCount = 3;
    }
    Deck& deck(int d) { return decks.decks[d]; }
};

TEST_F(DeckSteps, ResetKeepsOnlyTheScrubFields) {
    decks.selectedDeck = 0;
    deck(0) = Deck{4, 7, 1};
    decks.paused = decks.blendMode = decks.page = decks.overlayShown = 1;
    decks.targetFps = 40;
    decks.flash = 3;
    decks.fade = 9;
    decks.trackCount = 12;
    decks.scrubStartX = 100;
    decks.scrubStartPos = 6;
    decks.scrubbing = 1;
    decks.resetDecks();
    EXPECT_EQ(0, decks.trackCount);
    EXPECT_EQ(1, decks.selectedDeck);
    EXPECT_EQ(0, deck(0).track);
    EXPECT_EQ(0, deck(0).position);
    EXPECT_EQ(0, deck(0).direction);
    EXPECT_EQ(0, decks.paused + decks.blendMode + decks.page + decks.overlayShown + decks.flash + decks.fade);
    EXPECT_EQ(25, decks.targetFps);
    EXPECT_EQ(100, decks.scrubStartX);
    EXPECT_EQ(6, decks.scrubStartPos);
    EXPECT_EQ(1, decks.scrubbing);
}

TEST_F(DeckSteps, AdvanceWrapsBothWays) {
    deck(1) = Deck{0, 8, 0};  // 10 frames, forward
    deck(0) = Deck{1, 1, 1};  // 5 frames, backward
    decks.advance();
    EXPECT_EQ(9, deck(1).position);
    EXPECT_EQ(0, deck(0).position);
    decks.advance();
    EXPECT_EQ(0, deck(1).position) << "forward past the last frame wraps to 0";
    EXPECT_EQ(4, deck(0).position) << "backward from 0 wraps to the last frame";
}

TEST_F(DeckSteps, PauseHoldsThePositionsButNotTheFlash) {
    deck(1) = Deck{0, 3, 0};
    deck(0) = Deck{1, 2, 1};
    decks.paused = 1;
    decks.flash = 15;
    for (int i = 0; i < 16; i++) decks.advance();
    EXPECT_EQ(3, deck(1).position);
    EXPECT_EQ(2, deck(0).position);
    EXPECT_EQ(0, decks.flash) << "15 steps down, then it stays at 0";
    decks.paused = 0;
    decks.flash = 2;
    decks.advanceModeB();
    EXPECT_EQ(1, decks.flash);
}

TEST_F(DeckSteps, ShorterOrEmptyTracksNeverLeaveThePositionOutside) {
    deck(1) = Deck{2, 8, 0};  // put on a 3-frame clip while at frame 8
    decks.advance();
    EXPECT_EQ(0, deck(1).position);
    deck(1) = Deck{2, 8, 1};
    decks.advance();
    EXPECT_EQ(2, deck(1).position);
    deck(1) = Deck{3, 0, 1};  // a slot with no frames
    decks.advance();
    EXPECT_EQ(0, deck(1).position);
    deck(1) = Deck{3, 0, 0};
    decks.advance();
    EXPECT_EQ(0, deck(1).position);
    deck(1) = Deck{99, 0, 1};  // not a slot at all
    decks.advance();
    EXPECT_EQ(0, deck(1).position);
}

TEST_F(DeckSteps, ModeBSwitchesToTheQueuedTrackAtClipEnd) {
    appState.mode = ModeB;
    deck(0) = Deck{1, 2, 0};
    deck(1) = Deck{0, 8, 0};
    queuedTrack = 2;
    decks.advanceModeB();
    EXPECT_EQ(0, deck(1).track);
    EXPECT_EQ(9, deck(1).position);
    decks.advanceModeB();
    EXPECT_EQ(2, deck(1).track);
    EXPECT_EQ(0, deck(1).position);
    EXPECT_EQ(1, tracks[2].redrawFrames);
    EXPECT_EQ(2, deck(0).position) << "deck 0 never moves in mode B";

    // Queued equal to the current track: the clip restarts.
    deck(1) = Deck{0, 9, 0};
    queuedTrack = 0;
    decks.advanceModeB();
    EXPECT_EQ(0, deck(1).track);
    EXPECT_EQ(0, deck(1).position);
    EXPECT_EQ(1, tracks[0].redrawFrames);

    // Backward loops without switching.
    deck(1) = Deck{0, 0, 1};
    queuedTrack = 2;
    decks.advanceModeB();
    EXPECT_EQ(0, deck(1).track);
    EXPECT_EQ(9, deck(1).position);
}

TEST_F(DeckSteps, SwitchToQueued) {
    deck(1) = Deck{1, 3, 0};
    queuedTrack = 1;
    decks.switchToQueued();
    EXPECT_EQ(3, deck(1).position) << "already playing: not restarted";
    EXPECT_EQ(0, tracks[1].redrawFrames);

    decks.trackCount = 5;
    queuedTrack = 7;
    decks.switchToQueued();
    EXPECT_EQ(0, queuedTrack);
    EXPECT_EQ(0, deck(1).track);
    EXPECT_EQ(0, deck(1).position);
    EXPECT_EQ(1, tracks[0].redrawFrames);

    queuedTrack = 2;
    decks.switchToQueued();
    EXPECT_EQ(2, deck(1).track);
}

// The overlay, drawn over a white screen so that every box and panel shows.
class Overlay : public ::testing::Test {
protected:
    Harness h;
    void SetUp() override {
        decks.resetDecks();
        effectTable.clearEffects();
        appState.mode = ModeA;
        decks.overlayShown = 1;
        decks.trackCount = 2;
        tracks[0].name = "sets/loop01.q18";
        tracks[0].frameCount = 10;
        tracks[1].name = "a\\b.q17";
        tracks[1].frameCount = 4;
        SDL_FillRect(screenSurface, nullptr, 0);
    }
    bool blue(int x, int y) { return B(h.pixel(x, y)) > R(h.pixel(x, y)) + 5; }
    bool white(int x, int y) {
        uint16_t p = h.pixel(x, y);
        return p != 0 && std::abs(R(p) - B(p)) <= 1;
    }
    bool black(int x, int y) { return h.pixel(x, y) == 0; }
    int textWidth(const char* s) {
        int w = 0, hgt = 0;
        TTF_SizeText(uiFonts[0], s, &w, &hgt);
        return w;
    }
};

TEST_F(Overlay, HiddenDrawsNothing) {
    SDL_FillRect(screenSurface, nullptr, 0xFFFF);
    decks.overlayShown = 0;
    const uint32_t before = h.screenChecksum();
    decks.drawOverlay();
    EXPECT_EQ(before, h.screenChecksum());
}

TEST_F(Overlay, FrameRateBoxAndModeBLines) {
    SDL_FillRect(screenSurface, nullptr, 0xFFFF);
    decks.drawOverlay();
    EXPECT_EQ(0, h.pixel(296, 6));
    EXPECT_EQ(0, h.pixel(314, 19));
    EXPECT_EQ(0xFFFF, h.pixel(296, 58)) << "no key box in mode A";
    EXPECT_EQ(0xFFFF, h.pixel(262, 41)) << "no wait label in mode A";

    appState.mode = ModeB;
    appState.waitForClipEnd = 0;
    SDL_FillRect(screenSurface, nullptr, 0xFFFF);
    decks.drawOverlay();
    EXPECT_EQ(0, h.pixel(296, 58));
    EXPECT_EQ(0, h.pixel(262, 41)) << "\"don't wait\" box starts one pixel left of x 263";

    appState.waitForClipEnd = 1;
    SDL_FillRect(screenSurface, nullptr, 0xFFFF);
    decks.drawOverlay();
    EXPECT_EQ(0xFFFF, h.pixel(262, 41));
    EXPECT_EQ(0, h.pixel(292, 41)) << "\"wait\" box starts at x 292";
    appState.waitForClipEnd = 0;
}

TEST_F(Overlay, DecksPageShowsBothDecksInModeAOnlyDeckOneInModeB) {
    decks.drawOverlay();
    EXPECT_TRUE(blue(90, 85)) << "deck 1 selected";
    EXPECT_TRUE(white(90, 165));

    decks.selectedDeck = 0;
    SDL_FillRect(screenSurface, nullptr, 0);
    decks.drawOverlay();
    EXPECT_TRUE(white(90, 85));
    EXPECT_TRUE(blue(90, 165));

    appState.mode = ModeB;
    SDL_FillRect(screenSurface, nullptr, 0);
    decks.drawOverlay();
    EXPECT_TRUE(white(90, 85));
    EXPECT_TRUE(black(90, 165)) << "no deck-0 panel in mode B";
}

TEST_F(Overlay, TrackNameAfterTheLastSlashOrBackslash) {
    // The label's white box ends one pixel after the text: its width gives away the text drawn.
    const int w = textWidth("loop01.q18");
    ASSERT_GT(w, 0);
    decks.drawOverlay();
    EXPECT_EQ(0xFFFF, h.pixel(6 + w, 22));
    EXPECT_NE(0xFFFF, h.pixel(7 + w, 22));

    decks.decks[1].track = 1;
    const int w2 = textWidth("b.q17");
    SDL_FillRect(screenSurface, nullptr, 0);
    decks.drawOverlay();
    EXPECT_EQ(0xFFFF, h.pixel(6 + w2, 22));
    EXPECT_NE(0xFFFF, h.pixel(7 + w2, 22));
}

TEST_F(Overlay, BlendPageHighlightsTheCurrentMode) {
    struct { int x, y, id; } panels[] = {{5, 20, 0}, {110, 20, 2}, {215, 20, 1},
                                         {5, 125, 4}, {110, 125, 3}, {215, 125, 6}};
    decks.page = 1;
    for (int mode : {0, 1, 2, 3, 4, 6}) {
        decks.blendMode = mode;
        SDL_FillRect(screenSurface, nullptr, 0);
        decks.drawOverlay();
        for (auto& p : panels) {
            EXPECT_EQ(p.id == mode, blue(p.x + 80, p.y + 80)) << "mode " << mode << " panel " << p.id;
            EXPECT_TRUE(blue(p.x + 80, p.y + 80) || white(p.x + 80, p.y + 80));
        }
    }
}

TEST_F(Overlay, EffectsPageShowsTheSelectedDecksSlots) {
    decks.page = 2;
    effectTable.selectedSlot = 0;
    effectTable.slots[1][0] = EffectSlot{1, 2, 0, 0};
    decks.drawOverlay();
    EXPECT_TRUE(white(140, 100));
    for (int v = 0; v < 4; v++) EXPECT_EQ(v == 2, blue(40 + 80 * v, 200)) << "value panel " << v;

    // "ON" appears under the name of a slot that is on.
    auto inkUnderSlot0 = [&] {
        int n = 0;
        for (int y = 40; y < 50; y++)
            for (int x = 60; x < 80; x++) n += h.pixel(x, y) == 0;
        return n;
    };
    EXPECT_EQ(0, inkUnderSlot0());
    effectTable.slots[1][0].on = 1;
    SDL_FillRect(screenSurface, nullptr, 0);
    decks.drawOverlay();
    EXPECT_GT(inkUnderSlot0(), 0);

    // Deck 0's row when deck 0 is selected.
    decks.selectedDeck = 0;
    effectTable.slots[0][0] = EffectSlot{1, 0, 0, 0};
    SDL_FillRect(screenSurface, nullptr, 0);
    decks.drawOverlay();
    EXPECT_TRUE(blue(40, 200));
    EXPECT_EQ(0, inkUnderSlot0());
}

}  // namespace
