#include "draw/HintLine.h"

#include <string>

#include "core/AppState.h"
#include "core/Controller.h"
#include "core/KeyHints.h"
#include "core/Platform.h"
#include "draw/Colours.h"
#include "draw/Text.h"

namespace {

bool used[6];             // by Screen: the performer has played it while its hint showed
int32_t shownOn = -1;     // the screen whose hint the frame before showed, -1 for none

}  // namespace

void resetHints() {
    for (bool& u : used) u = false;
    shownOn = -1;
}

void hideHints() {
    for (bool& u : used) u = true;
}

void drawHintLine(SDL_Surface* screen) {
    const int32_t s = appState.screen;
    // This frame's input was given while the frame before showed a hint: that hint has been read.
    const bool input = controller.activeInputs > 0 || controller.keyDown || controller.touchDown;
    if (input && shownOn >= 0) used[shownOn] = true;
    shownOn = -1;
    if (!screen || platform::joystickOpen() || s < 0 || s >= 6 || used[s]) return;
    std::string text;
    int32_t y = 0;
    if (s == Screen::Mix && appState.mixView == Performing) {
        text = std::string("Tab overlay   ") + controlName(ButtonHome) + " playlists   " + controlName(ButtonL) + "+" +
               controlName(ButtonR) + " mode B   F8 tap   F9 rec   F10 projector";
        y = 228;
    } else if (s == Screen::Home) {
        text = std::string("arrows move   ") + controlName(ButtonB) + " open   " + controlName(ButtonHome) +
               " quit   F11 fullscreen";
        y = 2;
    } else {
        return;
    }
    drawLabel(uiFonts, screen, fitText(uiFonts, 0, text, 310, false).c_str(), 3, y, uiGrey, 0, uiBlack);
    shownOn = s;
}
