#include "memories/MemoriesPage.h"

#include <cstdio>
#include <string>

#include "core/AppState.h"
#include "core/Controller.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "memories/Memories.h"
#include "mixer/Options.h"

namespace {

int32_t touchedCell = 0;  // the cell under a touch that has not acted yet
int32_t touchedAt = 0;

bool touchIn(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const Controller& c = controller;
    return c.touchX >= x0 && c.touchX <= x1 && c.touchY >= y0 && c.touchY <= y1;
}

// The part of a clip's name after its folders.
std::string fileName(const std::string& name) {
    const size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

void drawCell(SDL_Surface* screen, int32_t number) {
    const int32_t x = ((number - 1) % 4) * MemoryCellWidth + 2;
    const int32_t y = MemoryCellsTop + ((number - 1) / 4) * MemoryCellHeight;
    const int32_t w = MemoryCellWidth - 4, h = MemoryCellHeight - 3;
    const bool stored = memories.stored[number - 1] != 0;
    if (memories.current == number) fillRect(screen, x - 1, y - 1, w + 2, h + 2, toRgb565(uiAmber));
    else if (memories.storeArmed) fillRect(screen, x - 1, y - 1, w + 2, h + 2, toRgb565(uiPink));
    fillRect(screen, x, y, w, h, toRgb565(stored ? 0x203050 : 0x222222));
    if (touchedCell == number && controller.touchHeld) {
        // How far the touch is on its way to storing.
        const int32_t held = currentTick - touchedAt;
        const int32_t bar = held >= int32_t(MemoryHoldMs) ? w : w * held / int32_t(MemoryHoldMs);
        fillRect(screen, x, y + h - 3, bar, 3, toRgb565(uiPink));
    }
    char label[8];
    std::snprintf(label, sizeof label, "%d", int(number));
    drawText(uiFonts, screen, label, x + 3, y + 2, uiAmber, 0);
    if (!stored) return;
    const Look& l = memories.looks[number - 1];
    const int32_t room = w - 6;
    const std::string playlist = fitText(uiFonts, 0, l.playlist, room - 14, false);
    drawTextSmooth(uiFonts, screen, playlist.c_str(), x + 17, y + 2, uiWhite, 0);
    for (int d = 0; d < 2; d++) {
        const std::string track = fitText(uiFonts, 0, fileName(l.decks[1 - d].track), room, true);
        drawTextSmooth(uiFonts, screen, track.c_str(), x + 3, y + 15 + 12 * d, uiGrey, 0);
    }
}

void drawPage(SDL_Surface* screen) {
    drawText(uiFonts, screen, "memories: touch to recall, hold to store", 5, 3, uiPink, 0);
    for (int32_t n = 1; n <= MemoryCount; n++) drawCell(screen, n);
    drawLabel(uiFonts, screen, "store", 8, 220, uiBlack, 0, memories.storeArmed ? uiPink : uiAmber);
    drawLabel(uiFonts, screen, "back", 74, 220, uiBlack, 0, uiAmber);
}

void handlePage() {
    const Controller& c = controller;
    if (c.touchDown) {
        touchedCell = 0;
        if (touchIn(5, 215, 60, 235)) {
            memories.storeArmed = !memories.storeArmed;
            return;
        }
        if (touchIn(70, 215, 120, 235)) {
            memories.storeArmed = 0;
            options.view = FiltersView;
            return;
        }
        const int32_t cell = memoryCellAt(c.touchX, c.touchY);
        if (cell && memories.storeArmed) {
            memories.storeArmed = 0;
            memories.store(cell);
        } else if (cell) {
            memories.reloadIfChanged();
            touchedCell = cell;
            touchedAt = currentTick;
        }
        return;
    }
    if (!touchedCell) return;
    if (memoryCellAt(c.touchX, c.touchY) != touchedCell) {
        touchedCell = 0;  // slid off the cell: neither
        return;
    }
    if (c.touchHeld && currentTick - touchedAt >= int32_t(MemoryHoldMs)) {
        memories.store(touchedCell);
        touchedCell = 0;
    } else if (c.touchUp()) {
        memories.recall(touchedCell, currentTick);
        touchedCell = 0;
    }
}

}  // namespace

int32_t memoryCellAt(int32_t x, int32_t y) {
    if (x < 0 || x >= 4 * MemoryCellWidth || y < MemoryCellsTop || y >= MemoryCellsTop + 4 * MemoryCellHeight) return 0;
    return (y - MemoryCellsTop) / MemoryCellHeight * 4 + x / MemoryCellWidth + 1;
}

void installMemoriesPage() {
    touchedCell = 0;
    memoriesPageHooks.draw = drawPage;
    memoriesPageHooks.handle = handlePage;
}

void drawMemoryNote(SDL_Surface* screen) {
    const int32_t number = memories.loadingFor();
    if (!number || !screen) return;
    char head[24];
    std::snprintf(head, sizeof head, "memory %d: loading ", int(number));
    const std::string text = head + fitText(uiFonts, 0, memories.loadingPlaylist(), 200, false);
    drawLabel(uiFonts, screen, text.c_str(), 6, 4, uiBlack, 0, uiAmber);
}
