// The playlist chooser: a small panel over the performance picture listing the playlists; the
// stick moves the marker, ButtonB loads the marked playlist while the decks keep playing.
#include "core/AppState.h"
#include "core/Controller.h"
#include "controls/Screens.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "library/Mix.h"
#include "mixer/Decks.h"

int32_t chooserSelection = 0;

namespace {

// The editor can delete playlists while the marker points at one of the last ones; the marker then
// stands on the new last playlist instead of an empty row past the list.
int32_t markedPlaylist() {
    int32_t s = chooserSelection;
    if (s > mix.playlistCount - 1) s = mix.playlistCount - 1;
    if (s > MaxPlaylists - 1) s = MaxPlaylists - 1;
    if (s < 0) s = 0;
    return s;
}

}  // namespace

void drawChooser(SDL_Surface* screen) {
    fillRect(screen, 70, 70, 180, 100, 0);
    const int32_t marked = markedPlaylist();
    drawText(uiFonts, screen, mix.playlists[marked].name.c_str(), 82, 60, 0xFFFFFF, 1);
    // The list does not scroll: rows past the bottom edge are clipped by the surface.
    for (int i = 0; i < mix.playlistCount && i < MaxPlaylists; i++) {
        const int y = 87 + 10 * i;
        drawTextSmooth(uiFonts, screen, mix.playlists[i].name.c_str(), 82, y, uiGrey, 0);
        drawNumber(uiFonts, screen, mix.playlists[i].trackCount, 222, y, uiGrey, 0);
        if (i == marked) drawTextSmooth(uiFonts, screen, ">", 73, y, uiGrey, 0);
    }
    drawLabel(uiFonts, screen, "B load   X home", 72, 210, uiGrey, 0, 0x000000);
}

void loadChosenPlaylist(int32_t index) {
    chooserSelection = index;
    mix.loadingPlaylist = index;
    mix.clearMix();
    decks.resetDecks();
    mix.loadPlaylist(mix.loadingPlaylist);
    appState.mixView = Performing;
}

void handleChooser() {
    chooserSelection = markedPlaylist();
    if (controller.pressed(ButtonB)) loadChosenPlaylist(chooserSelection);
    if (controller.pressed(ButtonHome)) appState.mixView = Performing;
    if (controller.pressed(StickDown) && chooserSelection < mix.playlistCount - 1) chooserSelection++;
    if (controller.pressed(StickUp) && chooserSelection > 0) chooserSelection--;
    if (controller.pressed(ButtonX)) {
        appState.screen = Screen::Home;
        mix.clearMix();
    }
}
