// Placeholders until the library lands; this file is deleted then.
#include "library/Mix.h"

void Mix::resetScroller(int, int) {}
void drawEditor(Mix&, SDL_Surface*, SDL_Surface*) {}
