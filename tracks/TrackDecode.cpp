// Playback of a loaded clip: the shared id selection, the redraw test and the two frame decoders.
// The loader has checked every record and entry, so nothing here tests the clip's bytes: ids are
// below entryCount (Format17), runs and alpha runs cover exactly 64 pixels, segments cover every
// frame.
#include <cstring>

#include "app/FrameBuffers.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "tracks/Track.h"

namespace {

constexpr int Stride = 320;

// Pixel offsets (y * 320 + x) of a block's 64 pixels for each fill mode 0..5 and variant.
struct ScanTables {
    uint16_t offset[6][2][64];
    ScanTables() {
        for (int mode = 0; mode < 6; mode++)
            for (int variant = 0; variant < 2; variant++) {
                // Modes 4 and 5 are modes 2 and 3 with the meaning of the variant swapped.
                int m = mode >= 4 ? mode - 2 : mode;
                bool columns = mode >= 4 ? !variant : variant;
                int i = 0;
                for (int outer = 0; outer < 8; outer++)
                    for (int inner = 0; inner < 8; inner++) {
                        int x = columns ? outer : inner, y = columns ? inner : outer;
                        if (m & 1) x = 7 - x;
                        if (m & 2) y = 7 - y;
                        offset[mode][variant][i++] = uint16_t(y * Stride + x);
                    }
            }
    }
};
const ScanTables scan;

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Writes the runs along the scan order until 64 pixels are done; a run that would pass the 64th
// pixel (the four-run form's last run) is cut there.
inline void fillRuns(uint16_t* cursor, const uint16_t* order, const uint16_t* length, const uint16_t* colour) {
    int p = 0;
    for (int r = 0; p < 64; r++) {
        int end = p + length[r] + 1;
        if (end > 64) end = 64;
        uint16_t c = colour[r];
        for (; p < end; p++) cursor[order[p]] = c;
    }
}

inline void fillBlock(uint16_t* cursor, uint16_t c) {
    for (int y = 0; y < 8; y++, cursor += Stride)
        for (int x = 0; x < 8; x++) cursor[x] = c;
}

inline void fillAlpha(uint8_t* plane, uint8_t a) {
    for (int y = 0; y < 8; y++, plane += Stride) std::memset(plane, a, 8);
}

inline void copyAlpha(uint8_t* plane, const uint8_t* scratch) {
    for (int y = 0; y < 8; y++, plane += Stride, scratch += 8) std::memcpy(plane, scratch, 8);
}

// AlphaRun bytes into the 64 values; returns nothing, the runs were checked to cover 64.
inline void readAlphaRuns(const uint8_t* p, uint8_t* alpha) {
    int i = 0;
    while (i < 64) {
        uint8_t a = *p++;
        int end = i + (a >> 4) + 1;
        if (end > 64) end = 64;
        std::memset(alpha + i, a & 15, size_t(end - i));
        i = end;
    }
}

}  // namespace

void Track::selectIds(int position) {
    const uint16_t* u = timeline;
    for (uint32_t b = 0; b < blockCount; b++) {
        int n = *u++ & 0xFF;
        segmentCount[b] = uint8_t(n);
        if (n > 0) {
            uint8_t sum = uint8_t((u[0] & 0xFF) + 1);
            if (position < sum) {
                segmentIndex[b] = 0;
            } else {
                for (int s = 1; s < n; s++) {
                    sum = uint8_t(sum + ((u[s >> 1] >> ((s & 1) * 8)) & 0xFF) + 1);
                    if (position < sum) {
                        segmentIndex[b] = uint8_t(s);
                        break;
                    }
                }
            }
            u += (n + 1) / 2;
        } else {
            segmentCount[b] = uint8_t(frameCount);
            segmentIndex[b] = uint8_t(position);
        }
        currentIds[b] = u[segmentIndex[b]];
        u += segmentCount[b];
    }
}

void Track::decodeFrame(int deck, int position, int blendMode) {
    // Cheap guards against a caller's slip; the per-block loops stay free of checks.
    if (ready != Ready || deck < 0 || deck > 1 || position < 0 || position >= frameCount || !deckFrames) return;
    if (format == 17)
        decodeFrame17(deck, position, blendMode);
    else if (format == 18)
        decodeFrame18(deck, position, blendMode);
}

