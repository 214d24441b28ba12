// The filters that change each pixel on its own, taking their input from a given frame: the
// compositor runs the first filter of a deck straight from the decoded frame instead of copying it
// into mixFrames first. The source may also be the deck's own half of mixFrames (then the filter
// works in place, as applyInvert and the others do).
#pragma once
#include <cstdint>

void invertInto(int deck, int value, const uint16_t* source);
void burnedInto(int deck, int value, const uint16_t* source);
void snowInto(int deck, int value, const uint16_t* source);
void gameBoyInto(int deck, int value, const uint16_t* source);
void hueInto(int deck, int value, const uint16_t* source);
