#include "draw/NoticeLine.h"

#include "core/Notice.h"
#include "core/Platform.h"
#include "draw/Colours.h"
#include "draw/Text.h"

void drawNoticeLine(SDL_Surface* screen) {
    const char* text = noticeShown(platform::ticks());
    if (!text || !screen) return;
    fillRect(screen, 0, 226, 320, 14, toRgb565(uiBlack));
    drawText(uiFonts, screen, text, 3, 228, uiAmber, 0);
}
