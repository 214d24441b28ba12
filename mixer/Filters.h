// The ten filters. Each compositor filter changes one deck's half of mixFrames in place.
#pragma once
#include <cstdint>

enum FilterId { FilterNone, Mirror, Scroll, Invert, Burned, Zoom, Hue, GameBoy, Glitch, Snow };

const char* filterName(int id);

void applyInvert(int deck, int value);
void applyBurned(int deck, int value);
void applyGameBoy(int deck, int value);
void applyMirror(int deck, int value);
void applyHue(int deck, int value);
void applyZoom(int deck, int value);
void applySnow(int deck, int value);
void applyScroll(int deck, int value, int paused);

// GLITCH's block shear over the 1200 block ids of a frame (40 per row, 30 rows).
void glitchBlocks(uint16_t* ids);
