#include "library/Mix.h"

#include "core/CurrentDirectory.h"

#include <cstdlib>
#include <iostream>
#include <unistd.h>

#include "library/RefusedClips.h"
#include "tracks/Track.h"

Mix mix;

void Mix::init() {
    xmlFile = nullptr;
    _totalTracks = 0;
    loading = 0;
    loadingPlaylist = 0;

    startDir = currentDirectory();
    browserPath = currentDirectory();

    editorView = PlaylistsView;
    editPlaylist = 0;
    keyCursor = 0;
    selectedTrack = 0;
    selectedEntry = 0;
    newName = "";
    typingSource = 0;

    browserCount = 0;
    dragActive = 0;
    dropRow = 0;
    unsavedEdits = 0;
    refusedClips.forget();

    for (Playlist& playlist : playlists) {
        playlist.ramPercent = 0;
        playlist.missingCount = 0;
        for (int j = 0; j < MaxPlaylistTracks; j++) playlist.tracks[j].missing = 0;
    }

    // The preview is created once and lives as long as the mix; a second init (tests start the
    // program more than once in one process) empties it instead of leaking it.
    if (!preview) {
        preview = new Track();
    } else {
        preview->clear();
    }
    previewing = 0;
    previewFrame = 0;
}

void Mix::clearMix() {
    std::cout << "clear mix | ";
    int released = 0;
    for (Track& track : tracks) {
        if (track.allocated) {
            track.releaseBuffers();
            released++;
        }
        track.ready = 0;
    }
    std::cout << "kill RAM x " << released << std::endl;
    std::cout << "mix->_totalTracks = 0;" << std::endl;
    _totalTracks = 0;
    loading = 0;
    loadedAs.clear();
}
