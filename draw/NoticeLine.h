// Draws the notice line (core/Notice.h) over whatever the screen drew: at the top of the menus,
// where it covers only titles, and at the bottom of the performance picture, below the overlay.
#pragma once
#include <SDL/SDL.h>

// The line's top: 0 on the menus (home, editor, options, video out), 226 on the MIX screen.
int noticeLineY();
void drawNoticeLine(SDL_Surface* screen);
