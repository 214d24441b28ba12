// Format18 entries of separated runs (classes 4..7), and the run-coded entries (types 0..3) of a
// Format17 clip without alpha, expanded once at load into their 64 colours in scan order, so that
// the frame decoder of a vector build only puts a ready line into the block.
// Busy footage draws a different entry at nearly every block, mostly runs of one or two pixels:
// expanding ~40 runs per block every frame cost more than copying 128 bytes. Costs 128 bytes of
// RAM per such entry (at most 8 MB for a clip; a Format17 clip, whose entries are not grouped by
// kind, takes a line for every entry), so builds without a vector unit (the console) keep
// decoding the runs.
#pragma once
#include <cstdint>

// Whether this build's frame decoders draw separated-run entries from expanded lines.
bool expandsEntryLines();

// The 64 colours of a checked separated-run entry of class & 7 = kind (4 narrow, 6 wide; the
// variant bit is ignored), in run order, into line, decoded as the frame decoder decodes runs.
void expandEntryLine(const uint8_t* entry, int kind, const uint64_t* paletteWide, uint16_t* line);

// The same for a checked Format17 entry of type 0..3 (entry[0] is its type byte).
void expandEntryLine17(const uint8_t* entry, const uint64_t* paletteWide, uint16_t* line);
