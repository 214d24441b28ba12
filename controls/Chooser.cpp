// The playlist chooser: a small panel over the performance picture listing the playlists; the
// stick moves the marker, ButtonB loads the marked playlist while the decks keep playing.
#include <algorithm>
#include <cstdio>

#include "core/AppState.h"
#include "core/Controller.h"
#include "core/KeyHints.h"
#include "core/Platform.h"
#include "controls/Screens.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "library/Mix.h"
#include "mixer/Decks.h"

int32_t chooserSelection = 0;
int32_t chooserTop = 0;

namespace {

// The panel is 100 pixels high from y 70 and its rows 10 apart from y 87: eight rows fit in it.
constexpr int ChooserRows = 8;
constexpr int BarHeight = 80;  // the scroll mark beside the rows, x 244-246
// Names end before the count column (x 222); the large title before the right edge of the screen.
constexpr int NameRoom = 222 - 82 - 4;
constexpr int TitleRoom = 320 - 82 - 2;

// The editor can delete playlists while the marker points at one of the last ones; the marker then
// stands on the new last playlist instead of an empty row past the list.
int32_t markedPlaylist() {
    int32_t s = chooserSelection;
    if (s > mix.playlistCount - 1) s = mix.playlistCount - 1;
    if (s > MaxPlaylists - 1) s = MaxPlaylists - 1;
    if (s < 0) s = 0;
    return s;
}

int32_t listedPlaylists() { return mix.playlistCount < MaxPlaylists ? mix.playlistCount : MaxPlaylists; }

// The first row shown: the window moves only as far as it must to keep the marked row inside it,
// as the editor's lists scroll.
int32_t windowTop(int32_t top) {
    const int32_t marked = markedPlaylist();
    if (marked < top) top = marked;
    if (marked > top + ChooserRows - 1) top = marked - (ChooserRows - 1);
    const int32_t last = listedPlaylists() - ChooserRows;
    if (top > last) top = last;
    return top < 0 ? 0 : top;
}

}  // namespace

void drawChooser(SDL_Surface* screen) {
    fillRect(screen, 70, 70, 180, 100, 0);
    // With no playlists the records past the list still hold a deleted playlist's name.
    if (mix.playlistCount <= 0) {
        drawText(uiFonts, screen, "no playlists", 82, 60, 0xFFFFFF, 1);
    } else {
        const int32_t marked = markedPlaylist();
        const std::string title = fitText(uiFonts, 1, mix.playlists[marked].name, TitleRoom, false);
        drawText(uiFonts, screen, title.c_str(), 82, 60, 0xFFFFFF, 1);
        // The rows that fit in the panel, from the window that keeps the marker in view.
        const int top = windowTop(chooserTop);
        for (int r = 0; r < ChooserRows && top + r < listedPlaylists(); r++) {
            const int i = top + r;
            const int y = 87 + 10 * r;
            // Cut in the middle: names that share a start ("Long play 1", "Long play 12") still
            // differ at their ends.
            const std::string name = fitTextMiddle(uiFonts, 0, mix.playlists[i].name, NameRoom);
            drawTextSmooth(uiFonts, screen, name.c_str(), 82, y, uiGrey, 0);
            drawNumber(uiFonts, screen, mix.playlists[i].trackCount, 222, y, uiGrey, 0);
            if (i == marked) drawTextSmooth(uiFonts, screen, ">", 73, y, uiGrey, 0);
        }
        // A longer list shows where the window stands in it, as the editor's scroll bars do.
        const int hidden = listedPlaylists() - ChooserRows;
        if (hidden > 0) {
            const int thumb = std::max(6, BarHeight * ChooserRows / listedPlaylists());
            fillRect(screen, 244, 87, 3, BarHeight, toRgb565(0x444444));
            fillRect(screen, 244, 87 + (BarHeight - thumb) * top / hidden, 3, thumb, toRgb565(uiGrey));
        }
    }
    char hint[48];
    std::snprintf(hint, sizeof hint, "%s or click load   %s home", controlName(ButtonB), controlName(ButtonX));
    drawLabel(uiFonts, screen, hint, 72, 210, uiGrey, 0, 0x000000);
}

bool keepClipsAwayFromMix() { return platform::memoryAvailableMb() >= KeepClipsMemoryMb; }

void returnToMix() {
    appState.screen = Screen::Mix;
    if (mix._totalTracks == 0 && !mix.loading) return;
    if (!mix.loadedPlaylistUnchanged()) {
        // The playlist was edited meanwhile: its slots no longer match it.
        mix.clearMix();
        decks.resetDecks();
        return;
    }
    appState.mixView = Performing;
}

void loadChosenPlaylist(int32_t index) {
    chooserSelection = index;
    mix.loadingPlaylist = index;
    mix.clearMix();
    decks.resetDecks();
    mix.loadPlaylist(mix.loadingPlaylist);
    appState.mixView = Performing;
}

// The listed playlist under the stylus, or -1: the rows of the panel, x 70..249.
int32_t playlistAt(int32_t x, int32_t y) {
    if (x < 70 || x > 249 || y < 87 || y >= 87 + 10 * ChooserRows) return -1;
    const int32_t i = windowTop(chooserTop) + (y - 87) / 10;
    return i < listedPlaylists() ? i : -1;
}

void handleChooser() {
    chooserSelection = markedPlaylist();
    if (controller.pressed(ButtonB)) loadChosenPlaylist(chooserSelection);
    // The mouse: a click marks a playlist, a click on the marked one (or a double click) loads it.
    if (controller.touchDown && mix.playlistCount > 0) {
        const int32_t at = playlistAt(controller.touchX, controller.touchY);
        if (at >= 0 && at == chooserSelection) {
            loadChosenPlaylist(at);
            return;
        }
        if (at >= 0) chooserSelection = at;
    }
    if (controller.wheel && mix.playlistCount > 0)
        chooserSelection = std::clamp(chooserSelection + controller.wheel, 0, listedPlaylists() - 1);
    if (controller.pressed(ButtonHome)) appState.mixView = Performing;
    if (controller.pressed(StickDown) && chooserSelection < mix.playlistCount - 1) chooserSelection++;
    if (controller.pressed(StickUp) && chooserSelection > 0) chooserSelection--;
    chooserTop = windowTop(chooserTop);
    if (controller.pressed(ButtonX)) {
        appState.screen = Screen::Home;
        // Where memory is plenty (the desktop) the clips stay in RAM, so that a visit to OPTIONS
        // mid-show needs no reload; the console frees them for the editor's preview as it always has.
        if (!keepClipsAwayFromMix()) mix.clearMix();
    }
}
