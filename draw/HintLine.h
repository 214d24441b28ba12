// The desktop's first-use hint: one line naming the keys of the screen that a newcomer cannot see
// (Tab for the overlay, how mode B is reached, F8/F9), on the MIX screen and the home menu, until
// the performer first plays that screen. Only without a gamepad: the console's buttons are its own.
#pragma once
#include <SDL/SDL.h>

// Draws the hint of the current screen, after its first use nothing. Called once per frame after
// the screen is drawn (its input already handled).
void drawHintLine(SDL_Surface* screen);
// Every hint shown again, as on a new start.
void resetHints();
// Every hint gone, as after each screen's first use.
void hideHints();
