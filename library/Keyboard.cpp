// The on-screen keyboard that names a new playlist: 42 keys in rows of ten, worked with the stylus
// or with the stick and ButtonB.
#include <cstring>

#include "core/AppState.h"
#include "core/Controller.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "core/Notice.h"
#include "library/Mix.h"
#include "tracks/FrameSource.h"

namespace {

constexpr int KeyCount = 42;
constexpr int DelKey = 40;
constexpr int OkKey = 41;
constexpr size_t MaxNameLength = 20;
constexpr size_t MaxSourceLength = 200;  // a typed live source (a URL with its options)
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
    const char* title = typingSource                     ? "type a live source, e.g. udp://@:5000"
                        : renamingPlaylist >= 0          ? "rename the playlist"
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
        if (newName.size() < (typingSource ? MaxSourceLength : MaxNameLength)) newName += keyLabel(k);
    } else if (k == DelKey) {
        if (!newName.empty()) newName.pop_back();
    } else if (k == OkKey) {
        if (typingSource) {
            // Into the edited playlist, last, as a dropped row would be; a source that cannot
            // be a live entry stays on the keyboard to be mended.
            const std::string entry = LivePrefix + newName;
            if (newName.empty() || !frameSourceHooks.accepts || !frameSourceHooks.accepts(entry)) {
                postNotice(("not a live source: " + newName).c_str());
                return;
            }
            typingSource = 0;
            editorView = TracksView;
            if (editPlaylist >= 0 && editPlaylist < MaxPlaylists) insertTrack(entry, editPlaylist, playlists[editPlaylist].trackCount);
            return;
        }
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

void Mix::leaveKeyboard() {
    editorView = typingSource ? TracksView : PlaylistsView;
    typingSource = 0;
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
    else if (ch == 27) leaveKeyboard();
    else if (typingSource) {
        // A source is kept in the playlists file as typed: anything but markup and controls.
        if (ch >= 32 && ch <= 126 && !std::strchr("<>&", ch) && newName.size() < MaxSourceLength) newName += ch;
    } else if (nameCharacterAllowed(ch) && newName.size() < MaxNameLength) newName += ch;
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
    if (c.pressed(ButtonX)) leaveKeyboard();
    if (c.pressed(StickRight)) keyCursor = keyCursor >= OkKey ? 0 : keyCursor + 1;
    if (c.pressed(StickLeft)) keyCursor = keyCursor <= 0 ? OkKey : keyCursor - 1;
    if (c.pressed(StickUp) && keyCursor > 9) keyCursor -= 10;
    if (c.pressed(StickDown) && keyCursor < 34) keyCursor = keyCursor + 10 > OkKey ? OkKey : keyCursor + 10;
    if (c.pressed(ButtonB)) pressKey(keyCursor);
}
