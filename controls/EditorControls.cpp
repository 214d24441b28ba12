// The playlist editor's input: rows picked up and dropped with the stylus, two scroll bars, the
// bottom-bar buttons, and the on-screen keyboard of a new playlist.
#include <iostream>

#include "controls/Screens.h"
#include "core/AppState.h"
#include "core/Controller.h"
#include "library/Mix.h"
#include "tracks/FrameSource.h"

namespace {

constexpr int RowTop = 20;
constexpr int RowHeight = 13;
constexpr int LastVisibleRow = VisibleRows - 1;

bool inside(int v, int low, int high) { return v >= low && v <= high; }

// The list row under the stylus; y 8 to 19 also give row 0, as the division truncates toward zero.
int rowAt(int y) { return (y - RowTop) / RowHeight; }

int tracksOfEdited() {
    if (mix.editPlaylist < 0 || mix.editPlaylist >= MaxPlaylists) return 0;
    return mix.playlists[mix.editPlaylist].trackCount;
}

void releaseScrollers() {
    mix.scrollers[0].dragging = 0;
    mix.scrollers[1].dragging = 0;
}

void grabScrollers(const Controller& c) {
    if (!inside(c.touchY, 20, 214)) return;
    if (inside(c.touchX, 150, 160) && mix.scrollers[0].maxTop > 0) mix.scrollers[0].dragging = 1;
    if (inside(c.touchX, 308, 318) && mix.scrollers[1].maxTop > 0) mix.scrollers[1].dragging = 1;
}

void dragScrollers(const Controller& c) {
    for (Scroller& s : mix.scrollers) {
        if (!s.dragging) continue;
        int travel = 194 - s.thumbHeight;
        if (s.maxTop <= 0 || travel <= 0) {
            s.dragging = 0;
            continue;
        }
        int top = ((c.touchY - RowTop) * (s.count - VisibleRows)) / travel;
        if (top < 0) top = 0;
        if (top > s.maxTop) top = s.maxTop;
        s.top = top;
    }
}

void startDrag(int source) {
    mix.dragActive = 1;
    mix.dragSource = source;
    // No insertion mark until the stylus is over the left list.
    mix.dropRow = VisibleRows + 1;
}

// While the stylus is held: the insertion mark follows it over the left half, the bars follow it.
void held(const Controller& c) {
    if (c.touchX <= 159 && mix.dragActive) mix.dropRow = rowAt(c.touchY);
    dragScrollers(c);
}

bool playlistMarked() { return mix.editPlaylist >= 0 && mix.editPlaylist < mix.playlistCount; }

void openTracksView() {
    // From the top clip folder by its absolute path: the browser may have been left anywhere.
    mix.readDir(videosRoot(mix));
    mix.resetScroller(0, tracksOfEdited());
    mix.resetScroller(1, mix.browserCount);
    mix.editorView = TracksView;
}

void playlistsInput(const Controller& c) {
    if (c.pressed(ButtonX)) {
        mix.exitEditor();
        appState.screen = Screen::Home;
        return;
    }
    int x = c.touchX, y = c.touchY;
    if (c.touchDown) {
        // A release can fall between two frames; a new touch always starts with the bars let go.
        releaseScrollers();
        // A touch on the notice line ("deleted NAME: touch to undo") brings the playlist back.
        if (y < 14 && mix.undoUntil && mix.undoDelete()) {
            mix.setScrollerCount(0, mix.playlistCount);
            mix.setScrollerCount(1, tracksOfEdited());
            return;
        }
        if (inside(x, 0, 130) && inside(y, 20, 215) && mix.playlistCount > 0) {
            // The list scrolls with scroller 0, so the row picked is counted from its top.
            int row = rowAt(y) > LastVisibleRow ? LastVisibleRow : rowAt(y);
            int i = mix.scrollers[0].top + row;
            if (i > mix.playlistCount - 1) i = mix.playlistCount - 1;
            startDrag(0);
            mix.selectedTrack = i;
            mix.editPlaylist = i;
            mix.setScrollerCount(1, mix.playlists[i].trackCount);
        } else if (inside(x, 143, 191) && inside(y, 215, 231)) {
            mix.newName = "";
            mix.renamingPlaylist = -1;
            mix.editorView = NewPlaylistView;
            mix.keyCursor = 0;
        } else if (inside(x, RenameX0, RenameX1) && inside(y, 215, 234) && playlistMarked()) {
            mix.newName = mix.playlists[mix.editPlaylist].name;
            mix.renamingPlaylist = mix.editPlaylist;
            mix.editorView = NewPlaylistView;
            mix.keyCursor = 0;
        } else if (inside(x, 75, 137) && inside(y, 215, 234) && playlistMarked()) {
            openTracksView();  // a click on EDIT edits the marked playlist, as a drop onto it does
        } else if (inside(x, 267, 315) && inside(y, 215, 231)) {
            mix.exitEditor();
            appState.screen = Screen::Home;
        } else {
            grabScrollers(c);
        }
        return;
    }
    if (c.touchHeld) {
        held(c);
        return;
    }

    releaseScrollers();
    if (!mix.dragActive) return;
    mix.dragActive = 0;
    if (y >= 220 && inside(x, 6, 68)) {
        mix.deleteAndSave(mix.editPlaylist);
        mix.setScrollerCount(0, mix.playlistCount);
        mix.setScrollerCount(1, tracksOfEdited());
    } else if (y >= 220 && inside(x, 75, 137)) {
        openTracksView();
    } else if (inside(x, 0, 130) && inside(y, 20, 215)) {
        int target = mix.scrollers[0].top + rowAt(y);
        if (target > mix.playlistCount) target = mix.playlistCount;
        if (target != mix.editPlaylist) mix.moveAndSave(mix.editPlaylist, target);
    }
}

void tracksInput(const Controller& c) {
    if ((c.touchDown || c.pressed(ButtonX)) && mix.previewing) {
        mix.previewing = 0;
        return;
    }
    // Clips another program adds meanwhile (the encoder's --playlist) show up; never under a row
    // that is being dragged, whose index would then name another entry.
    if (!mix.dragActive && !c.touchHeld && mix.reloadIfChanged()) mix.setScrollerCount(0, tracksOfEdited());
    int x = c.touchX, y = c.touchY;
    int row = rowAt(y);
    if (c.touchDown) {
        releaseScrollers();
        if (inside(x, 160, 290)) {
            // Only the rows drawn hold entries; past browserCount the names are fillers.
            int e = row + mix.scrollers[1].top;
            bool entry = row >= 0 && row <= LastVisibleRow && e < mix.browserCount;
            if (entry && inside(y, 25, 220) && mix.browserIsDir[e]) {
                std::string name = mix.browserNames[e];
                mix.readDir(name);
                mix.resetScroller(1, mix.browserCount);
                return;
            }
            if (entry && inside(y, 20, 215) && mix.browserNames[e] == LivePrefix) {
                mix.newName.clear();
                mix.typingSource = 1;
                mix.editorView = NewPlaylistView;
                return;
            }
            if (entry && inside(y, 20, 215) && !mix.browserIsDir[e]) {
                startDrag(1);
                mix.selectedEntry = e;
                return;
            }
        }
        int count = tracksOfEdited();
        if (inside(x, 0, 130) && inside(y, 20, 215) && row >= 0 && count > 0) {
            int i = mix.scrollers[0].top + (row > LastVisibleRow ? LastVisibleRow : row);
            startDrag(0);
            mix.selectedTrack = i > count - 1 ? count - 1 : i;
            return;
        }
        grabScrollers(c);
        if (inside(x, 267, 315) && inside(y, 215, 231)) {
            mix.dragActive = 0;
            mix.saveEditedPlaylist();
            mix.resetScroller(0, mix.playlistCount);
            // Back in a scrolled list, the playlist just edited stays in view.
            Scroller& left = mix.scrollers[0];
            left.top = mix.editPlaylist - LastVisibleRow;
            if (left.top > left.maxTop) left.top = left.maxTop;
            if (left.top < 0) left.top = 0;
            mix.resetScroller(1, tracksOfEdited());
            mix.editorView = PlaylistsView;
        }
        return;
    }
    if (c.touchHeld) {
        held(c);
        return;
    }

    releaseScrollers();
    if (x > 159) {
        mix.dragActive = 0;
        return;
    }
    if (!mix.dragActive) return;
    mix.dragActive = 0;
    if (y >= 220 && inside(x, 75, 137)) {
        mix.startPreview();
        return;
    }
    int position = row + mix.scrollers[0].top;
    if (mix.dragSource == 0) {
        if (row >= 0 && y <= 217) mix.moveTrackAndSave(mix.selectedTrack, position);
        if (y >= 220 && x <= 68) mix.deleteTrackAndSave(mix.selectedTrack);
    } else {
        std::cout << row << std::endl;
        std::cout << y << std::endl;
        const std::string& picked = mix.browserNames[mix.selectedEntry];
        if (row >= 0 && y <= 217 && (Mix::isClipName(picked) || isLiveEntry(picked))) {
            mix.insertAndSave(picked, position);
        }
    }
}

}  // namespace

void handleEditor() {
    // The mouse wheel scrolls the list under the pointer: playlists or tracks on the left, the
    // tracks of the marked playlist or the file browser on the right.
    if (controller.wheel && mix.editorView != NewPlaylistView) {
        Scroller& s = mix.scrollers[controller.wheelX <= 159 ? 0 : 1];
        s.top += controller.wheel;
        if (s.top > s.maxTop) s.top = s.maxTop;
        if (s.top < 0) s.top = 0;
    }
    switch (mix.editorView) {
        case PlaylistsView: playlistsInput(controller); break;
        case NewPlaylistView: mix.keyboardInput(controller); break;
        case TracksView: tracksInput(controller); break;
        default: break;
    }
}
