// The VIDEO OUT menu: its picture, and its input: the face buttons pick LCD, TV PAL or TV NTSC;
// ButtonX or the home button picture go back to the home menu.
#include <iostream>

#include "controls/Screens.h"
#include "core/AppState.h"
#include "core/Controller.h"
#include "core/TvOut.h"
#include "draw/Colours.h"
#include "draw/KeyDiamond.h"
#include "draw/Text.h"

VideoOutScreen videoOutScreen;

void VideoOutScreen::init() { buttons = loadPicture("data/abxy.png"); }

void VideoOutScreen::draw(SDL_Surface* screen, SDL_Surface* texture) {
    fillRect(screen, 0, 0, 320, 240, 0);
    blitPiece(buttons, 0, 0, 96, 96, screen, 112, 72);
    if (buttons) labelDiamondKeys(screen, 112, 72);
    // Each label sits beside the face button that picks it.
    drawTextSmooth(uiFonts, screen, "LCD", 152, 60, uiAmber, 0);
    drawTextSmooth(uiFonts, screen, "TV PAL", 75, 112, uiAmber, 0);
    drawTextSmooth(uiFonts, screen, "TV NTSC", 210, 112, uiAmber, 0);
    drawTextSmooth(uiFonts, screen, "EXIT", 150, 170, uiAmber, 0);
    blitPiece(texture, 0, 32, 48, 16, screen, 267, 219);
}

void handleVideoOut() {
    const Controller& c = controller;
    if (c.pressed(ButtonX)) appState.screen = Screen::Home;
    // Each choice is logged even when that output is already active; only a change reaches the
    // platform, so a second press never re-initialises the TV.
    if (c.pressed(ButtonY)) {
        if (appState.tvOut != Lcd) tvToLcd();
        std::cout << "LCD" << std::endl;
    }
    if (c.pressed(ButtonA)) {
        if (appState.tvOut != Pal) tvToPal();
        std::cout << "PAL" << std::endl;
    }
    if (c.pressed(ButtonB)) {
        if (appState.tvOut != Ntsc) tvToNtsc();
        std::cout << "NTSC" << std::endl;
    }
    if (c.touchDown && c.touchX >= 267 && c.touchX <= 315 && c.touchY >= 219 && c.touchY <= 235)
        appState.screen = Screen::Home;
}
