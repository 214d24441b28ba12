// The options screen's input: filters dragged from the list onto the four slot buttons, the top
// line check box, mode A/B, the beat's settings and tap button, and the glove keys taught on the
// second page.
#include "controls/Screens.h"
#include "core/AppState.h"
#include "core/Controller.h"
#include "core/KeyHints.h"
#include "core/Notice.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Options.h"
#include "tempo/TempoClock.h"

namespace {

const Controller& c = controller;

bool inZone(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    return c.touchX >= x0 && c.touchX <= x1 && c.touchY >= y0 && c.touchY <= y1;
}

constexpr int32_t FilterCount = 10;

// The four slot buttons on the face-button picture; neighbours share an edge, so a drop on the
// edge fills both slots.
struct SlotZone {
    int32_t x0, y0, x1, y1;
};
const SlotZone slotZones[4] = {
    {48, 16, 80, 48},   // 0 top (ButtonY)
    {80, 48, 112, 80},  // 1 right (ButtonB)
    {48, 80, 80, 112},  // 2 bottom (ButtonX)
    {16, 48, 48, 80},   // 3 left (ButtonA)
};

}  // namespace

void handleOptions() {
    if (c.pressed(ButtonX) || (c.touchDown && inZone(267, 215, 315, 240))) {
        options.saveAndLeave();
        return;
    }

    if (options.view == KeysView) {
        if (c.touchDown && inZone(20, 20, 170, 227)) {
            options.keyToAssign = (c.touchY - 20) / 13;
            options.view = WaitingForKeyView;
            options.refusedInput = -1;
        }
        return;
    }

    if (options.view == WaitingForKeyView) {
        // Home (Escape on the desktop) gives up; a console button cannot be a glove key (its key
        // never reaches the program as a key), so it is refused rather than awaited for ever.
        if (c.pressed(ButtonHome)) {
            options.view = KeysView;
            options.refusedInput = -1;
            return;
        }
        if (c.key > 0) {
            // A key drives one row only: taught to another row, it moves there, and says so.
            for (int k = 0; k < 16; k++) {
                if (k == options.keyToAssign || options.keys[k] != c.key) continue;
                options.keys[k] = 0;
                postNotice((keyName(c.key) + " moved from track " + std::to_string(k + 1)).c_str());
            }
            options.keys[options.keyToAssign] = c.key;
            options.view = KeysView;
            options.refusedInput = -1;
            return;
        }
        for (int i = 0; i < InputCount; i++)
            if (c.pressed(Input(i))) options.refusedInput = i;
        return;
    }

    if (options.view == LearnView) {
        if (learnPageHooks.handle) learnPageHooks.handle();
        else options.view = FiltersView;
        return;
    }

    if (options.view == MemoriesView) {
        if (memoriesPageHooks.handle) memoriesPageHooks.handle();
        else options.view = FiltersView;
        return;
    }

    if (options.view != FiltersView) return;

    if (c.counter[ButtonL] + c.counter[ButtonR] == 3) appState.mode = 1 - appState.mode;

    if (c.touchDown) {
        if (inZone(5, 215, 53, 240)) {
            options.view = KeysView;
            return;
        }
        if (learnPageHooks.handle && inZone(70, 215, 140, 235)) {
            options.view = LearnView;
            return;
        }
        if (memoriesPageHooks.handle && inZone(148, 215, 214, 235)) {
            options.view = MemoriesView;
            return;
        }
        if (inZone(20, 190, 140, 206)) options.showTopLine = 1 - options.showTopLine;
        if (inZone(20, 122, 140, 137)) decks.sync[1] = 1 - decks.sync[1];
        if (inZone(20, 138, 140, 153)) decks.sync[0] = 1 - decks.sync[0];
        if (inZone(20, 156, 150, 169)) options.beatFlash = (options.beatFlash + 1) % 3;
        if (inZone(20, 170, 150, 186)) appState.quantise = (appState.quantise + 1) % 3;
        // The tap box's lower right ("from: taps / sound") chooses where the tempo comes from; the
        // rest of the box taps.
        if (inZone(240, 158, 310, 180)) tempoClock.followSound = 1 - tempoClock.followSound;
        else if (inZone(170, 140, 310, 180)) tempoClock.tap(currentTick);
        if (inZone(170, 182, 265, 195)) options.projectorFit = (options.projectorFit + 1) % 3;
        if (inZone(170, 196, 265, 210)) options.projectorLook = (options.projectorLook + 1) % 2;
        if (inZone(267, 189, 315, 205)) appState.mode = ModeA;
        if (inZone(161, 0, 320, 199)) {
            // Rows 25 + 10 * id hold the ten filters; the empty space around them picks nothing,
            // so no drop can write a filter id that does not exist into a slot.
            const int32_t row = (c.touchY - 25) / 10;
            if (c.touchY >= 25 && row < FilterCount) {
                options.dragging = 1;
                options.pickedFilter = row;
            }
        }
    }

    if (c.touchUp() && options.dragging == 1) {
        options.dragging = 0;
        for (int s = 0; s < 4; s++) {
            const SlotZone& z = slotZones[s];
            if (inZone(z.x0, z.y0, z.x1, z.y1)) {
                effectTable.slots[0][s].effectId = options.pickedFilter;
                effectTable.slots[1][s].effectId = options.pickedFilter;
            }
        }
    }
}
