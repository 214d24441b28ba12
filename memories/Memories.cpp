#include "memories/Memories.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "core/AppState.h"
#include "core/Notice.h"
#include "library/SafeSave.h"
#include "memories/LookOnStage.h"
#include "mixer/Decks.h"
#include "tempo/TempoClock.h"

Memories memories;

namespace {

// The playlist index by name, -1 when the library has none of that name.
int playlistNamed(const std::string& name) {
    const int count = std::min(std::max(mix.playlistCount, 0), MaxPlaylists);
    for (int i = 0; i < count; i++)
        if (mix.playlists[i].name == name) return i;
    return -1;
}

bool inRange(int32_t number) { return number >= 1 && number <= MemoryCount; }

void notify(const char* format, int32_t number, const std::string& a = "", const std::string& b = "") {
    char text[NoticeChars];
    std::snprintf(text, sizeof text, format, int(number), a.c_str(), b.c_str());
    std::cout << text << std::endl;
    postNotice(text);
}

}  // namespace

void Memories::init(const std::string& folder) {
    path = (folder.empty() ? std::string(".") : folder) + "/data/memories.xml";
    current = storeArmed = pending = 0;
    waitingForClips = false;
    readFile();
}

void Memories::readFile() {
    for (int k = 0; k < MemoryCount; k++) {
        looks[k] = Look();
        stored[k] = 0;
    }
    stamp = fileStampOf(path);
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return;  // older runs had no memories
    const int read = readMemories(f, looks, stored);
    std::fclose(f);
    std::cout << "memories: " << read << " read" << std::endl;
}

bool Memories::reloadIfChanged() {
    if (fileStampOf(path) == stamp) return false;
    std::cout << "memories.xml changed on disk: reloaded" << std::endl;
    readFile();
    return true;
}

bool Memories::store(int32_t number) {
    if (!inRange(number)) return false;
    reloadIfChanged();
    const Look look = lookOnStage();
    if (!namesStorable(look)) {
        notify("memory %d not stored: a name is too long or holds < > &", number);
        return false;
    }
    looks[number - 1] = look;
    stored[number - 1] = 1;
    current = number;
    recalledLook = look;
    int error = 0;
    if (!saveFileSafely(path, memoriesText(looks, stored), &error)) {
        postNotice(("can't save memories: " + saveFailureReason(error)).c_str());
        return false;
    }
    stamp = fileStampOf(path);
    std::cout << "memory " << number << " stored" << std::endl;
    return true;
}

void Memories::recall(int32_t number, double nowMs) {
    if (!inRange(number)) return;
    reloadIfChanged();
    if (!stored[number - 1]) {
        notify("memory %d is empty", number);
        return;
    }
    pending = number;
    pendingLook = looks[number - 1];
    withDecks = true;
    waitingForClips = false;
    if (!pendingLook.playlist.empty()) {
        const bool inRam = loadedPlaylist() == pendingLook.playlist;
        const int index = inRam ? mix.loadingPlaylist : playlistNamed(pendingLook.playlist);
        if (index < 0) {
            // The decks keep what they play; the rest of the look comes back.
            notify("memory %d: playlist %s is gone", number, pendingLook.playlist);
            withDecks = false;
        } else if (!inRam) {
            std::cout << "memory " << number << ": loading " << pendingLook.playlist << std::endl;
            mix.loadingPlaylist = index;
            mix.clearMix();
            decks.resetDecks();
            mix.loadPlaylist(index);
        }
        if (index >= 0 && mix.loading) waitingForClips = true;
    }
    if (!waitingForClips) schedule(nowMs);
    step(nowMs);
}

void Memories::schedule(double nowMs) {
    // The wait setting in force when the look is ready, as for a mode-B trigger.
    const int32_t q = appState.waitForClipEnd ? appState.quantise : QuantiseClipEnd;
    const double unit = q == QuantiseBar ? BeatsPerBar : q == QuantiseBeat ? 1 : 0;
    pendingBeat = unit > 0 ? std::ceil(tempoClock.beatAt(nowMs) / unit) * unit : -INFINITY;
}

void Memories::step(double nowMs) {
    if (pending && waitingForClips) {
        if (loadedPlaylist() != pendingLook.playlist) {
            pending = 0;  // another playlist was chosen (or the slots freed) meanwhile: that choice wins
            waitingForClips = false;
        } else {
            bool ready = true;
            for (const DeckLook& d : pendingLook.decks)
                if (!d.track.empty() && loadedSlot(d.track, d.slot) < 0) ready = false;
            // Every clip the look needs is in RAM, or the run is over without one of them.
            if (ready || !mix.loading) {
                waitingForClips = false;
                schedule(nowMs);
            }
        }
    }
    if (pending && !waitingForClips && tempoClock.beatAt(nowMs) >= pendingBeat) land();
    if (current && !lookOnStage().sameSettings(recalledLook)) current = 0;
}

void Memories::land() {
    const int32_t number = pending;
    pending = 0;
    const LookApplied applied = applyLook(pendingLook, withDecks);
    const DeckLook* d = pendingLook.decks;
    if (applied.gone[0] && applied.gone[1])
        notify("memory %d: %s and %s are gone, decks kept", number, d[1].track, d[0].track);
    else if (applied.gone[1])
        notify("memory %d: %s is gone, deck 1 kept", number, d[1].track);
    else if (applied.gone[0])
        notify("memory %d: %s is gone, deck 0 kept", number, d[0].track);
    current = number;
    recalledLook = lookOnStage();
    std::cout << "memory " << number << " recalled" << std::endl;
}
