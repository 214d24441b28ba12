#include "memories/LookOnStage.h"

#include <algorithm>

#include "core/AppState.h"
#include "library/Mix.h"
#include "mixer/BeatLock.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "tracks/Track.h"

namespace {

int32_t clampTo(int32_t v, int32_t low, int32_t high) { return std::min(std::max(v, low), high); }

int32_t heldBeats(double beats) {
    for (int32_t b = 1; b <= 16; b *= 2)
        if (beats == b) return b;
    return 0;
}

}  // namespace

std::string loadedPlaylist() {
    const int count = std::min(std::max(mix.playlistCount, 0), MaxPlaylists);
    if (mix.loadingPlaylist < 0 || mix.loadingPlaylist >= count) return "";
    if (mix._totalTracks <= 0 && !mix.loading) return "";
    return mix.playlists[mix.loadingPlaylist].name;
}

int32_t loadedSlot(const std::string& track, int32_t slot) {
    const int32_t loaded = std::min(std::max(mix._totalTracks, 0), TrackSlots);
    if (track.empty()) return -1;
    if (slot >= 0 && slot < loaded && tracks[slot].name == track) return slot;
    for (int32_t i = 0; i < loaded; i++)
        if (tracks[i].name == track) return i;
    return -1;
}

Look lookOnStage() {
    Look l;
    l.playlist = loadedPlaylist();
    for (int d = 0; d < 2; d++) {
        const Deck& k = decks.decks[d];
        DeckLook& s = l.decks[d];
        if (k.track >= 0 && k.track < std::min(mix._totalTracks, TrackSlots)) {
            s.track = tracks[k.track].name;
            s.slot = k.track;
        }
        s.frame = clampTo(k.position, 0, 254);
        s.direction = k.direction ? 1 : 0;
        s.sync = decks.sync[d] ? 1 : 0;
        s.beats = heldBeats(beatLock.sharedBeats(d));
        for (int i = 0; i < LookSlots; i++) {
            s.on[i] = effectTable.slots[d][i].on ? 1 : 0;
            s.value[i] = clampTo(effectTable.slots[d][i].value, 0, 3);
        }
    }
    l.rate = decks.targetFps > 25 ? 40 : decks.targetFps < 25 ? 10 : 25;
    l.frozen = decks.paused ? 1 : 0;
    l.selectedDeck = decks.selectedDeck ? 1 : 0;
    l.blendMode = decks.blendMode;
    l.fade = clampTo(decks.fade, 0, 15);
    l.mode = appState.mode == ModeB ? 1 : 0;
    l.wait = appState.waitForClipEnd ? 1 + clampTo(appState.quantise, 0, 2) : 0;
    return l;
}

LookApplied applyLook(const Look& look, bool withDecks) {
    LookApplied result;
    appState.mode = look.mode;
    appState.waitForClipEnd = look.wait > 0 ? 1 : 0;
    if (look.wait > 0) appState.quantise = look.wait - 1;
    decks.selectedDeck = look.selectedDeck;
    decks.blendMode = look.blendMode;
    decks.fade = decks.fadeRest = look.fade;
    decks.targetFps = decks.restFps = look.rate;
    decks.paused = decks.frozenLook = look.frozen;
    for (int d = 0; d < 2 && withDecks; d++) {
        const DeckLook& s = look.decks[d];
        Deck& k = decks.decks[d];
        if (!s.track.empty()) {
            const int32_t slot = loadedSlot(s.track, s.slot);
            if (slot < 0) {
                result.gone[d] = true;
                continue;
            }
            k.track = slot;
            k.position = std::min<int32_t>(s.frame, std::max<int32_t>(tracks[slot].frameCount - 1, 0));
            beatLock.heldBeats[d] = s.beats;
            beatLock.heldTrack[d] = s.beats > 0 ? slot : -1;
        }
        k.direction = s.direction;
        decks.sync[d] = s.sync;
        for (int i = 0; i < LookSlots; i++) {
            effectTable.slots[d][i].on = s.on[i];
            effectTable.slots[d][i].value = s.value[i];
        }
    }
    // The decoders redraw every block of both decks: the blend mode or the clip may have changed.
    for (const Deck& k : decks.decks)
        if (k.track >= 0 && k.track < TrackSlots) tracks[k.track].invalidate();
    return result;
}
