// The editor's operations that rewrite data/playlists.xml. The performer chose them on the list as
// it was shown; another program may have written the file since. So each one first reads the file
// again if it changed, finds its playlists there by name and entries, applies itself to that fresh
// copy and saves: a save never writes back an older copy of the file.
#include <algorithm>
#include <iostream>

#include "core/Notice.h"
#include "core/Ticks.h"
#include "library/Mix.h"

namespace {

bool sameEntries(const Playlist& a, const Playlist& b) {
    if (a.trackCount != b.trackCount) return false;
    const int used = std::min(std::max(a.trackCount, 0), MaxPlaylistTracks);
    for (int j = 0; j < used; j++)
        if (a.tracks[j].file != b.tracks[j].file) return false;
    return true;
}

}  // namespace

bool Mix::reloadIfChanged() {
    if (fileStampOf(playlistsPath()) == playlistsStamp) return false;
    std::cout << "playlists.xml changed on disk: reloaded" << std::endl;
    Playlist edited = playlists[std::min(std::max(editPlaylist, 0), MaxPlaylists - 1)];
    Playlist loadingOne = playlists[std::min(std::max(loadingPlaylist, 0), MaxPlaylists - 1)];
    loadXML();
    scanPlaylists();
    unsavedEdits = 0;  // the lists show the file again
    const int last = std::max(playlistCount - 1, 0);
    const int e = findPlaylist(edited, editPlaylist);
    editPlaylist = e >= 0 ? e : std::min(std::max(editPlaylist, 0), last);
    const int l = findPlaylist(loadingOne, loadingPlaylist);
    if (l >= 0) {
        loadingPlaylist = l;
    } else {
        // The playlist being loaded is gone: what is in RAM stays, the run stops.
        loadingPlaylist = std::min(std::max(loadingPlaylist, 0), last);
        loading = 0;
    }
    return true;
}

int Mix::findPlaylist(const Playlist& like, int hint) const {
    const int count = std::min(std::max(playlistCount, 0), MaxPlaylists);
    const bool hintUsable = hint >= 0 && hint < count;
    // The same name and entries first (at the old place, then anywhere), then the name alone.
    if (hintUsable && playlists[hint].name == like.name && sameEntries(playlists[hint], like)) return hint;
    for (int i = 0; i < count; i++)
        if (playlists[i].name == like.name && sameEntries(playlists[i], like)) return i;
    if (hintUsable && playlists[hint].name == like.name) return hint;
    for (int i = 0; i < count; i++)
        if (playlists[i].name == like.name) return i;
    return -1;
}

void Mix::deleteAndSave(int index) {
    if (index < 0 || index >= std::min(playlistCount, MaxPlaylists)) return;
    const Playlist picked = playlists[index];
    if (reloadIfChanged()) {
        index = findPlaylist(picked, index);
        if (index < 0) return;  // already gone from the file: nothing to delete, nothing to save
    }
    // Kept for a short undo: the notice offers it, a touch on the notice brings it back.
    undoPlaylist = playlists[index];
    undoIndex = index;
    undoUntil = platform::ticks() + UndoMs;
    if (undoUntil == 0) undoUntil = 1;
    deletePlaylist(index);
    // The highlight moves up with the list: past the last playlist it would open an empty record
    // that the file never holds.
    if (editPlaylist >= playlistCount) editPlaylist = playlistCount > 0 ? playlistCount - 1 : 0;
    saveAndScan();
    postNotice(("deleted " + undoPlaylist.name + ": touch to undo").c_str());
}

bool Mix::undoDelete() {
    if (undoUntil == 0 || int32_t(undoUntil - platform::ticks()) <= 0) {
        undoUntil = 0;
        return false;
    }
    undoUntil = 0;
    // Into the file as it is now, at the place it had (or last, if the list is shorter now).
    reloadIfChanged();
    if (playlistCount < 0 || playlistCount >= MaxPlaylists) {
        postNotice("can't undo: 50 playlists shown");
        return false;
    }
    playlists[playlistCount] = undoPlaylist;
    playlistCount++;
    editPlaylist = playlistCount - 1;
    movePlaylist(playlistCount - 1, std::min(std::max(undoIndex, 0), playlistCount - 1));
    unsavedEdits = 1;
    saveAndScan();
    return true;
}

