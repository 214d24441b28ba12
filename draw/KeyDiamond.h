// The face-button picture (data/abxy.png, 96x96) names the console's buttons Y, B, X and A. Where
// the keyboard stands in for them, the letters drawn over it are the desktop keys (W, D, S, A).
#pragma once
#include <SDL/SDL.h>

// x, y: where the picture was blitted on screen.
void labelDiamondKeys(SDL_Surface* screen, int x, int y);
