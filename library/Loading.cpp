#include <algorithm>
#include <iostream>

#include "core/AppState.h"
#include "core/Notice.h"
#include "library/Mix.h"
#include "library/RefusedClips.h"
#include "tracks/FrameSource.h"
#include "tracks/Track.h"

namespace {

constexpr int FirstSlotBudget = 65000;
constexpr int SlotBudget = 800;
constexpr int64_t RamPercentDivisor = 250000;

// Entries a run or a scan may look at: never past the 51 records of a playlist, whatever the
// count says.
int usedTracks(const Playlist& playlist) {
    return std::min(std::max(playlist.trackCount, 0), MaxPlaylistTracks);
}

std::string clipPath(const std::string& file) { return appState.workingDir + "/videos/" + file; }

// ramPercent and missingCount from the entries' flags and estimates.
void recountFigures(Playlist& playlist) {
    // 64 bits: 51 estimates of large headers overflow a 32-bit sum.
    int64_t sum = 0;
    playlist.missingCount = 0;
    const int used = usedTracks(playlist);
    for (int j = 0; j < used; j++) {
        const PlaylistTrack& entry = playlist.tracks[j];
        if (entry.missing) {
            playlist.missingCount++;
        } else {
            sum += entry.estimate;
        }
    }
    playlist.ramPercent = static_cast<int32_t>(sum / RamPercentDivisor);
}

}  // namespace

void Mix::scanPlaylists() {
    const int count = std::min(std::max(playlistCount, 0), MaxPlaylists);
    for (int p = 0; p < count; p++) {
        Playlist& playlist = playlists[p];
        const int used = usedTracks(playlist);
        for (int j = 0; j < used; j++) {
            PlaylistTrack& entry = playlist.tracks[j];
            if (isLiveEntry(entry.file) && frameSourceHooks.accepts) {
                // Nothing to probe: a live source holds one picture, and may be off at the moment.
                entry.missing = frameSourceHooks.accepts(entry.file) ? 0 : 1;
                entry.estimate = entry.missing ? 0 : 1;
                continue;
            }
            const std::string path = clipPath(entry.file);
            int32_t estimate = Track::probe(path);
            // The header alone can look right on a clip that loading refused further in.
            if (estimate != 0 && refusedClips.holds(path)) estimate = 0;
            entry.estimate = estimate;
            entry.missing = estimate == 0 ? 1 : 0;
        }
        recountFigures(playlist);
    }
}

void Mix::markUnplayable(const std::string& file) {
    refusedClips.remember(clipPath(file));
    const int count = std::min(std::max(playlistCount, 0), MaxPlaylists);
    for (int p = 0; p < count; p++) {
        Playlist& playlist = playlists[p];
        bool changed = false;
        const int used = usedTracks(playlist);
        for (int j = 0; j < used; j++) {
            PlaylistTrack& entry = playlist.tracks[j];
            if (entry.file != file || entry.missing) continue;
            entry.missing = 1;
            changed = true;
        }
        if (changed) recountFigures(playlist);
    }
}

void Mix::saveAndScan() {
    if (!unsavedEdits) {
        std::cout << "playlists unchanged: nothing saved" << std::endl;
        return;
    }
    // A failed save leaves the edits unsaved: the editor says so, and the next change saves them.
    if (saveXML()) unsavedEdits = 0;
    scanPlaylists();
}

void Mix::loadPlaylist(int index) {
    for (Track& track : tracks)
        if (track.allocated) track.clear();

    loadPosition = 0;
    loading = 1;
    _totalTracks = 0;
    // An index outside the used playlists loads nothing; keeping loadingPlaylist inside the array
    // lets the progress line read its trackCount safely.
    const bool valid = index >= 0 && index < std::min(playlistCount, MaxPlaylists);
    loadingPlaylist = (index >= 0 && index < MaxPlaylists) ? index : 0;
    loadedAs = valid ? playlistSignature(playlists[loadingPlaylist]) : std::string();

    if (!valid || usedTracks(playlists[loadingPlaylist]) == 0) {
        finishLoading();
        return;
    }
    tracks[0].assign(appState.workingDir, playlists[loadingPlaylist].tracks[0].file);
}

void Mix::continueLoading() {
    if (!loading) return;

    const Playlist& playlist = playlists[loadingPlaylist];
    const int used = usedTracks(playlist);
    const int slot = _totalTracks;
    Track& track = tracks[slot];

    int result = track.loadStep(slot == 0 ? FirstSlotBudget : SlotBudget);
    if (result == 1) return;

    loadPosition++;
    if (result == 2) {
        _totalTracks = slot + 1;
        if (loadPosition >= used || _totalTracks >= TrackSlots) {
            finishLoading();
            return;
        }
        tracks[slot + 1].assign(appState.workingDir, playlist.tracks[loadPosition].file);
        return;
    }

    // A clip rejected after its header was read still owns buffers; the slot is reused for the
    // next file and must be empty before it is assigned again.
    if (track.allocated) track.releaseBuffers();
    markUnplayable(playlist.tracks[loadPosition - 1].file);
    track.ready = 0;
    if (loadPosition >= used) {
        finishLoading();
        return;
    }
    track.assign(appState.workingDir, playlist.tracks[loadPosition].file);
}

void Mix::finishLoading() {
    std::cout << ">> playlist loading complete" << std::endl << std::endl;
    loading = 0;
    // Otherwise the performer only sees a black picture.
    if (_totalTracks == 0) {
        const bool known = loadingPlaylist >= 0 && loadingPlaylist < std::min(playlistCount, MaxPlaylists);
        postNotice(known ? ("no playable clip in " + playlists[loadingPlaylist].name).c_str()
                         : "no playlists: make one in EDIT");
    }
}

std::string playlistSignature(const Playlist& p) {
    std::string text = p.name;
    for (int i = 0; i < p.trackCount && i < MaxPlaylistTracks; i++) text += '\n' + p.tracks[i].file;
    return text;
}

bool Mix::loadedPlaylistUnchanged() const {
    if (loadedAs.empty() || loadingPlaylist < 0 || loadingPlaylist >= std::min(playlistCount, MaxPlaylists)) return false;
    return playlistSignature(playlists[loadingPlaylist]) == loadedAs;
}
