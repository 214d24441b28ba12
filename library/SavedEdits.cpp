// The editor's operations that rewrite data/playlists.xml. The performer chose them on the list as
// it was shown; another program may have written the file since. So each one first reads the file
// again if it changed, finds its playlists there by name and entries, applies itself to that fresh
// copy and saves: a save never writes back an older copy of the file.
#include <algorithm>
#include <iostream>

#include "core/Notice.h"
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
    deletePlaylist(index);
    // The highlight moves up with the list: past the last playlist it would open an empty record
    // that the file never holds.
    if (editPlaylist >= playlistCount) editPlaylist = playlistCount > 0 ? playlistCount - 1 : 0;
    saveAndScan();
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
    const int count = std::min(playlistCount, MaxPlaylists);
    if (editPlaylist < 0 || editPlaylist >= count) {
        saveAndScan();
        return;
    }
    const Playlist edited = playlists[editPlaylist];
    // Nothing changed in the tracks view: the fresh file, if any, is taken as it is.
    if (!unsavedEdits) {
        reloadIfChanged();
        saveAndScan();
        return;
    }
    if (reloadIfChanged()) {
        int index = findPlaylist(editedBefore, editPlaylist);
        if (index < 0) {
            // Deleted outside while it was being edited: the performer's entries come back at the end.
            if (playlistCount >= MaxPlaylists) return;
            index = playlistCount++;
        }
        playlists[index] = edited;
        editPlaylist = index;
    }
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
