#include "mixer/EffectTable.h"

#include <cstring>

EffectTable effectTable;

void EffectTable::clearEffects() {
    std::memset(slots, 0, sizeof slots);
    selectedSlot = 0;
}

// Every query stops at the first slot, in slot order, that holds the filter and is switched on.
static int firstOnSlot(const EffectTable& t, int deck, int id) {
    for (int s = 0; s < 8; s++)
        if (t.slots[deck][s].effectId == id && t.slots[deck][s].on) return s;
    return -1;
}

bool EffectTable::effectOn(int deck, int id) const { return firstOnSlot(*this, deck, id) >= 0; }

int32_t EffectTable::effectValue(int deck, int id) const {
    int s = firstOnSlot(*this, deck, id);
    return s < 0 ? 0 : slots[deck][s].value;
}

int32_t EffectTable::effectParam(int deck, int id) const {
    int s = firstOnSlot(*this, deck, id);
    return s < 0 ? 0 : slots[deck][s].param;
}

void EffectTable::setEffectParam(int deck, int id, int32_t p) {
    int s = firstOnSlot(*this, deck, id);
    if (s >= 0) slots[deck][s].param = p;
}