static void finishFrame(Track& t, const uint16_t* words) {
    std::memcpy(t.prevModes, words, 240 * sizeof(uint16_t));
    std::memcpy(t.prevIds, t.currentIds, t.blockCount * sizeof(uint16_t));
    if (t.redrawFrames) t.redrawFrames--;
}

void Track::decodeFrame17(int deck, int position, int blendMode) {
    selectIds(position);
    bool glitch = effectTable.effectOn(deck, Glitch);
    int glitchValue = glitch ? effectTable.effectValue(deck, Glitch) : -1;
    if (glitchValue == 0) glitchBlocks(currentIds);
    bool idColours = glitchValue == 2;
    bool writeAlpha = blendMode == 3 && deck == 1;
    const uint16_t* words = modeWords + position * int(blockCount / 5);
    uint16_t* frame = deckFrames + deck * pixelCount;
    uint32_t b = 0;
    for (uint32_t j = 0; j < blocksDown; j++) {
        for (uint32_t k = 0; k < blocksAcross; k++, b++) {
            int shift = 12 - 3 * int(b % 5);
            int mode = (words[b / 5] >> shift) & 7;
            int prevMode = (prevModes[b / 5] >> shift) & 7;
            uint16_t id = currentIds[b];
            if (id == prevIds[b] && mode == prevMode && !redrawFrames) continue;
            cursor = frame + 8 * j * Stride + 8 * k;
            const uint8_t* entry = dictionary + entryOffsets[id];
            uint8_t type = entry[0];
            const uint8_t* p = entry + 1;
            runCoded = 0;
            switch (type & 7) {
            case 0:
            case 1: {  // narrow run pairs
                int total = 0, r = 0;
                while (total < 64) {
                    uint8_t R = *p++;
                    runLength[r] = R >> 5;
                    runPalette[r] = (R >> 1) & 1;
                    if (R & 2) runColour[r] = palette[*p++];
                    else runColour[r] = le16(p), p += 2;
                    total += runLength[r++] + 1;
                    if (total >= 64) break;
                    runLength[r] = (R >> 2) & 7;
                    runPalette[r] = R & 1;
                    if (R & 1) runColour[r] = palette[*p++];
                    else runColour[r] = le16(p), p += 2;
                    total += runLength[r++] + 1;
                }
                runCoded = 1;
                break;
            }
            case 2:
            case 3: {  // wide run pairs, palette colours
                int total = 0, r = 0;
                while (total < 64) {
                    uint8_t R = *p++;
                    runLength[r] = R >> 4;
                    runPalette[r] = 1;
                    runColour[r] = palette[*p++];
                    total += runLength[r++] + 1;
                    if (total >= 64) break;
                    runLength[r] = R & 15;
                    runPalette[r] = 1;
                    runColour[r] = palette[*p++];
                    total += runLength[r++] + 1;
                }
                runCoded = 1;
                break;
            }
            case 4:
                fillBlock(cursor, le16(p));
                p += 2;
                break;
            case 5:
                fillBlock(cursor, palette[*p++]);
                break;
            case 6: {
                uint16_t* row = cursor;
                for (int y = 0; y < 8; y++, row += Stride)
                    for (int x = 0; x < 8; x++, p += 2) row[x] = le16(p);
                break;
            }
            case 7: {
                uint16_t* row = cursor;
                for (int y = 0; y < 8; y++, row += Stride)
                    for (int x = 0; x < 8; x++) row[x] = palette[*p++];
                break;
            }
            }
            if (type & 8)
                std::memset(alphaScratch, type >> 4, 64);
            else if (hasAlpha)
                readAlphaRuns(p, alphaScratch);
            if (runCoded) {
                fillVariant = type & 1;
                if (idColours)
                    fillBlock(cursor, id);
                else if (mode < 6)
                    fillRuns(cursor, scan.offset[mode][fillVariant], runLength, runColour);
            }
            if (writeAlpha) copyAlpha(alphaPlane + 8 * j * Stride + 8 * k, alphaScratch);
        }
    }
    finishFrame(*this, words);
}

