// The home menu: five items in a grid of 104-pixel cells over the background picture, chosen with
// the stick and ButtonB or by touching them.
#include "core/AppState.h"
#include "core/Controller.h"
#include "controls/Screens.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "library/Mix.h"
#include "mixer/Options.h"

#include <cstdio>

HomeScreen homeScreen;

namespace {

enum HomeItem { ItemMix = 0, ItemEdit = 1, ItemOptions = 2, ItemVideoOut = 3, ItemQuit = 4, ItemCount };

// Grid cell of each item; the top-left cell is empty.
const int itemColumn[ItemCount] = {1, 2, 0, 1, 2};
const int itemRow[ItemCount] = {0, 0, 1, 1, 1};

int cellX(int item) { return itemColumn[item] * 104 + 9; }
int cellY(int item) { return itemRow[item] * 104 + 15; }

int32_t itemColour(int item) { return homeScreen.selectedItem == item ? uiWhite : uiBlack; }

void activate(int item) {
    switch (item) {
    case ItemMix:
        returnToMix();
        break;
    case ItemEdit: {
        mix.reloadIfChanged();
        mix.resetScroller(0, mix.playlistCount);
        // editPlaylist indexes a fixed array; a stale value must not read past it.
        int32_t tracksOfEdited = 0;
        if (mix.editPlaylist >= 0 && mix.editPlaylist < MaxPlaylists)
            tracksOfEdited = mix.playlists[mix.editPlaylist].trackCount;
        mix.resetScroller(1, tracksOfEdited);
        appState.screen = Screen::Editor;
        break;
    }
    case ItemOptions:
        options.view = FiltersView;
        appState.screen = Screen::Options;
        break;
    case ItemVideoOut:
        appState.screen = Screen::VideoOut;
        break;
    case ItemQuit:
        running = 0;
        break;
    }
}

}  // namespace

void HomeScreen::init() {
    selectedItem = ItemMix;
    background = loadPicture("data/home.png");
}

void HomeScreen::draw(SDL_Surface* screen) {
    if (background) blitPiece(background, 0, 0, background->w, background->h, screen, 0, 0);

    const int x = cellX(selectedItem), y = cellY(selectedItem);
    const uint16_t white = toRgb565(uiWhite);
    fillRect(screen, x, y, 94, 2, white);
    fillRect(screen, x + 92, y, 2, 94, white);
    fillRect(screen, x, y + 92, 94, 2, white);
    fillRect(screen, x, y, 2, 94, white);

    drawText(uiFonts, screen, "MIX", 117, 17, itemColour(ItemMix), 1);

    drawText(uiFonts, screen, "EDIT", 221, 17, itemColour(ItemEdit), 1);
    char count[32];
    if (mix.playlistCount == 0)
        snprintf(count, sizeof count, "no playlists");
    else if (mix.playlistCount == 1)
        snprintf(count, sizeof count, "%d playlist", (int)mix.playlistCount);
    else
        snprintf(count, sizeof count, "%d playlists", (int)mix.playlistCount);
    drawText(uiFonts, screen, count, 221, 34, itemColour(ItemEdit), 0);

    drawText(uiFonts, screen, "OPTIONS", 13, 121, itemColour(ItemOptions), 1);
    if (appState.mode == ModeB) drawText(uiFonts, screen, "mode B", 13, 138, itemColour(ItemOptions), 0);

    drawText(uiFonts, screen, "VIDEO", 117, 121, itemColour(ItemVideoOut), 1);
    drawText(uiFonts, screen, "OUT", 117, 137, itemColour(ItemVideoOut), 1);
    const char* output = appState.tvOut == Pal ? "PAL" : appState.tvOut == Ntsc ? "NTSC" : "off";
    drawText(uiFonts, screen, output, 117, 154, itemColour(ItemVideoOut), 0);

    drawText(uiFonts, screen, "QUIT", 221, 121, itemColour(ItemQuit), 1);

    drawLabel(uiFonts, screen, "Release 2: amber walrus", 10, 220, uiBlack, 0, uiGrey);
}

void handleHome() {
    int32_t& item = homeScreen.selectedItem;
    if (controller.pressed(StickRight)) {
        if (item == ItemMix) item = ItemEdit;
        else if (item == ItemOptions) item = ItemVideoOut;
        else if (item == ItemVideoOut) item = ItemQuit;
    }
    if (controller.pressed(StickDown)) {
        if (item == ItemMix) item = ItemVideoOut;
        else if (item == ItemEdit) item = ItemQuit;
    }
    if (controller.pressed(StickLeft)) {
        if (item == ItemEdit) item = ItemMix;
        else if (item == ItemVideoOut) item = ItemOptions;
        else if (item == ItemQuit) item = ItemVideoOut;
    }
    if (controller.pressed(StickUp)) {
        if (item == ItemVideoOut) item = ItemMix;
        else if (item == ItemQuit) item = ItemEdit;
    }

    if (controller.pressed(ButtonB)) activate(item);

    if (controller.touchDown) {
        for (int i = 0; i < ItemCount; i++) {
            const int x = cellX(i), y = cellY(i);
            if (controller.touchX >= x && controller.touchX <= x + 94 && controller.touchY >= y &&
                controller.touchY <= y + 94) {
                activate(i);
                break;
            }
        }
    }

    if (controller.pressed(ButtonHome)) running = 0;
}
