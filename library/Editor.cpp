// The playlist editor: its operations on the playlists, the two scrollable lists, the preview and
// the drawing of its views. The input handler (controls/EditorControls.cpp) calls the operations.
#include <cstdio>
#include <cstring>
#include <iostream>

#include "core/AppState.h"
#include "core/FrameBuffers.h"
#include "core/Controller.h"
#include "draw/Colours.h"
#include "draw/Text.h"
#include "core/Notice.h"
#include "library/Mix.h"
#include "library/StoredNames.h"
#include "library/XmlReader.h"
#include "tracks/FrameSource.h"
#include "tracks/Track.h"

namespace {

constexpr int RowTop = 20;
constexpr int RowHeight = 13;
constexpr int TrackHeight = 194;  // scroll-bar track height in pixels
constexpr int32_t Red = 0xDD0000;
constexpr int32_t LightGrey = 0xCCCCCC;
constexpr int UnsavedX = 100;
constexpr int MaxInsertCount = 49;  // the editor adds or moves entries only below this count

// Where an item taken from `from` lands so that it ends just before the item that was at `to`.
int landingIndex(int from, int to) { return to > from ? to - 1 : to; }

// Room for text in a list: from its x to the next column or scroll bar, less a small gap.
constexpr int ListRoom = 145;
constexpr int NameRoom = 93 - 3 - 3;  // a playlist's name ends before its percentage

// A file name cut from the front to its list's room: its end tells clips apart.
std::string shortName(const std::string& name) {
    // A live source reads "LIVE v4l2:/dev/video0" rather than as a path cut at its slashes.
    if (name == LivePrefix) return "LIVE (type a source)";
    if (isLiveEntry(name)) return fitText(uiFonts, 0, "LIVE " + name.substr(5), ListRoom, false);
    return fitText(uiFonts, 0, name, ListRoom, true);
}

void text(SDL_Surface* screen, const std::string& s, int x, int y, int32_t colour) {
    drawTextSmooth(uiFonts, screen, s.c_str(), x, y, colour, 0);
}

void highlight(SDL_Surface* screen, int x, int row) {
    fillRect(screen, x, RowTop + RowHeight * row, 150, 10, toRgb565(uiBlue));
}

void drawScrollbar(const Mix& m, SDL_Surface* screen, int s) {
    const Scroller& sc = m.scrollers[s];
    int trackX = s == 0 ? 151 : 309;
    fillRect(screen, trackX, RowTop, 8, TrackHeight, toRgb565(0x444444));
    if (sc.maxTop <= 0) return;
    int x = s == 0 ? 150 : 308;
    int h = sc.thumbHeight;
    int y = RowTop + sc.top * (TrackHeight - h) / sc.maxTop;
    fillRect(screen, x, y, 10, h, toRgb565(sc.dragging ? 0xFFB000 : 0x888888));
    // Arrow heads: three rows each, narrowing toward the ends of the thumb.
    fillRect(screen, x + 4, y + 2, 2, 1, 0);
    fillRect(screen, x + 3, y + 3, 4, 1, 0);
    fillRect(screen, x + 2, y + 4, 6, 1, 0);
    fillRect(screen, x + 2, y + h - 5, 6, 1, 0);
    fillRect(screen, x + 3, y + h - 4, 4, 1, 0);
    fillRect(screen, x + 4, y + h - 3, 2, 1, 0);
}

// After a failed save the lists show what the file does not hold: said until a save succeeds.
void drawUnsaved(const Mix& m, SDL_Surface* screen) {
    if (m.unsavedEdits) drawText(uiFonts, screen, "unsaved", UnsavedX, 6, Red, 0);
}

void drawPlaylistsView(const Mix& m, SDL_Surface* screen, SDL_Surface* texture) {
    drawText(uiFonts, screen, "playlists", 3, 6, uiPink, 0);
    drawUnsaved(m, screen);
    // The list scrolls with scroller 0, as the input handler picks and drops by top + row.
    int top = m.scrollers[0].top;
    for (int r = 0; r < VisibleRows && top + r < m.playlistCount; r++) {
        int i = top + r;
        const Playlist& p = m.playlists[i];
        int y = RowTop + RowHeight * r;
        int32_t colour = uiWhite;
        if (i == m.editPlaylist) {
            highlight(screen, 1, r);
            colour = uiBlack;
        }
        text(screen, fitText(uiFonts, 0, p.name, NameRoom, false), 3, y, colour);
        char percent[16];
        snprintf(percent, sizeof percent, "%d%%", p.ramPercent);
        text(screen, percent, 93, y, colour);
        if (p.missingCount != 0) drawNumber(uiFonts, screen, p.missingCount, 123, y, Red, 0);
        drawNumber(uiFonts, screen, p.trackCount, 133, y, colour, 0);
    }

    drawText(uiFonts, screen, "tracks", 163, 6, uiPink, 0);
    if (m.editPlaylist >= 0 && m.editPlaylist < MaxPlaylists) {
        const Playlist& p = m.playlists[m.editPlaylist];
        int top1 = m.scrollers[1].top;
        for (int r = 0; r < VisibleRows && top1 + r < p.trackCount; r++) {
            const PlaylistTrack& t = p.tracks[top1 + r];
            text(screen, shortName(t.file), 163, RowTop + RowHeight * r, t.missing ? Red : LightGrey);
        }
    }

    drawScrollbar(m, screen, 0);
    drawScrollbar(m, screen, 1);
    blitPiece(texture, 112, 0, 64, 16, screen, 5, 219);
    blitPiece(texture, 112, 32, 64, 16, screen, 74, 219);
    blitPiece(texture, 0, 0, 48, 16, screen, 143, 219);
    // RENAME: the marked playlist's name through the keyboard.
    fillRect(screen, RenameX0, 219, RenameX1 - RenameX0 + 1, 16, toRgb565(0x333333));
    drawText(uiFonts, screen, "RENAME", RenameX0 + 6, 222, uiWhite, 0);
    blitPiece(texture, 0, 32, 48, 16, screen, 267, 219);
}

void drawTracksView(const Mix& m, SDL_Surface* screen, SDL_Surface* texture) {
    // The title names the playlist being edited, cut in the middle to its room (before "unsaved").
    const std::string title = m.editPlaylist >= 0 && m.editPlaylist < MaxPlaylists
                                  ? fitTextMiddle(uiFonts, 0, "tracks of " + m.playlists[m.editPlaylist].name,
                                                  m.unsavedEdits ? UnsavedX - 8 : 150)
                                  : std::string("tracks");
    drawText(uiFonts, screen, title.c_str(), 3, 6, uiPink, 0);
    drawUnsaved(m, screen);
    if (m.editPlaylist >= 0 && m.editPlaylist < MaxPlaylists) {
        const Playlist& p = m.playlists[m.editPlaylist];
        int top = m.scrollers[0].top;
        for (int r = 0; r < VisibleRows && top + r < p.trackCount; r++) {
            int i = top + r;
            int32_t colour = uiWhite;
            if (m.dragActive && m.dragSource == 0 && i == m.selectedTrack) {
                highlight(screen, 1, r);
                colour = uiBlack;
            }
            text(screen, shortName(p.tracks[i].file), 3, RowTop + RowHeight * r, colour);
        }
    }

    drawText(uiFonts, screen, "browse files", 163, 6, uiPink, 0);
    int top1 = m.scrollers[1].top;
    for (int r = 0; r < VisibleRows && top1 + r < m.browserCount; r++) {
        int j = top1 + r;
        if (m.dragActive && m.dragSource == 1 && j == m.selectedEntry) highlight(screen, 161, r);
        text(screen, shortName(m.browserNames[j]), 163, RowTop + RowHeight * r,
             m.browserIsDir[j] ? uiBlue : uiWhite);
    }

    drawScrollbar(m, screen, 0);
    drawScrollbar(m, screen, 1);
    blitPiece(texture, 112, 0, 64, 16, screen, 5, 219);
    blitPiece(texture, 112, 16, 64, 16, screen, 74, 219);
    blitPiece(texture, 0, 48, 48, 16, screen, 267, 219);
}

void drawDragLabel(const Mix& m, SDL_Surface* screen, int x, int y) {
    if (m.dropRow >= 0 && m.dropRow <= VisibleRows) {
        fillRect(screen, 2, RowHeight * m.dropRow + 18, 150, 2, toRgb565(uiAmber));
    }
    std::string label;
    if (m.editorView == PlaylistsView) {
        if (m.selectedTrack >= 0 && m.selectedTrack < m.playlistCount) label = m.playlists[m.selectedTrack].name;
    } else if (m.dragSource == 0) {
        if (m.editPlaylist >= 0 && m.editPlaylist < MaxPlaylists) {
            const Playlist& p = m.playlists[m.editPlaylist];
            if (m.selectedTrack >= 0 && m.selectedTrack < p.trackCount) label = p.tracks[m.selectedTrack].file;
        }
    } else if (m.selectedEntry >= 0 && m.selectedEntry < m.browserCount) {
        label = m.browserNames[m.selectedEntry];
    }
    drawLabel(uiFonts, screen, label.c_str(), x, y, uiWhite, 0, uiBlue);
}

// Shows the next frame of the preview; false when there is none to show.
bool drawPreview(Mix& m, SDL_Surface* screen) {
    Track* t = m.preview;
    if (!m.previewing || !t || t->ready != Ready) return false;
    if (t->frameCount == 0) {
        m.previewing = 0;
        return false;
    }
    t->decodeFrame(1, m.previewFrame, 0);
    m.previewFrame++;
    if (m.previewFrame >= t->frameCount) m.previewFrame = 0;

    const uint16_t* frame = deckFrames + FramePixels;
    if (SDL_MUSTLOCK(screen)) SDL_LockSurface(screen);
    for (int y = 0; y < FrameHeight && y < screen->h; y++) {
        memcpy(static_cast<uint8_t*>(screen->pixels) + y * screen->pitch, frame + y * FrameWidth, FrameWidth * 2);
    }
    if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);