void Track::decodeEntry18(const uint8_t* entry, int entryClass) {
    int k = entryClass & 7;
    const uint8_t* p = entry;
    if (k >= 2) fillVariant = k & 1;
    switch (k) {
    case 0: {
        uint16_t* row = cursor;
        for (int y = 0; y < 8; y++, row += Stride)
            for (int x = 0; x < 8; x++, p += 2) row[x] = le16(p);
        break;
    }
    case 1: {
        uint16_t* row = cursor;
        for (int y = 0; y < 8; y++, row += Stride)
            for (int x = 0; x < 8; x++) row[x] = palette[*p++];
        break;
    }
    case 2:
    case 3: {  // four runs, the last one covering what is left
        uint16_t h = le16(p);
        p += 2;
        runLength[0] = h & 31;
        runLength[1] = (h >> 5) & 31;
        runLength[2] = (h >> 10) & 31;
        runLength[3] = 31;
        bool pal = h & 0x8000;
        int total = 0;
        for (int r = 0; total <= 63; r++) {
            runPalette[r] = pal;
            if (pal) runColour[r] = palette[*p++];
            else runColour[r] = le16(p), p += 2;
            total += runLength[r] + 1;
        }
        break;
    }
    case 4:
    case 5:
    case 6:
    case 7: {  // separated runs: run bytes, then the colours in run order
        bool narrow = k < 6;
        int total = 0, runs = 0;
        while (total <= 63) {
            uint8_t R = *p++;
            runLength[runs] = narrow ? R >> 5 : R >> 4;
            runPalette[runs] = !narrow || (R & 2);
            total += runLength[runs++] + 1;
            if (total == 64) break;
            runLength[runs] = narrow ? (R >> 2) & 7 : R & 15;
            runPalette[runs] = !narrow || (R & 1);
            total += runLength[runs++] + 1;
        }
        for (int r = 0; r < runs; r++) {
            if (runPalette[r]) runColour[r] = palette[*p++];
            else runColour[r] = le16(p), p += 2;
        }
        break;
    }
    }
    if (!hasAlpha) return;
    if (entryClass < 8) {
        std::memset(alphaScratch, 15, 64);
        return;
    }
    uint8_t a = *p++;
    if (a & 0x20)
        std::memset(alphaScratch, a & 15, 64);
    else
        readAlphaRuns(p, alphaScratch);
}

void Track::decodeFrame18(int deck, int position, int blendMode) {
    selectIds(position);
    bool glitch = effectTable.effectOn(deck, Glitch);
    int glitchValue = glitch ? effectTable.effectValue(deck, Glitch) : -1;
    if (glitchValue == 0) glitchBlocks(currentIds);
    bool idColours = glitchValue == 2;
    bool writeAlpha = blendMode == 3 && deck == 1;
    int lastClass = hasAlpha * 8 + 7;
    const uint16_t* words = modeWords + position * int(blockCount / 5);
    uint16_t* frame = deckFrames + deck * pixelCount;
    uint32_t b = 0;
    for (uint32_t j = 0; j < blocksDown; j++) {
        for (uint32_t k = 0; k < blocksAcross; k++, b++) {
            int shift = 12 - 3 * int(b % 5);
            int mode = (words[b / 5] >> shift) & 7;
            int prevMode = (prevModes[b / 5] >> shift) & 7;
            uint16_t id = currentIds[b];
            if (id == prevIds[b] && mode == prevMode && !redrawFrames) continue;
            cursor = frame + 8 * j * Stride + 8 * k;
            uint8_t* plane = alphaPlane + 8 * j * Stride + 8 * k;
            if (id >= entryCount) mode = 0;  // ids beyond the dictionary are literal colours
            if (idColours || mode == 0) {
                fillBlock(cursor, id);
                if (writeAlpha) fillAlpha(plane, 15);
                continue;
            }
            if (mode == 7) {
                fillBlock(cursor, 0);
                if (writeAlpha) fillAlpha(plane, 0);
                continue;
            }
            int c = lastClass;
            while (classStart[c] > int32_t(id)) c--;
            decodeEntry18(dictionary + entryOffsets[id], c);
            if ((c & 7) >= 2) fillRuns(cursor, scan.offset[mode - 1][fillVariant], runLength, runColour);
            if (writeAlpha) copyAlpha(plane, alphaScratch);
        }
    }
    finishFrame(*this, words);
}
