#pragma once
#include <cstdint>
class Decks;

// Filters, blends, fades and flashes the decoded decks into the screen surface, then draws the
// playback line.
void composite(Decks& decks, int32_t position, int32_t frameCount);
