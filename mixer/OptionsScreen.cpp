// The options screen's three views: filters onto the button picture (with the beat's settings),
// the glove keys, and the prompt while a key is being taught.
#include <SDL/SDL.h>

#include <cstdio>

#include "core/AppState.h"
#include "core/Controller.h"
#include "core/KeyHints.h"
#include "draw/Colours.h"
#include "draw/KeyDiamond.h"
#include "draw/Text.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "mixer/Options.h"
#include "mixer/TempoOverlay.h"
#include "tempo/TempoClock.h"

LearnPageHooks learnPageHooks;
LearnPageHooks memoriesPageHooks;

namespace {

void drawCheckBox(SDL_Surface* screen, SDL_Surface* texture, int32_t on, const char* label, int32_t y) {
    blitPiece(texture, 96, on ? 16 : 0, 16, 16, screen, 20, y);
    drawText(uiFonts, screen, label, 40, y + 2, uiWhite, 0);
}

// Beat-locked decks, the beat flash, what a waiting trigger waits for, and the tap button with the
// tempo and the beat of the bar.
void drawBeatSettings(Options& o, SDL_Surface* screen, SDL_Surface* texture) {
    static const char* const flashes[3] = {"beat flash: off", "beat flash: every beat", "beat flash: every bar"};
    static const char* const waits[3] = {"wait for: clip end", "wait for: beat", "wait for: bar"};
    drawCheckBox(screen, texture, decks.sync[1], "sync deck 1", 122);
    drawCheckBox(screen, texture, decks.sync[0], "sync deck 0", 138);
    drawText(uiFonts, screen, flashes[o.beatFlash >= 0 && o.beatFlash < 3 ? o.beatFlash : 0], 20, 158, uiWhite, 0);
    const int32_t q = appState.quantise;
    drawText(uiFonts, screen, waits[q >= 0 && q < 3 ? q : 0], 20, 172, uiWhite, 0);

    fillRect(screen, 170, 140, 140, 40, toRgb565(0x222222));
    drawText(uiFonts, screen, "tap", 178, 146, uiPink, 0);
    char bpm[32];
    std::snprintf(bpm, sizeof bpm, "%.1f BPM", tempoClock.bpm());
    drawText(uiFonts, screen, bpm, 178, 162, uiBlue, 0);
    drawBeatSquares(screen, tempoClock.beatInBar(currentTick), 250, 148);
    // Inside the tap box, right of the BPM: the lines under the box are the projector's.
    drawText(uiFonts, screen, tempoClock.followSound ? "from: sound" : "from: taps", 244, 162, uiWhite, 0);
}

// The projector's fit and look, each a line that a touch moves to the next choice.
void drawProjectorSettings(const Options& o, SDL_Surface* screen) {
    static const char* const fits[3] = {"projector: letterbox", "projector: fill", "projector: stretch"};
    static const char* const looks[2] = {"projector: sharp", "projector: smooth"};
    drawText(uiFonts, screen, fits[o.projectorFit >= 0 && o.projectorFit < 3 ? o.projectorFit : 0], 170, 184, uiWhite, 0);
    drawText(uiFonts, screen, looks[o.projectorLook == 1 ? 1 : 0], 170, 198, uiWhite, 0);
}

void drawFiltersView(Options& o, SDL_Surface* screen, SDL_Surface* texture) {
    SDL_FillRect(screen, nullptr, 0);
    blitPiece(o.abxyImage, 0, 0, 96, 96, screen, 18, 18);
    if (o.abxyImage) labelDiamondKeys(screen, 18, 18);

    // The top, right, bottom and left buttons of the picture.
    static const int32_t spots[4][2] = {{74, 24}, {106, 56}, {74, 88}, {42, 56}};
    for (int s = 0; s < 4; s++) {
        const int32_t id = effectTable.slots[0][s].effectId;
        if (id != 0) drawTextSmooth(uiFonts, screen, filterName(id), spots[s][0], spots[s][1], uiAmber, 0);
    }

    fillRect(screen, 160, 0, 160, 130, toRgb565(0x222222));
    drawText(uiFonts, screen, "filters", 167, 10, uiPink, 0);
    for (int id = 0; id < 10; id++) drawTextSmooth(uiFonts, screen, filterName(id), 167, 25 + 10 * id, uiBlue, 0);

    if (appState.mode == ModeB) blitPiece(texture, 48, 32, 48, 16, screen, 5, 219);

    drawBeatSettings(o, screen, texture);
    drawProjectorSettings(o, screen);

    const int32_t ticked = o.showTopLine ? 1 : 0;
    blitPiece(texture, 96, 16 * ticked, 16, 16, screen, 20, 190);
    drawText(uiFonts, screen, "show top white line", 40, 192, uiWhite, 0);

    if (o.dragging) {
        const int32_t x = controller.touchX, y = controller.touchY;
        fillRect(screen, x - 2, y, 60, 10, toRgb565(uiBlue));
        drawTextSmooth(uiFonts, screen, filterName(o.pickedFilter), x, y, uiBlack, 0);
    }

    if (appState.mode == ModeB) drawText(uiFonts, screen, "mode B", 5, 5, uiWhite, 0);
    if (learnPageHooks.draw) drawLabel(uiFonts, screen, "MIDI learn", 74, 220, uiBlack, 0, uiAmber);
    // In the bottom bar, between MIDI learn and HOME: the lines under the tap button are the projector's.
    if (memoriesPageHooks.draw) drawLabel(uiFonts, screen, "memories", 152, 220, uiBlack, 0, uiAmber);
}

void drawKeysView(Options& o, SDL_Surface* screen) {
    char text[32];
    drawTextSmooth(uiFonts, screen, "wait / don't wait", 20, 20, uiWhite, 0);
    drawTextSmooth(uiFonts, screen, keyName(o.keys[0]).c_str(), 130, 20, uiWhite, 0);
    for (int k = 1; k < 16; k++) {
        const int32_t y = 20 + 13 * k;
        std::snprintf(text, sizeof text, "go to track %d", k + 1);
        drawTextSmooth(uiFonts, screen, text, 20, y, uiWhite, 0);
        drawTextSmooth(uiFonts, screen, keyName(o.keys[k]).c_str(), 130, y, uiWhite, 0);
    }
}

}  // namespace

void drawOptions(Options& o, SDL_Surface* screen, SDL_Surface* texture) {
    if (!screen) return;
    SDL_FillRect(screen, nullptr, 0);
    switch (o.view) {
    case FiltersView: drawFiltersView(o, screen, texture); break;
    case KeysView: drawKeysView(o, screen); break;
    case LearnView:
        if (learnPageHooks.draw) learnPageHooks.draw(screen);
        break;
    case MemoriesView:
        if (memoriesPageHooks.draw) memoriesPageHooks.draw(screen);
        break;
    case WaitingForKeyView: {
        drawText(uiFonts, screen, "waiting for input...", 40, 40, uiWhite, 0);
        drawNumber(uiFonts, screen, o.keyToAssign + 1, 40, 53, uiWhite, 0);
        if (o.refusedInput >= 0 && o.refusedInput < InputCount) {
            char text[96];
            std::snprintf(text, sizeof text, "%s is a console control: press another key", controlName(Input(o.refusedInput)));
            drawText(uiFonts, screen, text, 40, 80, uiAmber, 0);
        }
        std::string cancel = std::string(controlName(ButtonHome)) + " cancels";
        drawText(uiFonts, screen, cancel.c_str(), 40, 100, uiGrey, 0);
        break;
    }
    default: break;
    }
    blitPiece(texture, 0, 32, 48, 16, screen, 267, 219);
}
