// The two decks' playback state, their frame steps and the performance overlay.
#pragma once
#include <cstdint>

struct Deck {
    int32_t track;
    int32_t position;
    int32_t direction;  // 0 forward, 1 backward
};

class Decks {
public:
    int32_t trackCount = 0;
    int32_t selectedDeck = 1;
    Deck decks[2] = {};
    int32_t paused = 0;
    int32_t blendMode = 0;
    int32_t targetFps = 25;
    int32_t page = 0;
    int32_t overlayShown = 0;
    int32_t scrubStartX = 0;
    int32_t scrubStartPos = 0;
    int32_t scrubbing = 0;
    int32_t flash = 0;
    int32_t fade = 0;
    // Beat-locked decks ("sync"): their frames follow the beat, not the frame steps. A setting,
    // kept across playlist loads.
    int32_t sync[2] = {};
    // The level an external fader holds (0..15): in mode A the fade returns to it, not to 0, while
    // ButtonA is up, and resetDecks starts the fade there. Only a controller sets it.
    int32_t fadeRest = 0;
    // A recalled look's rate and freeze: mode A returns to restFps when the rate controls are let
    // go (using them hands the rate back to the shared 25), and a frozen look stays frozen until
    // the freeze control is pressed. resetDecks ends both.
    int32_t restFps = 25;
    int32_t frozenLook = 0;

    void resetDecks();
    void advance();
    void advanceModeB();
    void switchToQueued();
    void drawOverlay();
};

extern Decks decks;
extern int32_t queuedTrack;
