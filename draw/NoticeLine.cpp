#include "draw/NoticeLine.h"

#include "core/AppState.h"
#include "core/Notice.h"
#include "core/Platform.h"
#include "draw/Colours.h"
#include "draw/Text.h"

int noticeLineY() {
    // The menus keep their buttons in the bottom rows (the editor's bar, the home menu's release
    // line, OPTIONS' HOME): the top row holds only titles there.
    return appState.screen == Screen::Mix ? 226 : 0;
}

void drawNoticeLine(SDL_Surface* screen) {
    const char* text = noticeShown(platform::ticks());
    if (!text || !screen) return;
    const int y = noticeLineY();
    fillRect(screen, 0, y, 320, 14, toRgb565(uiBlack));
    drawText(uiFonts, screen, text, 3, y + 2, uiAmber, 0);
}
