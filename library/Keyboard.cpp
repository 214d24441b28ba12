// The on-screen keyboard that names a new playlist: 42 keys in rows of ten, worked with the stylus
// or with the stick and ButtonB.
#include <cstring>

#include "core/AppState.h"
#include "core/Controller.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "library/Mix.h"

namespace {

constexpr int KeyCount = 42;
constexpr int DelKey = 40;
constexpr int OkKey = 41;
constexpr size_t MaxNameLength = 20;
constexpr int KeysTop = 52;
constexpr int KeyPitch = 30;

}  // namespace

const char* Mix::keyLabel(int k) {
    static const char* const letters[26] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m",
                                            "n", "o", "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z"};
    static const char* const others[16] = {"_", "-", "+", "*", "0", "1", "2", "3",
                                           "4", "5", "6", "7", "8", "9", "Del", "OK"};
    if (k >= 0 && k < 26) return letters[k];
    if (k >= 26 && k < KeyCount) return others[k - 26];
    return "";
}

void Mix::drawKeyboard(SDL_Surface* screen) {
    fillRect(screen, 0, 0, 320, 240, 0);
    fillRect(screen, 0, 0, 320, 240, 0x2104);
    // With fifty playlists there is no record left for another: say so instead of offering one.
    const char* title = renamingPlaylist >= 0            ? "rename the playlist"
                        : playlistCount >= MaxPlaylists ? "the list is full: 50 playlists"
                                                        : "create a new playlist";
    drawText(uiFonts, screen, title, 10, 7, uiPink, 0);
    fillRect(screen, 10, 25, 130, 20, 0);
    // Twenty wide letters are wider than the box: the end being typed stays in view.
    drawText(uiFonts, screen, fitText(uiFonts, 0, newName, 124, true).c_str(), 13, 30, uiWhite, 0);
    fillRect(screen, 10 + KeyPitch * (keyCursor % 10), KeysTop + KeyPitch * (keyCursor / 10), 25, 25, toRgb565(uiPink));
    for (int r = 0; r < 6; r++) {
        for (int c = 0; c < 10; c++) {
            int k = 10 * r + c;
            int offset = k >= DelKey ? 12 : 15;  // "Del" and "OK" are wider
            drawText(uiFonts, screen, keyLabel(k), 4 + KeyPitch * c + offset, 60 + KeyPitch * r, uiWhite, 0);
        }
    }
}

void Mix::pressKey(int k) {
    if (k >= 0 && k < DelKey) {
        if (newName.size() < MaxNameLength) newName += keyLabel(k);
    } else if (k == DelKey) {
        if (!newName.empty()) newName.pop_back();
    } else if (k == OkKey) {
        if (renamingPlaylist >= 0) {
            if (newName.empty()) return;
            renamePlaylist(renamingPlaylist, newName);
            renamingPlaylist = -1;
            newName.clear();  // a stored name longer than typing allows is not left for NEW
            editorView = PlaylistsView;
            return;
        }
        if (newName.empty() || playlistCount >= MaxPlaylists) return;
        editorView = PlaylistsView;
        addPlaylist();
        resetScroller(0, playlistCount);
        resetScroller(1, editPlaylist >= 0 && editPlaylist < MaxPlaylists ? playlists[editPlaylist].trackCount : 0);
    }
}

bool Mix::nameCharacterAllowed(char ch) {
    // What a playlist name can hold and the playlists file keeps as it is: no markup characters,
    // no path separators, no quotes.
    if (ch < 32 || ch > 126) return false;
    return !std::strchr("<>&/\\\"", ch);
}

void Mix::typeCharacter(char ch) {
    if (ch == '\b') pressKey(DelKey);
    else if (ch == '\r') pressKey(OkKey);
    else if (ch == 27) editorView = PlaylistsView;
    else if (nameCharacterAllowed(ch) && newName.size() < MaxNameLength) newName += ch;
}

void Mix::keyboardInput(const Controller& c) {
    for (int i = 0; i < c.typedCount && editorView == NewPlaylistView; i++) typeCharacter(c.typed[i]);
    if (editorView != NewPlaylistView) return;
    if (c.touchDown && c.touchY >= KeysTop) {
        int k = ((c.touchY - KeysTop) / KeyPitch) * 10 + (c.touchX - 10) / KeyPitch;
        if (k >= 0 && k < KeyCount) {
            keyCursor = k;
            pressKey(k);
        }
    }
    if (c.pressed(ButtonX)) editorView = PlaylistsView;
    if (c.pressed(StickRight)) keyCursor = keyCursor >= OkKey ? 0 : keyCursor + 1;
    if (c.pressed(StickLeft)) keyCursor = keyCursor <= 0 ? OkKey : keyCursor - 1;
    if (c.pressed(StickUp) && keyCursor > 9) keyCursor -= 10;
    if (c.pressed(StickDown) && keyCursor < 34) keyCursor = keyCursor + 10 > OkKey ? OkKey : keyCursor + 10;
    if (c.pressed(ButtonB)) pressKey(keyCursor);
}
