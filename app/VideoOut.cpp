// Video output: the platform's TV-out record, the three switches and the VIDEO OUT menu picture.
#include "app/VideoOut.h"

#include "app/AppState.h"
#include "app/Platform.h"
#include "draw/Colours.h"
#include "draw/Text.h"

TvConfigRecord tvConfigRecord = {};
VideoOutScreen videoOutScreen;

void tvToLcd() {
    // The LCD command writes only the command byte; the rest keeps the last TV settings.
    tvConfigRecord.command = 4;
    platform::tvConfig(&tvConfigRecord);
    appState.tvOut = Lcd;
}

void tvToPal() {
    tvConfigRecord.command = 2;
    tvConfigRecord.standard = 5;
    tvConfigRecord.width = 640;
    tvConfigRecord.height = 480;
    platform::tvConfig(&tvConfigRecord);
    appState.tvOut = Pal;
}

void tvToNtsc() {
    tvConfigRecord.standard = 0;
    tvConfigRecord.width = 640;
    tvConfigRecord.height = 480;
    tvConfigRecord.command = 2;
    platform::tvConfig(&tvConfigRecord);
    appState.tvOut = Ntsc;
}

void VideoOutScreen::init() { buttons = loadPicture("data/abxy.png"); }

void VideoOutScreen::draw(SDL_Surface* screen, SDL_Surface* texture) {
    fillRect(screen, 0, 0, 320, 240, 0);
    blitPiece(buttons, 0, 0, 96, 96, screen, 112, 72);
    // Each label sits beside the face button that picks it.
    drawTextSmooth(uiFonts, screen, "LCD", 152, 60, uiAmber, 0);
    drawTextSmooth(uiFonts, screen, "TV PAL", 75, 112, uiAmber, 0);
    drawTextSmooth(uiFonts, screen, "TV NTSC", 210, 112, uiAmber, 0);
    drawTextSmooth(uiFonts, screen, "EXIT", 150, 170, uiAmber, 0);
    blitPiece(texture, 0, 32, 48, 16, screen, 267, 219);
}