    fillRect(screen, 0, 4, m.previewFrame * 320 / t->frameCount, 1, 0xFFFF);
    drawLabel(uiFonts, screen, fitText(uiFonts, 0, t->name, 300, true).c_str(), 10, 10, uiWhite, 0, uiBlack);
    drawLabel(uiFonts, screen, t->hasAlpha ? "RGB+alpha" : "RGB", 10, 20, uiWhite, 0, uiBlack);
    return true;
}

}  // namespace

// --- scrollers ----------------------------------------------------------------------------------

void Mix::resetScroller(int s, int n) {
    if (s < 0 || s > 1) return;
    Scroller& sc = scrollers[s];
    sc.top = 0;
    sc.dragging = 0;
    sc.count = n;
    sc.maxTop = n - VisibleRows;
    if (sc.maxTop < 0) {
        sc.maxTop = 0;
        sc.thumbHeight = TrackHeight;
    } else {
        sc.thumbHeight = TrackHeight / (n - 14);
        if (sc.thumbHeight < 20) sc.thumbHeight = 20;
    }
}

void Mix::setScrollerCount(int s, int n) {
    if (s < 0 || s > 1) return;
    Scroller& sc = scrollers[s];
    sc.count = n;
    sc.maxTop = n - VisibleRows > 0 ? n - VisibleRows : 0;
    if (sc.top > sc.maxTop) sc.top = sc.maxTop;
    sc.thumbHeight = TrackHeight / (sc.maxTop + 1);
    if (sc.thumbHeight < 20) sc.thumbHeight = 20;
    // A list that no longer scrolls cannot stay grabbed (its drag would divide by zero).
    if (sc.maxTop == 0) sc.dragging = 0;
}

