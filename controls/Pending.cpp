// Placeholders until the screens' controls land; this file is deleted then.
#include "controls/Controller.h"
#include "controls/Screens.h"

HomeScreen homeScreen;
int32_t chooserSelection = 0;

void handleHome() {}
void handleEditor() {}
void handleModeA() {}
void handleModeB() {}
void handleChooser() {}
void handleOptions() {}
void handleVideoOut() {}
void HomeScreen::init() {}
void HomeScreen::draw(SDL_Surface*) {}
void drawChooser(SDL_Surface*) {}
