// Placeholders until the filters, compositor, decks and options land; this file is deleted then.
#include "mixer/Compositor.h"
#include "mixer/Decks.h"
#include "mixer/Filters.h"
#include "mixer/Options.h"

Decks decks;
int32_t queuedTrack = 0;
Options options;

const char* filterName(int) { return "NONE"; }
void composite(Decks&, int32_t, int32_t) {}
void Decks::resetDecks() { *this = Decks(); }
void Decks::advance() {}
void Decks::advanceModeB() {}
void Decks::switchToQueued() {}
void Decks::drawOverlay() {}
void Options::initOptions() {}
void Options::saveAndLeave() {}
void drawOptions(Options&, SDL_Surface*, SDL_Surface*) {}
