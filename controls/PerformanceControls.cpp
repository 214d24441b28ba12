// The performance screen's two input handlers. Mode A steers two free-running decks, their blend
// mode and effect slots; mode B triggers clips on deck 1 from buttons and glove keys. The handlers
// only change state: the picture is made later in the same frame.
#include "controls/Screens.h"
#include "core/AppState.h"
#include "core/Controller.h"
#include "mixer/BeatLock.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Options.h"
#include "tracks/Track.h"

#include <utility>

namespace {

const Controller& c = controller;

bool inZone(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    return c.touchX >= x0 && c.touchX <= x1 && c.touchY >= y0 && c.touchY <= y1;
}

// Blend modes as the blend page lays out its six buttons.
struct BlendZone {
    int32_t x0, y0, x1, y1, mode;
};
const BlendZone blendZones[] = {
    {6, 31, 104, 129, 0},   {111, 31, 209, 129, 2},  {216, 6, 314, 129, 1},
    {6, 136, 104, 234, 4},  {111, 136, 209, 234, 3}, {216, 136, 314, 234, 6},
};

Deck& selected() { return decks.decks[decks.selectedDeck]; }

// Deck tracks can lie past trackCount after the chooser freed every track; stepping from there
// lands inside the loaded range rather than walking off the 50 slots. With nothing loaded, a step
// back has nowhere to go and a step forward wraps to track 0.
void stepTrack(int32_t step) {
    if (step < 0 && decks.trackCount <= 0) return;
    Deck& d = selected();
    int32_t t = d.track + step;
    if (step < 0 && (t < 0 || t >= decks.trackCount)) t = decks.trackCount - 1;
    if (step > 0 && (t >= decks.trackCount || t < 0)) t = 0;
    d.track = t;
    tracks[t].invalidate();
    d.position = 0;
}

void swapDecks() {
    Deck& a = decks.decks[0];
    Deck& b = decks.decks[1];
    std::swap(a.track, b.track);
    std::swap(a.position, b.position);
    std::swap(a.direction, b.direction);
    tracks[a.track].invalidate();
    tracks[b.track].invalidate();
    // The filters travel with the picture; SCROLL's running offset stays with its deck.
    for (int s = 0; s < 8; s++) {
        EffectSlot& x = effectTable.slots[0][s];
        EffectSlot& y = effectTable.slots[1][s];
        std::swap(x.effectId, y.effectId);
        std::swap(x.value, y.value);
        std::swap(x.on, y.on);
    }
}

void scrub() {
    Deck& d = selected();
    if (c.touchDown && inZone(0, 190, 320, 240)) {
        decks.scrubStartX = c.touchX;
        decks.scrubStartPos = d.position;
        decks.scrubbing = 1;
    }
    if (c.touchHeld && decks.scrubbing == 1) {
        const int32_t n = tracks[d.track].frameCount;
        if (n == 0) return;
        // Five pixels per frame, truncating toward zero. A long stroke on a short clip travels more
        // than one clip length, so the wrap is a true modulo: a single add or subtract of n would
        // leave a position past the clip for the decoder.
        int32_t p = decks.scrubStartPos + (c.touchX - decks.scrubStartX) / 5;
        p %= n;
        if (p < 0) p += n;
        d.position = p;
    }
}

void trigger(int32_t track) {
    queuedTrack = track;
    if (appState.waitForClipEnd == 0) decks.switchToQueued();
    else if (appState.quantise != QuantiseClipEnd) beatLock.queue(track, currentTick);
}

}  // namespace