// --- operations ---------------------------------------------------------------------------------

void Mix::exitEditor() {
    puts("exit edit playlist");
    // A row or a scroll bar still under the stylus is let go here: otherwise the first release on
    // the next visit would drop it, moving or deleting a playlist nobody touched.
    dragActive = 0;
    scrollers[0].dragging = 0;
    scrollers[1].dragging = 0;
}

void Mix::renamePlaylist(int index, const std::string& name) {
    if (index < 0 || index >= std::min(playlistCount, MaxPlaylists) || name.empty()) return;
    if (playlists[index].name == name) return;
    // Renamed in the file as it is now, found there by its old name and entries.
    const Playlist picked = playlists[index];
    if (reloadIfChanged() && (index = findPlaylist(picked, index)) < 0) return;
    playlists[index].name = name;
    unsavedEdits = 1;
    if (saveXML()) unsavedEdits = 0;
}

void Mix::addPlaylist() {
    // Appended to the file as it is now, not to an older copy of it.
    reloadIfChanged();
    // Fifty records are all there are: a fifty-first playlist would be written past the last one.
    if (playlistCount < 0 || playlistCount >= MaxPlaylists) return;
    Playlist& p = playlists[playlistCount];
    p.name = newName;
    p.trackCount = 0;
    // A deleted playlist's scan figures stay with its record; an empty playlist has none.
    p.ramPercent = 0;
    p.missingCount = 0;
    p.hiddenTracks.clear();
    playlistCount++;
    editPlaylist = playlistCount - 1;  // the new playlist is the one marked
    unsavedEdits = 1;
    if (saveXML()) unsavedEdits = 0;
}