void Mix::moveAndSave(int from, int to) {
    const int count = std::min(playlistCount, MaxPlaylists);
    if (from < 0 || from >= count) return;
    const Playlist picked = playlists[from];
    // The drop lands before the playlist that was at `to`, or last.
    const bool last = to >= count;
    const Playlist before = playlists[std::min(std::max(to, 0), count - 1)];
    if (reloadIfChanged()) {
        from = findPlaylist(picked, from);
        if (from < 0) return;
        to = last ? playlistCount : findPlaylist(before, to);
        if (to < 0) to = playlistCount;
    }
    movePlaylist(from, to);
    saveAndScan();
}

void Mix::saveEditedPlaylist() {
    // Every change was saved when it was made; one whose save failed is saved now.
    if (unsavedEdits) {
        saveAndScan();
    } else {
        reloadIfChanged();
    }
}

namespace {

// Where the entry that was at `index` (of the playlist as shown) is in the fresh copy: at the same
// place if it is still there, else its file's first place; `end` when the index was past the end
// or the file is gone.
int entryAgain(const Playlist& fresh, const Playlist& shown, int index, int end) {
    if (index < 0 || index >= shown.trackCount || index >= MaxPlaylistTracks) return end;
    const std::string& file = shown.tracks[index].file;
    if (index < fresh.trackCount && fresh.tracks[index].file == file) return index;
    for (int j = 0; j < fresh.trackCount && j < MaxPlaylistTracks; j++)
        if (fresh.tracks[j].file == file) return j;
    return end;
}

}  // namespace

// The edited playlist in the file as it is now; false when another program deleted it.
bool Mix::editedAgain(Playlist& shown) {
    if (editPlaylist < 0 || editPlaylist >= std::min(playlistCount, MaxPlaylists)) return false;
    shown = playlists[editPlaylist];
    if (!reloadIfChanged()) return true;
    const int index = findPlaylist(shown, editPlaylist);
    if (index < 0) return false;
    editPlaylist = index;
    return true;
}

void Mix::insertAndSave(const std::string& file, int position) {
    Playlist shown;
    if (!editedAgain(shown)) return;
    const Playlist& fresh = playlists[editPlaylist];
    insertTrack(file, editPlaylist, entryAgain(fresh, shown, position, fresh.trackCount));
    saveAndScan();
}

void Mix::moveTrackAndSave(int from, int to) {
    Playlist shown;
    if (!editedAgain(shown)) return;
    const Playlist& fresh = playlists[editPlaylist];
    from = entryAgain(fresh, shown, from, -1);
    if (from < 0) return;  // deleted outside meanwhile
    moveTrack(from, entryAgain(fresh, shown, to, fresh.trackCount));
    saveAndScan();
}

void Mix::deleteTrackAndSave(int index) {
    Playlist shown;
    if (!editedAgain(shown)) return;
    const Playlist& fresh = playlists[editPlaylist];
    index = entryAgain(fresh, shown, index, -1);
    if (index < 0) return;
    deleteTrack(editPlaylist, index);
    saveAndScan();
}

bool Mix::appendAndSave(const std::string& name, const std::string& file) {
    reloadIfChanged();
    const int count = std::min(playlistCount, MaxPlaylists);
    int index = -1;
    for (int i = 0; i < count && index < 0; i++)
        if (playlists[i].name == name && !playlists[i].unsaved) index = i;
    if (index < 0) {
        if (count >= MaxPlaylists) {
            postNotice(("no room for a playlist " + name).c_str());
            return false;
        }
        index = playlistCount++;
        playlists[index] = Playlist();
        playlists[index].name = name;
        if (playlistCount < MaxPlaylists) playlists[playlistCount].trackCount = 0;
    }
    Playlist& p = playlists[index];
    if (p.trackCount >= MaxPlaylistTracks) {
        postNotice(("playlist " + name + " is full: " + file + " not added").c_str());
        return false;
    }
    p.tracks[p.trackCount++] = PlaylistTrack{file};
    const bool saved = saveXML();
    scanPlaylists();
    return saved;
}
