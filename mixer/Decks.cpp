// The decks' frame steps and the performance overlay drawn over the picture.
#include "mixer/Decks.h"

#include <SDL/SDL.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/AppState.h"
#include "core/Controller.h"
#include "core/KeyHints.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "mixer/TempoOverlay.h"
#include "tracks/FrameSource.h"
#include "tracks/Track.h"

Decks decks;
int32_t queuedTrack = 0;

namespace {

// A deck or the queue can name a slot that holds nothing; an index outside the slots counts as an
// empty track rather than reaching past the array.
Track* slot(int32_t index) { return index >= 0 && index < TrackSlots ? &tracks[index] : nullptr; }

int32_t framesOf(int32_t track) {
    Track* t = slot(track);
    return t ? t->frameCount : 0;
}

// Forward and backward steps with wrap-around. A position past the end (the deck was put on a
// shorter clip) wraps like the last frame, and an empty track keeps the deck on frame 0, so the
// decoder is never asked for a frame the clip does not have.
void stepForward(Deck& d) {
    d.position++;
    if (d.position >= framesOf(d.track)) d.position = 0;
}

void stepBackward(Deck& d) {
    const int32_t last = framesOf(d.track) - 1;
    if (d.position != 0) d.position--;
    else d.position = last;
    if (d.position > last) d.position = last;
    if (d.position < 0) d.position = 0;
}

void startQueued(Deck& d) {
    d.track = queuedTrack;
    if (Track* t = slot(queuedTrack)) t->redrawFrames = 1;
    d.position = 0;
}

// The part of a track's name after its last slash or backslash.
std::string displayName(const std::string& name) {
    const size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

// The filters on for a deck, in slot order, as short names that fit the panel ("SCR HUE ZOOM").
std::string filtersOn(int deck) {
    static const char* const shortNames[10] = {"", "MIR", "SCR", "INV", "BRN", "ZOOM", "HUE", "GB", "GLI", "SNOW"};
    std::string text;
    for (const EffectSlot& e : effectTable.slots[deck]) {
        if (!e.on || e.effectId <= 0 || e.effectId >= 10) continue;
        if (!text.empty()) text += ' ';
        text += shortNames[e.effectId];
    }
    return text;
}

const char* blendLabel(int mode) {
    switch (mode) {
    case 1: return "add";
    case 2: return "blend";
    case 3: return "alpha/black";
    case 4: return "multiply";
    case 6: return "half half";
    default: return "none";
    }
}

void drawDeckPanel(const Decks& d, int deck, int32_t y) {
    const Deck& k = d.decks[deck];
    drawPanel(5, y, 100, 75, d.selectedDeck == deck ? uiBlue : uiWhite, 60);
    Track* t = slot(k.track);
    const std::string name = t ? displayName(t->name) : std::string();
    drawLabel(uiFonts, screenSurface, name.c_str(), 6, y, uiBlack, 0, uiWhite);
    char text[32];
    std::snprintf(text, sizeof text, "%d/%d", k.track + 1, d.trackCount);
    drawText(uiFonts, screenSurface, text, 8, y + 15, uiBlack, 0);
    std::snprintf(text, sizeof text, "%d/%d", k.position, t ? int(t->frameCount) : 0);
    if (t && t->source && t->source->live()) std::snprintf(text, sizeof text, "live");
    drawText(uiFonts, screenSurface, text, 8, y + 30, uiBlack, 0);
    // What is on, so that a filter left on from an earlier look (a SCROLL surviving a reload) shows.
    const std::string filters = fitText(uiFonts, 0, filtersOn(deck), 94, false);
    if (!filters.empty()) drawText(uiFonts, screenSurface, filters.c_str(), 8, y + 45, uiBlack, 0);
    // The blend belongs to the pair: shown on the deck drawn over the other.
    if (deck == 1 && d.blendMode != 0) {
        std::snprintf(text, sizeof text, "blend: %s", blendLabel(d.blendMode));
        drawText(uiFonts, screenSurface, text, 8, y + 60, uiBlack, 0);
    }
}

void drawBlendPage(const Decks& d) {
    struct BlendPanel { int32_t x, y, id; const char* label; };
    static const BlendPanel panels[6] = {
        {5, 20, 0, "none"},       {110, 20, 2, "blend"},  {215, 20, 1, "add"},
        {5, 125, 4, "multiply"},  {110, 125, 3, "alpha/black chroma"}, {215, 125, 6, "half half"},
    };
    for (const BlendPanel& p : panels) {
        drawPanel(p.x, p.y, 100, 100, d.blendMode == p.id ? uiBlue : uiWhite, 60);
        drawText(uiFonts, screenSurface, p.label, p.x + 5, p.y + 5, uiBlack, 0);
    }
}

void drawEffectsPage(const Decks& d) {
    drawPanel(5, 20, 150, 90, uiWhite, 60);
    static const int32_t spots[4][2] = {{60, 30}, {100, 55}, {60, 80}, {20, 55}};
    const int deck = d.selectedDeck == 0 ? 0 : 1;
    const int selected = effectTable.selectedSlot;
    for (int s = 0; s < 4; s++) {
        const EffectSlot& e = effectTable.slots[deck][s];
        const int32_t x = spots[s][0], y = spots[s][1];
        drawText(uiFonts, screenSurface, filterName(e.effectId), x, y, uiBlack, 0);
        if (s == selected) drawText(uiFonts, screenSurface, ">", x - 8, y, uiBlack, 0);
        if (e.on) drawText(uiFonts, screenSurface, "ON", x, y + 10, uiBlack, 0);
    }
    const int32_t value = selected >= 0 && selected < 8 ? effectTable.slots[deck][selected].value : -1;
    for (int v = 0; v < 4; v++) {
        drawPanel(5 + 80 * v, 125, 70, 100, value == v ? uiBlue : uiWhite, 60);
        drawNumber(uiFonts, screenSurface, v, 10 + 80 * v, 130, uiBlack, 0);
    }
}

}  // namespace

void Decks::resetDecks() {
    trackCount = 0;
    selectedDeck = 1;
    decks[0] = Deck{0, 0, 0};
    decks[1] = Deck{0, 0, 0};
    paused = 0;
    blendMode = 0;
    targetFps = 25;
    page = 0;
    overlayShown = 0;
    flash = 0;
    fade = fadeRest;  // 0 unless an external fader holds a level: it has not moved
    restFps = 25;
    frozenLook = 0;
}

void Decks::advance() {
    if (!paused) {
        for (Deck& d : decks) {
            if (sync[&d - decks]) continue;  // the beat moves it
            if (d.direction == 0) stepForward(d);
            else stepBackward(d);
        }
    }
    if (flash != 0) flash--;
}

void Decks::advanceModeB() {
    if (!paused && !sync[1]) {
        Deck& d = decks[1];
        if (d.direction == 0) {
            d.position++;
            if (d.position >= framesOf(d.track)) startQueued(d);
        } else {
            stepBackward(d);
        }
    }
    if (flash != 0) flash--;
}

void Decks::switchToQueued() {
    if (decks[1].track == queuedTrack) return;
    if (queuedTrack >= trackCount) queuedTrack = 0;
    startQueued(decks[1]);
}

void Decks::drawOverlay() {
    if (!overlayShown || !screenSurface) return;
    const Uint32 black = SDL_MapRGB(screenSurface->format, 0, 0, 0);

    fillRect(screenSurface, 295, 5, 20, 15, uint16_t(black));
    drawNumber(uiFonts, screenSurface, measuredFps, 300, 8, uiGrey, 0);

    if (appState.mode == ModeB) {
        if (appState.waitForClipEnd == 0) drawLabel(uiFonts, screenSurface, "don't wait", 263, 40, uiGrey, 0, uiBlack);
        else if (appState.waitForClipEnd == 1 && appState.quantise == QuantiseBeat)
            drawLabel(uiFonts, screenSurface, "wait beat", 268, 40, uiGrey, 0, uiBlack);
        else if (appState.waitForClipEnd == 1 && appState.quantise == QuantiseBar)
            drawLabel(uiFonts, screenSurface, "wait bar", 273, 40, uiGrey, 0, uiBlack);
        else if (appState.waitForClipEnd == 1) drawLabel(uiFonts, screenSurface, "wait", 293, 40, uiGrey, 0, uiBlack);
        // The last key by its name ("F5", "z"), cut to the box.
        const std::string key = fitText(uiFonts, 0, keyName(controller.key), 40, false);
        const int32_t w = std::max(20, textWidth(uiFonts, 0, key) + 10);  // at least the old number box
        fillRect(screenSurface, 315 - w, 57, w, 15, uint16_t(black));
        drawText(uiFonts, screenSurface, key.c_str(), 320 - w, 60, uiGrey, 0);
    }

    switch (page) {
    case 0:
        drawDeckPanel(*this, 1, 20);
        if (appState.mode != ModeB) drawDeckPanel(*this, 0, 100);
        break;
    case 1: drawBlendPage(*this); break;
    case 2: drawEffectsPage(*this); break;
    default: break;
    }    drawTempoOverlay();
}