void Mix::deletePlaylist(int index) {
    if (index < 0 || index >= playlistCount) return;
    // Whole records move, scan figures included, so that every figure stays with its playlist.
    for (int i = index; i + 1 < playlistCount; i++) playlists[i] = playlists[i + 1];
    playlistCount--;
    Playlist& last = playlists[playlistCount];
    for (int j = 0; j < last.trackCount && j < MaxPlaylistTracks; j++) last.tracks[j] = PlaylistTrack{"q2x/none"};
    last.trackCount = 0;
    last.hiddenTracks.clear();
    last.name.clear();
    last.ramPercent = 0;
    last.missingCount = 0;
    unsavedEdits = 1;
}

void Mix::movePlaylist(int from, int to) {
    if (from < 0 || from >= playlistCount) return;
    if (to < 0) to = 0;
    if (to > playlistCount) to = playlistCount;
    int dest = landingIndex(from, to);
    if (dest == from) return;
    const Playlist moved = playlists[from];
    if (dest > from) {
        for (int i = from; i < dest; i++) playlists[i] = playlists[i + 1];
    } else {
        for (int i = from; i > dest; i--) playlists[i] = playlists[i - 1];
    }
    playlists[dest] = moved;
    // The mark follows the playlists it was on: EDIT, RENAME and DEL after a move act on the same one.
    if (editPlaylist == from) editPlaylist = dest;
    else if (dest > from && editPlaylist > from && editPlaylist <= dest) editPlaylist--;
    else if (dest < from && editPlaylist >= dest && editPlaylist < from) editPlaylist++;
    unsavedEdits = 1;
}

void Mix::deleteTrack(int playlist, int index) {
    if (playlist < 0 || playlist >= MaxPlaylists) return;
    Playlist& p = playlists[playlist];
    // An index past the entries would otherwise drop the last entry.
    if (p.trackCount <= 0 || index < 0 || index >= p.trackCount) return;
    // Entries move whole: a missing mark stays with its file.
    for (int j = index; j + 1 < p.trackCount; j++) p.tracks[j] = p.tracks[j + 1];
    p.trackCount--;
    // The first entry kept past the shown ones comes into view, so the order stays the file's.
    if (!p.hiddenTracks.empty()) {
        p.tracks[p.trackCount++] = PlaylistTrack{p.hiddenTracks.front()};
        p.hiddenTracks.erase(p.hiddenTracks.begin());
    }
    unsavedEdits = 1;
    setScrollerCount(0, p.trackCount);
}

