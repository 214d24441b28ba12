// Draws the notice line (core/Notice.h) at the bottom of the screen, over whatever the screen drew.
#pragma once
#include <SDL/SDL.h>

void drawNoticeLine(SDL_Surface* screen);
