// A look: everything a performer sets up on the two decks that a memory keeps and brings back.
// Clips and the playlist are kept by name, so that a look outlives the loading order of the slots.
#pragma once
#include <cstdint>
#include <string>

constexpr int LookSlots = 8;  // effect slots per deck

struct DeckLook {
    std::string track;   // the clip's file as its playlist names it; "" when the deck had none
    int32_t slot = 0;    // the track slot it played in: the choice among equal names
    int32_t frame = 0;
    int32_t direction = 0;  // 0 forward, 1 backward
    int32_t sync = 0;       // beat-locked
    int32_t beats = 0;      // beats per loop at the shared rate (1..16), 0 when unknown
    int32_t on[LookSlots] = {};
    int32_t value[LookSlots] = {};
};

struct Look {
    std::string playlist;  // the playlist loaded; "" when none was
    DeckLook decks[2];
    int32_t rate = 25;     // frames per second: 10, 25 or 40 (the decks share it)
    int32_t frozen = 0;    // the decks share the freeze as well
    int32_t selectedDeck = 1;
    int32_t blendMode = 0;
    int32_t fade = 0;      // 0..15
    int32_t mode = 0;      // 0 mode A, 1 mode B
    int32_t wait = 0;      // 0 don't wait, 1 the clip's end, 2 the next beat, 3 the next bar

    // Every field but the decks' frames, which move by themselves while the look plays.
    bool sameSettings(const Look& other) const;
    // Every value within its range (a file can hold anything).
    bool valid() const;
};