void Mix::moveTrack(int from, int to) {
    if (editPlaylist < 0 || editPlaylist >= MaxPlaylists) return;
    Playlist& p = playlists[editPlaylist];
    if (p.trackCount >= MaxInsertCount) return;
    if (from < 0 || from >= p.trackCount) return;
    if (to < 0) to = 0;
    if (to > p.trackCount) to = p.trackCount;
    int dest = landingIndex(from, to);
    if (dest == from) return;
    const PlaylistTrack moved = p.tracks[from];
    if (dest > from) {
        for (int j = from; j < dest; j++) p.tracks[j] = p.tracks[j + 1];
    } else {
        for (int j = from; j > dest; j--) p.tracks[j] = p.tracks[j - 1];
    }
    p.tracks[dest] = moved;
    unsavedEdits = 1;
    setScrollerCount(0, p.trackCount);
}

void Mix::insertTrack(const std::string& file, int playlist, int position) {
    if (playlist < 0 || playlist >= MaxPlaylists) return;
    Playlist& p = playlists[playlist];
    if (p.trackCount >= MaxInsertCount) return;
    std::string prefix;
    if (!browserPrefix(*this, prefix)) return;
    const std::string stored = prefix + file;
    if (const char* problem = storedNameProblem(stored, LongestStoredText)) {
        std::cout << "not added: " << stored << ": " << problem << std::endl;
        postNotice((std::string("not added: ") + problem).c_str());
        return;
    }
    if (position < 0) position = 0;
    if (position > p.trackCount) position = p.trackCount;
    for (int j = p.trackCount; j > position; j--) p.tracks[j] = p.tracks[j - 1];
    // Not scanned yet: leaving the tracks view saves and scans.
    p.tracks[position] = PlaylistTrack{stored};
    p.trackCount++;
    unsavedEdits = 1;
    setScrollerCount(0, p.trackCount);
}

void Mix::startPreview() {
    if (!preview) preview = new Track();
    if (preview->allocated) preview->releaseBuffers();

    std::string name;
    if (dragSource == 0) {
        if (editPlaylist < 0 || editPlaylist >= MaxPlaylists) return;
        const Playlist& p = playlists[editPlaylist];
        if (selectedTrack < 0 || selectedTrack >= p.trackCount) return;
        name = p.tracks[selectedTrack].file;
    } else {
        std::string prefix;
        if (selectedEntry < 0 || selectedEntry >= browserCount || !browserPrefix(*this, prefix)) return;
        name = prefix + browserNames[selectedEntry];
    }

    previewing = 1;
    previewFrame = 0;
    preview->assign(appState.workingDir, name);
    for (;;) {
        int r = preview->loadStep(60);
        if (r == 2) break;
        if (r == 0) {
            previewing = 0;
            markUnplayable(name);
            break;
        }
    }
}

// --- drawing ------------------------------------------------------------------------------------

void drawEditor(Mix& m, SDL_Surface* screen, SDL_Surface* texture) {
    if (!screen) return;
    if (drawPreview(m, screen)) return;
    fillRect(screen, 0, 0, screen->w, screen->h, 0);
    switch (m.editorView) {
        case PlaylistsView: drawPlaylistsView(m, screen, texture); break;
        case NewPlaylistView: m.drawKeyboard(screen); break;
        case TracksView: drawTracksView(m, screen, texture); break;
        default: break;
    }
    if (m.dragActive) drawDragLabel(m, screen, controller.touchX, controller.touchY);
}
