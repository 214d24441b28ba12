#include "memories/Look.h"

namespace {

bool sameDeck(const DeckLook& a, const DeckLook& b) {
    if (a.track != b.track || a.slot != b.slot || a.direction != b.direction || a.sync != b.sync || a.beats != b.beats)
        return false;
    for (int s = 0; s < LookSlots; s++)
        if (a.on[s] != b.on[s] || a.value[s] != b.value[s]) return false;
    return true;
}

bool within(int32_t v, int32_t low, int32_t high) { return v >= low && v <= high; }

bool validDeck(const DeckLook& d) {
    if (!within(d.slot, 0, 49) || d.frame < 0 || d.frame > 254 || !within(d.direction, 0, 1) || !within(d.sync, 0, 1))
        return false;
    if (d.beats != 0 && d.beats != 1 && d.beats != 2 && d.beats != 4 && d.beats != 8 && d.beats != 16) return false;
    for (int s = 0; s < LookSlots; s++)
        if (!within(d.on[s], 0, 1) || !within(d.value[s], 0, 3)) return false;
    return true;
}

}  // namespace

bool Look::sameSettings(const Look& o) const {
    return playlist == o.playlist && sameDeck(decks[0], o.decks[0]) && sameDeck(decks[1], o.decks[1]) &&
           rate == o.rate && frozen == o.frozen && selectedDeck == o.selectedDeck && blendMode == o.blendMode &&
           fade == o.fade && mode == o.mode && wait == o.wait;
}

bool Look::valid() const {
    const bool blend = within(blendMode, 0, 4) || blendMode == 6;
    return validDeck(decks[0]) && validDeck(decks[1]) && (rate == 10 || rate == 25 || rate == 40) &&
           within(frozen, 0, 1) && within(selectedDeck, 0, 1) && blend && within(fade, 0, 15) && within(mode, 0, 1) &&
           within(wait, 0, 3);
}
