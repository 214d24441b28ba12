// The memories' pictures and touch: the MEMORIES page of the options screen (sixteen cells; touch
// to recall, hold or arm "store" and touch to store) and the note over the performance picture
// while a recalled look's playlist loads.
#pragma once
#include <SDL/SDL.h>
#include <cstdint>

// Page geometry: four rows of four cells.
constexpr int32_t MemoryCellWidth = 80;
constexpr int32_t MemoryCellHeight = 49;
constexpr int32_t MemoryCellsTop = 16;
constexpr uint32_t MemoryHoldMs = 600;  // a touch held this long on a cell stores

void installMemoriesPage();
// The cell (1..16) at a screen point, 0 for none.
int32_t memoryCellAt(int32_t x, int32_t y);
void drawMemoryNote(SDL_Surface* screen);
