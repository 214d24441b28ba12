#include "web/WebControls.h"

#include <cstdio>
#include <cstring>

#include "core/AppState.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"

namespace {

constexpr int EffectSlots = 8;

bool oscMode(const OscArg* a, int32_t) {
    if (strcmp(a[0].s, "A") == 0) appState.mode = ModeA;
    else if (strcmp(a[0].s, "B") == 0) appState.mode = ModeB;
    else return false;
    return true;
}

bool oscSelectDeck(const OscArg* a, int32_t) {
    if (a[0].i != 0 && a[0].i != 1) return false;
    decks.selectedDeck = a[0].i;
    return true;
}

OscArg intValue(int32_t v) {
    OscArg a;
    a.i = v;
    return a;
}

OscArg selectedDeckValue(int32_t) { return intValue(decks.selectedDeck); }
OscArg slotFilter(int32_t k) {
    OscArg a;
    a.s = filterName(effectTable.slots[decks.selectedDeck][k].effectId);
    return a;
}

}  // namespace

// The slots' variants, the playlist and the tracks loaded are fed back by the controllers' own
// table (remote/); the page adds the selected deck as an address of its own and the filters' names.
void registerWebControls() {
    addOscAddress("/loopmixer/mode", "s", oscMode);
    addOscAddress("/loopmixer/deck/selected", "i", oscSelectDeck);
    addOscFeedback("/loopmixer/deck/selected", 'i', selectedDeckValue);
    char address[MaxOscAddressChars + 1];
    for (int k = 0; k < EffectSlots; k++) {
        snprintf(address, sizeof address, "/loopmixer/slot/%d/filter", k);
        addOscFeedback(address, 's', slotFilter, k);
    }
}
