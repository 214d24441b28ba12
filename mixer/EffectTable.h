// Per-deck effect slots: which filter each of a deck's eight slots holds, whether it is on, its
// variant and the one integer of state SCROLL keeps between frames.
#pragma once
#include <cstdint>

struct EffectSlot {
    int32_t effectId;
    int32_t value;
    int32_t on;
    int32_t param;
};

class EffectTable {
public:
    EffectSlot slots[2][8];
    int32_t selectedSlot;

    void clearEffects();
    bool effectOn(int deck, int id) const;
    int32_t effectValue(int deck, int id) const;
    int32_t effectParam(int deck, int id) const;
    void setEffectParam(int deck, int id, int32_t p);
};

extern EffectTable effectTable;
