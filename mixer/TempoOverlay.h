// The tempo on the performance overlay: the BPM, four squares with the beat of the bar lit, and
// the beats per loop of a beat-locked deck on its panel.
#pragma once
#include <SDL/SDL.h>
#include <cstdint>

// Four 8x4 squares from (x, y), 10 pixels apart; square beat (1..4) lit, the downbeat in amber.
void drawBeatSquares(SDL_Surface* screen, int32_t beat, int32_t x, int32_t y);
// Drawn by drawOverlay over the picture.
void drawTempoOverlay();
