#include "mixer/BeatLock.h"

#include <cmath>

#include "core/AppState.h"
#include "mixer/Decks.h"
#include "mixer/Options.h"
#include "tempo/TempoClock.h"
#include "tracks/Track.h"

BeatLock beatLock;

double beatsPerLoop(int32_t frameCount, double bpm, int32_t targetFps) {
    const double natural = double(frameCount) / SharedFps * bpm / 60.0;
    double best = 1;
    for (double b = 2; b <= 16; b *= 2)
        if (std::fabs(std::log(natural / b)) < std::fabs(std::log(natural / best))) best = b;
    return beatsAtRate(best, targetFps);
}

double beatsAtRate(double sharedBeats, int32_t targetFps) {
    if (targetFps > SharedFps) return sharedBeats / 2;
    if (targetFps < SharedFps) return sharedBeats * 2;
    return sharedBeats;
}

double BeatLock::sharedBeats(int deck) const {
    const Deck& d = ::decks.decks[deck];
    if (heldBeats[deck] > 0 && d.track == heldTrack[deck]) return heldBeats[deck];
    if (d.track < 0 || d.track >= TrackSlots || tracks[d.track].frameCount == 0) return 0;
    return beatsPerLoop(tracks[d.track].frameCount, tempoClock.bpm(), SharedFps);
}

void BeatLock::queue(int32_t track, double nowMs) {
    if (pendingTrack == track) return;
    const double at = tempoClock.beatAt(nowMs);
    const double unit = appState.quantise == QuantiseBar ? BeatsPerBar : 1;
    pendingTrack = track;
    pendingBeat = std::ceil(at / unit) * unit;
}

void BeatLock::reset() {
    for (BeatLockState& s : decks) s = BeatLockState();
    pendingTrack = -1;
    for (int i = 0; i < 2; i++) heldBeats[i] = 0, heldTrack[i] = -1;
}

// Puts the deck's frame at the beat phase. A change the lock did not make re-anchors the loop so
// that the frame on the deck now is where the loop stands; a clip started within one frame after
// a beat is anchored on that beat, so it stays on the beat grid.
void BeatLock::lockDeck(int index, double beat, double frameBeats) {
    Deck& d = ::decks.decks[index];
    BeatLockState& s = decks[index];
    if (d.track < 0 || d.track >= TrackSlots) return;
    const int32_t n = tracks[d.track].frameCount;
    if (n <= 0) return;
    const double beats = beatsAtRate(sharedBeats(index), ::decks.targetFps);
    const bool moved = d.track != s.track || d.position != s.position || d.direction != s.direction;
    if (moved) {
        const int32_t p = d.position < 0 || d.position >= n ? 0 : d.position;
        // The middle of the frame on the deck, so that rounding cannot step it to a neighbour.
        const int32_t fromStart = d.direction == 0 ? p : n - 1 - p;
        const double done = fromStart == 0 ? 0 : (fromStart + 0.5) / n;
        s.anchorBeat = beat - done * beats;
        const double onBeat = std::floor(s.anchorBeat);
        if (done == 0 && s.anchorBeat - onBeat <= frameBeats) s.anchorBeat = onBeat;
        s.beats = beats;
        s.loop = int64_t(std::floor((beat - s.anchorBeat) / beats));
    }
    if (beats != s.beats) {
        // A rate control held or let go: the loop keeps its anchor on the grid; only its length
        // changes.
        s.beats = beats;
        s.loop = int64_t(std::floor((beat - s.anchorBeat) / beats));
    }
    const double phase = (beat - s.anchorBeat) / beats;
    const int64_t loop = int64_t(std::floor(phase));
    if (!::decks.paused && loop > s.loop && index == 1 && d.direction == 0 && appState.mode == ModeB &&
        queuedTrack != d.track) {
        // The loop's end in mode B: the queued clip starts on the loop boundary, itself locked.
        s.anchorBeat += double(loop) * beats;
        d.track = queuedTrack;
        if (d.track >= 0 && d.track < TrackSlots) tracks[d.track].redrawFrames = 1;
        s.track = d.track;
        s.position = d.position = 0;
        s.direction = d.direction;
        s.loop = 0;
        lockDeck(index, beat, frameBeats);
        return;
    }
    s.loop = loop;
    if (::decks.paused) {
        // Frozen: the picture holds; the loop carries on underneath and the deck rejoins it.
        s.track = d.track;
        s.position = d.position;
        s.direction = d.direction;
        return;
    }
    int32_t frame = int32_t((phase - double(loop)) * n);
    if (frame >= n) frame = n - 1;
    if (frame < 0) frame = 0;
    d.position = d.direction == 0 ? frame : n - 1 - frame;
    s.track = d.track;
    s.position = d.position;
    s.direction = d.direction;
}

void BeatLock::step(double nowMs) {
    const double beat = tempoClock.beatAt(nowMs);
    const int64_t whole = int64_t(std::floor(beat));

    if (whole != lastBeat) {
        const bool first = lastBeat == INT64_MIN;
        lastBeat = whole;
        const bool bar = whole % BeatsPerBar == 0;
        const bool shown = appState.screen == Screen::Mix;  // no flash saved up for the return
        if (!first && shown && (options.beatFlash == BeatFlashEveryBeat || (options.beatFlash == BeatFlashEveryBar && bar)))
            ::decks.flash = 15;
    }

    if (pendingTrack >= 0 && beat >= pendingBeat) {
        queuedTrack = pendingTrack;
        pendingTrack = -1;
        if (appState.mode == ModeB) ::decks.switchToQueued();
    }

    for (int i = 0; i < 2; i++)
        if (heldTrack[i] != ::decks.decks[i].track) heldBeats[i] = 0, heldTrack[i] = -1;

    const double frameMs = 1000.0 / (::decks.targetFps + 1) + 1;
    const double frameBeats = frameMs / tempoClock.beatMs;
    // Mode B plays deck 1 only; deck 0 stands still there, locked or not.
    for (int i = 0; i < 2; i++)
        if (::decks.sync[i] && (i == 1 || appState.mode != ModeB)) lockDeck(i, beat, frameBeats);
        else decks[i] = BeatLockState();
}
