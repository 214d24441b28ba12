// The filters that change each pixel on its own, taking their input from a given frame: the
// compositor runs the first filter of a deck straight from the decoded frame instead of copying it
// into mixFrames first. The source may also be the deck's own half of mixFrames (then the filter
// works in place, as applyInvert and the others do).
#pragma once
#include <cstdint>

void invertInto(int deck, int value, const uint16_t* source);
void burnedInto(int deck, int value, const uint16_t* source);
void snowInto(int deck, int value, const uint16_t* source);
void gameBoyInto(int deck, int value, const uint16_t* source);
void hueInto(int deck, int value, const uint16_t* source);

// A deck's filters that change each pixel on its own (INVERT, BURNED, SNOW, GAME BOY, HUE) run as
// one pass when they compose: once a brightness filter (BURNED, GAME BOY, HUE) has run, a pixel is
// one of at most 188 colours, so what the rest of the chain makes of it is a small table per
// colour (and per noise value when SNOW comes after). Only INVERT may come before that filter
// (it turns the brightness round), not SNOW. All but SNOW change every pixel alike, so they give
// the same frame before or after the filters that move pixels (ZOOM, MIRROR, SCROLL); SNOW comes
// before all of those in the fixed order. Without a vector unit only: there one table pass costs
// about what one filter pass costs.
struct ComposedFilters {
    enum { Max = 5 };
    int ids[Max], values[Max], count = 0;  // in the fixed order
    int noiseLength = 0;                   // SNOW's pattern, drawn at SNOW's turn: 0 before
    uint8_t noise[1536];                   // the pattern's noise values (0..19) doubled, run on past one period
};
// Fills c from the deck's slots; false when the deck's filters do not compose (or on a vector unit).
bool composeFilters(int deck, ComposedFilters& c);
// SNOW's turn in the fixed order: draws its pattern from the generator, as SNOW's own pass does.
void drawComposedSnow(ComposedFilters& c, int value);
// The composed pass from source (a decoded frame or the deck's half) into the deck's half.
void composedInto(int deck, const ComposedFilters& c, const uint16_t* source);
// The composed pass and then ZOOM 0 as one pass: ZOOM 0 enlarges only the frame's centre quarter,
// so only the centre goes through the chain, a row at a time, straight into the enlarged rows.
void composedZoomInto(int deck, const ComposedFilters& c, const uint16_t* source);

// A chain's tables for one frame, for running it a piece at a time inside another pass (the blend),
// so that its output never goes out to memory and back.
struct LevelSplit;
struct ComposedTables {
    enum { LongestPiece = 1024 };  // the noise pattern runs on that far past its period
    const LevelSplit* split;       // the level of a pixel from its high and low byte
    bool noisy;                    // SNOW is in the chain: rowOf, else colours
    uint32_t colours[188];         // the colour for each level
    const uint16_t* rowOf[188];    // the row of 20 colours (one per noise value) for each level
    uint16_t out[188 * 20];
    const uint8_t* noise;          // the chain's (after SNOW's turn)
    int noiseLength;
    explicit ComposedTables(const ComposedFilters& c);
};
// Pixels at .. at + count - 1 of source (at and count even, count at most LongestPiece) through the
// chain into out[0 .. count - 1], as composedInto makes them.
void composedPiece(const ComposedTables& t, const uint16_t* source, uint16_t* out, int at, int count);