void handleModeA() {
    if (c.pressed(StickLeft)) stepTrack(-1);
    if (c.pressed(StickRight)) stepTrack(+1);
    if (c.pressed(StickDown) && c.up(ButtonB)) swapDecks();

    decks.targetFps = decks.restFps;
    if (c.held(ButtonB) && c.up(ButtonR)) {
        if (c.down(StickUp)) decks.targetFps = 40;
        if (c.down(StickDown)) decks.targetFps = 10;
        if (c.down(StickUp) || c.down(StickDown)) decks.restFps = 25;
    }

    Deck& d = selected();
    if (c.pressed(ButtonX) && c.up(ButtonR)) d.direction = 1 - d.direction;
    if (c.pressed(ButtonY) && c.up(ButtonR)) decks.flash = 15;
    if (c.down(ButtonA) && c.up(ButtonR)) {
        if (decks.fade < 15) decks.fade++;
    } else if (decks.fade > decks.fadeRest) {
        decks.fade--;
    } else if (decks.fade < decks.fadeRest) {
        decks.fade++;
    }

    decks.page = 0;
    if (c.pressed(ButtonI) && c.activeInputs == 1) decks.overlayShown = 1 - decks.overlayShown;

    if (c.down(ButtonL)) {
        decks.page = 1;
        if (c.touchDown) {
            tracks[decks.decks[0].track].invalidate();
            tracks[decks.decks[1].track].invalidate();
            for (const BlendZone& z : blendZones)
                if (inZone(z.x0, z.y0, z.x1, z.y1)) {
                    decks.blendMode = z.mode;
                    break;
                }
        }
    }

    if (c.pressed(StickUp) && c.up(ButtonL) && c.up(ButtonB)) {
        EffectSlot& slot = effectTable.slots[decks.selectedDeck][effectTable.selectedSlot & 7];
        slot.on = 1 - slot.on;
    }

    if (c.down(ButtonR)) {
        decks.page = 2;
        if (c.pressed(ButtonY)) effectTable.selectedSlot = 0;
        if (c.pressed(ButtonB)) effectTable.selectedSlot = 1;
        if (c.pressed(ButtonX)) effectTable.selectedSlot = 2;
        if (c.pressed(ButtonA)) effectTable.selectedSlot = 3;
        if (c.touchDown && c.touchY >= 120 && c.touchY <= 240 && c.touchX >= 0 && c.touchX <= 320) {
            const int32_t value = c.touchX >= 240 ? 3 : c.touchX / 80;
            effectTable.slots[decks.selectedDeck][effectTable.selectedSlot & 7].value = value;
        }
    }

    if (decks.page == 0 && c.touchDown && c.touchX >= 0 && c.touchX <= 160) {
        if (c.touchY >= 20 && c.touchY <= 99) decks.selectedDeck = 1;
        else if (c.touchY >= 100 && c.touchY <= 180) decks.selectedDeck = 0;
    }

    if (c.pressed(ButtonII)) decks.frozenLook = 0;
    decks.paused = c.down(ButtonII) || decks.frozenLook ? 1 : 0;

    if (c.pressed(ButtonHome)) appState.mixView = ChoosingPlaylist;

    if (decks.page == 0) scrub();
    if (c.touchUp()) decks.scrubbing = 0;
}

void handleModeB() {
    decks.targetFps = decks.restFps;
    if (c.pressed(ButtonII)) decks.frozenLook = 0;
    decks.paused = c.down(ButtonII) || decks.frozenLook ? 1 : 0;
    if (c.pressed(ButtonI) && c.activeInputs == 1) decks.overlayShown = 1 - decks.overlayShown;
    if (c.pressed(ButtonHome)) appState.mixView = ChoosingPlaylist;

    if (decks.page == 0) {
        Deck& d = selected();
        if (c.touchUp()) d.direction = 0;
        else if (inZone(220, 0, 320, 100)) d.direction = 1;
    }

    if (c.activeInputs == 0) queuedTrack = 0;

    if (c.touchDown && inZone(0, 0, 100, 100)) appState.waitForClipEnd = 1 - appState.waitForClipEnd;

    // Button triggers: track 1 to 10, in this order; several in one frame apply one after another.
    static const Input triggers[] = {ButtonY, ButtonB, ButtonX, ButtonA, ButtonL,
                                     ButtonR, StickUp, StickRight, StickDown, StickLeft};
    for (int i = 0; i < 10; i++)
        if (c.pressed(triggers[i])) trigger(i + 1);

    // A clip pad of a controller acts like a glove key: the i-th clip, kept queued while it is down.
    if (c.clip > 0) trigger(c.clip - 1);

    if (c.key > 0) {
        if (c.key == options.keys[0] && c.keyDown) {
            appState.waitForClipEnd = 1 - appState.waitForClipEnd;
            return;
        }
        // A held key keeps matching every frame, which keeps its clip queued while it is down.
        for (int k = 1; k < 16; k++)
            if (c.key == options.keys[k]) {
                trigger(k);
                break;
            }
    }

    if (queuedTrack >= decks.trackCount) queuedTrack = 0;
}
