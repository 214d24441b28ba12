// What the beat does to the decks, once per frame after the controls: beat-locked loops on the
// decks set to "sync", mode-B triggers that wait for the next beat or bar, and the beat flash.
#pragma once
#include <cstdint>

constexpr int32_t SharedFps = 25;  // the deck rate when no rate control is held

// Beats per loop that a clip of frameCount frames gets: 1, 2, 4, 8 or 16, the nearest (by ratio)
// to its natural length at the shared rate, halved while the rate control asks for 40 frames per
// second and doubled while it asks for 10.
double beatsPerLoop(int32_t frameCount, double bpm, int32_t targetFps);
// Beats per loop at the shared rate, halved at 40 frames per second and doubled at 10.
double beatsAtRate(double sharedBeats, int32_t targetFps);

// One deck's lock: the beat at which its loop began, and what the lock last put on the deck (any
// other change, a new clip, a scrub, a swap or a turn of direction, re-anchors it there).
struct BeatLockState {
    double anchorBeat = 0;
    double beats = 0;
    int64_t loop = 0;
    int32_t track = -1, position = -1, direction = -1;
};

class BeatLock {
public:
    BeatLockState decks[2];
    int32_t pendingTrack = -1;  // a mode-B trigger waiting for its beat
    double pendingBeat = 0;
    int64_t lastBeat = INT64_MIN;
    // Beats per loop (at the shared rate) that a recalled look gave the clip then on each deck,
    // instead of the ones its length gives; it holds until the deck plays another clip.
    double heldBeats[2] = {};
    int32_t heldTrack[2] = {-1, -1};

    // A mode-B trigger under beat or bar quantise: the track goes on deck 1 on the first frame at
    // or after the next beat (bar). A held trigger repeating every frame keeps its first beat.
    void queue(int32_t track, double nowMs);
    void step(double nowMs);
    void reset();  // a playlist load starts every lock afresh
    // The deck's beats per loop at the shared rate: the held ones, or those of its clip's length.
    double sharedBeats(int deck) const;

private:
    void lockDeck(int deck, double beat, double frameBeats);
};

extern BeatLock beatLock;
