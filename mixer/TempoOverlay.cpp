#include "mixer/TempoOverlay.h"

#include <cstdio>

#include "core/AppState.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "mixer/BeatLock.h"
#include "mixer/Decks.h"
#include "tempo/TempoClock.h"
#include "tracks/Track.h"

void drawBeatSquares(SDL_Surface* screen, int32_t beat, int32_t x, int32_t y) {
    for (int i = 1; i <= BeatsPerBar; i++) {
        const int32_t colour = i != beat ? uiGrey : (i == 1 ? uiAmber : uiWhite);
        fillRect(screen, x + 10 * (i - 1), y, 8, 4, toRgb565(colour));
    }
}

void drawTempoOverlay() {
    if (!screenSurface) return;
    char text[32];
    fillRect(screenSurface, 250, 5, 42, 15, 0);
    std::snprintf(text, sizeof text, "%.1f", tempoClock.bpm());
    drawText(uiFonts, screenSurface, text, 253, 8, uiGrey, 0);
    // The sound leads the tempo: said left of the box.
    if (tempoClock.followSound && tempoClock.source == TempoSound) {
        fillRect(screenSurface, 228, 5, 22, 15, 0);
        drawText(uiFonts, screenSurface, "snd", 230, 8, uiAmber, 0);
    }
    drawBeatSquares(screenSurface, tempoClock.beatInBar(currentTick), 252, 22);

    if (decks.page != 0) return;
    // On the deck panels, beside the frame counter: the loop's length in beats.
    for (int d = 1; d >= 0; d--) {
        if (!decks.sync[d] || (d == 0 && appState.mode == ModeB)) continue;
        const Deck& k = decks.decks[d];
        const int32_t n = k.track >= 0 && k.track < TrackSlots ? tracks[k.track].frameCount : 0;
        if (n <= 0) continue;
        std::snprintf(text, sizeof text, "sync %g", beatsPerLoop(n, tempoClock.bpm(), decks.targetFps));
        drawText(uiFonts, screenSurface, text, 60, d == 1 ? 50 : 130, uiBlack, 0);
    }
}
