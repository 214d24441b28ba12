// The VIDEO OUT menu's input: the face buttons pick LCD, TV PAL or TV NTSC; ButtonX or the home
// button picture go back to the home menu.
#include "app/AppState.h"
#include "app/VideoOut.h"
#include "controls/Controller.h"

#include <iostream>

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
