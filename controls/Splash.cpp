#include "core/AppState.h"
#include "controls/Screens.h"
#include "draw/Text.h"

SplashScreen splashScreen;

void SplashScreen::init() {
    logo = loadPicture("data/logo-tarnobelli.png");
    countdown = 40;
}

// Fades the logo in from white and out to black: every channel is shifted by b, which runs from 38
// (all saturated) through 0 (the logo as drawn) to -40. Pure black stays black throughout.
void SplashScreen::draw(SDL_Surface* screen) {
    countdown--;
    blitPiece(logo, 0, 0, 320, 240, screen, 0, 0);
    const int b = countdown * 2 - 40;
    uint16_t* p = (uint16_t*)screen->pixels;
    for (int i = 0; i < 320 * 240; i++) {
        const uint16_t v = p[i];
        if (!v) continue;
        int r = ((v >> 11) & 31) + b, g = ((v >> 5) & 63) + 2 * b, bl = (v & 31) + b;
        r = r < 0 ? 0 : (r > 31 ? 31 : r);
        g = g < 0 ? 0 : (g > 63 ? 63 : g);
        bl = bl < 0 ? 0 : (bl > 31 ? 31 : bl);
        p[i] = uint16_t(r << 11 | g << 5 | bl);
    }
}
