#pragma once
#include <cstdint>
class Decks;

// Filters, blends, fades and flashes the decoded decks into the screen's memory, then draws the
// playback line (position of frameCount across the width) when asked to.
void composite(Decks& decks, int32_t position, int32_t frameCount, bool playbackLine);

// The passes of composite on their own, for the benchmark and the tests.
// Blends deck 1's half of mixFrames onto deck 0's half with blend mode 1..6 (0 leaves both alone).
void blendDecks(int32_t blendMode, bool deck1HasAlpha);
// Darkens a frame by fade (0..15; 15 is black) or brightens it towards white by flash (0..15).
void fadeFrame(uint16_t* frame, int32_t fade);
void flashFrame(uint16_t* frame, int32_t flash);
