// Placeholders until the library lands; this file is deleted then.
#include "library/Mix.h"

Mix mix;

void Mix::init() {}
void Mix::clearMix() { _totalTracks = 0; loading = 0; }
void Mix::loadXML() {}
void Mix::saveXML() {}
void Mix::scanPlaylists() {}
void Mix::loadPlaylist(int) {}
void Mix::continueLoading() {}
void Mix::resetScroller(int, int) {}
void drawEditor(Mix&, SDL_Surface*, SDL_Surface*) {}
