// Playback of a loaded clip: the shared id selection, the per-frame set-up and finish of the two
// frame decoders, and the choice of the block loops (tracks/DecodeBlocks.h) for this processor.
// The loader has checked every record and entry, so nothing here tests the clip's bytes.
#include <climits>
#include <cstring>

#include "core/KernelVariant.h"
#if defined(__SSE2__) && !PLAIN_KERNELS
#define DECODE_SSE2 1
#include <emmintrin.h>
#else
#define DECODE_SSE2 0
#endif

#include "core/FrameBuffers.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "tracks/EntryLines.h"
#include "tracks/Track.h"
#include "tracks/TrackDecode.h"
#include "tracks/FrameSource.h"

RunLengths::RunLengths() {
    for (unsigned R = 0; R < 256; R++) {
        first[0][R] = uint8_t((R >> 5) + 1), second[0][R] = uint8_t(((R >> 2) & 7) + 1);
        first[1][R] = uint8_t((R >> 4) + 1), second[1][R] = uint8_t((R & 15) + 1);
        for (int w = 0; w < 2; w++) pair[w][R] = uint8_t(first[w][R] + second[w][R]);
        firstPalette[R] = R & 2 ? 0xFF : 0, secondPalette[R] = R & 1 ? 0xFF : 0;
        firstBytes[R] = R & 2 ? 1 : 2, secondBytes[R] = R & 1 ? 1 : 2;
    }
}
const RunLengths runLengths;

namespace decodePortable {
#define DECODE_LEVEL 0
#include "tracks/DecodeBlocks.h"
#undef DECODE_LEVEL
}  // namespace decodePortable

bool expandsEntryLines() { return DECODE_SSE2; }

// The frame decoder's own run code, into a line with room for the last run written whole.
void expandEntryLine(const uint8_t* entry, int kind, const uint64_t* paletteWide, uint16_t* line) {
    alignas(16) uint16_t full[decodePortable::LineSize];
    if ((kind & 6) == 4)
        decodePortable::separatedRuns<true>(entry, paletteWide, full);
    else
        decodePortable::separatedRuns<false>(entry, paletteWide, full);
    std::memcpy(line, full, 128);
}

void expandEntryLine17(const uint8_t* entry, const uint64_t* paletteWide, uint16_t* line) {
    alignas(16) uint16_t full[decodePortable::LineSize];
    if ((entry[0] & 7) < 2)
        decodePortable::narrowPairs(entry + 1, paletteWide, full);
    else
        decodePortable::widePairs(entry + 1, paletteWide, full);
    std::memcpy(line, full, 128);
}

namespace {


// The block loops in use: the widest set this processor runs, unless a caller chose another.
int decoderLevel = -1;
const BlockDecoders* blockDecoders = nullptr;

bool levelSupported(int level) {
    if (level == 0) return true;
#if defined(LOOPMIXER_WIDE_DECODERS)
#if defined(LOOPMIXER_FORCE_KERNELS)
    return LOOPMIXER_FORCE_KERNELS >= 32;  // the AVX2 build, also for 64: there is no wider one
#endif
    __builtin_cpu_init();
    if (level == 1) return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
#endif
    return false;
}

const BlockDecoders* decodersOf(int level) {
#if defined(LOOPMIXER_WIDE_DECODERS)
    if (level == 1) return &decodeAvx2::decoders;
#endif
    (void)level;
    return &decodePortable::decoders;
}

const BlockDecoders& chosenDecoders() {
    if (!blockDecoders) {
        decoderLevel = levelSupported(1) ? 1 : 0;
        blockDecoders = decodersOf(decoderLevel);
    }
    return *blockDecoders;
}

}  // namespace

int blockDecoderLevel() {
    chosenDecoders();
    return decoderLevel;
}

bool setBlockDecoderLevel(int level) {
    if (level < 0 || level > 1 || !levelSupported(level)) return false;
    decoderLevel = level;
    blockDecoders = decodersOf(level);
    return true;
}

void Track::prepareDecoding() {
    uint32_t u = 0;
    for (int b = 0; b < ClipBlocks; b++) {
        int n = timeline[u] & 0xFF;
        recordStart[b] = u;
        segmentCount[b] = uint8_t(n ? n : frameCount);
        u += 1 + (n ? uint32_t(n + 1) / 2 + n : frameCount);
        segmentFrom[b] = segmentUntil[b] = 0;  // no segment chosen yet
    }
    selectedFrom = selectedUntil = 0;
    int classes = (hasAlpha + 1) * 8;
    for (int c = 0; c < 16; c++) classFirst[c] = c < classes ? classStart[c] : INT32_MAX;
}

// Finds the segment of block b that holds position: one step on from the current segment when
// playback moved on, a walk from the first segment after a jump back.
void Track::seekSegment(int b, int position) {
    const uint16_t* record = timeline + recordStart[b];
    int n = record[0] & 0xFF;
    const uint16_t* lengths = record + 1;
    if (n == 0) {  // one id per frame
        segmentIndex[b] = uint8_t(position);
        segmentFrom[b] = uint8_t(position);
        segmentUntil[b] = uint8_t(position + 1);
        selectedIds[b] = lengths[position];
        return;
    }
    int s = 0, from = 0, until = (lengths[0] & 0xFF) + 1;
    if (segmentUntil[b] != 0 && position >= segmentUntil[b]) {
        s = segmentIndex[b];
        from = segmentFrom[b];
        until = segmentUntil[b];
    }
    while (position >= until) {
        s++;
        from = until;
        until += ((lengths[s >> 1] >> ((s & 1) * 8)) & 0xFF) + 1;
    }
    segmentIndex[b] = uint8_t(s);
    segmentFrom[b] = uint8_t(from);
    segmentUntil[b] = uint8_t(until);
    selectedIds[b] = lengths[(n + 1) / 2 + s];
}

void Track::selectIds(int position) {
    if (position < selectedFrom || position >= selectedUntil) {
        int from = 0, until = INT_MAX;
        for (int b = 0; b < ClipBlocks; b++) {
            if (position < segmentFrom[b] || position >= segmentUntil[b]) seekSegment(b, position);
            if (segmentFrom[b] > from) from = segmentFrom[b];
            if (segmentUntil[b] < until) until = segmentUntil[b];
        }
        selectedFrom = from;
        selectedUntil = until;
    }
    // GLITCH may rewrite currentIds; the chosen ids stay in selectedIds.
    std::memcpy(currentIds, selectedIds, ClipBlocks * sizeof(uint16_t));
}

void Track::decodeFrame(int deck, int position, int blendMode) {
    // Cheap guards against a caller's slip; the per-block loops stay free of checks.
    if (ready != Ready || deck < 0 || deck > 1 || !deckFrames) return;
    if (source) {
        // A deck put on a source keeps the position it had on a longer clip for this one frame.
        source->drawFrame(position >= 0 && position < frameCount ? position : 0, deckFrames + deck * pixelCount);
        return;
    }
    if (position < 0 || position >= frameCount) return;
    if (format == 17)
        decodeFrame17(deck, position, blendMode);
    else if (format == 18)
        decodeFrame18(deck, position, blendMode);
}

static void finishFrame(Track& t, const uint16_t* words) {
    std::memcpy(t.prevModes, words, 240 * sizeof(uint16_t));
    std::memcpy(t.prevIds, t.currentIds, ClipBlocks * sizeof(uint16_t));
    if (t.redrawFrames) t.redrawFrames--;
}

// What both formats settle once per frame: the ids of this position (sheared by GLITCH 0), whether
// GLITCH 2 draws ids as colours, whether the alpha plane is written, the mode words and the frame.
static FramePlan planFrame(Track& t, int deck, int position, int blendMode) {
    t.selectIds(position);
    const int glitchValue = effectTable.effectOn(deck, Glitch) ? effectTable.effectValue(deck, Glitch) : -1;
    if (glitchValue == 0) glitchBlocks(t.currentIds);
    return {glitchValue == 2, blendMode == 3 && deck == 1, t.modeWords + position * (ClipBlocks / 5),
            deckFrames + deck * t.pixelCount};
}

void Track::decodeFrame17(int deck, int position, int blendMode) {
    const FramePlan plan = planFrame(*this, deck, position, blendMode);
    chosenDecoders().format17(*this, plan);
    finishFrame(*this, plan.words);
}

void Track::decodeFrame18(int deck, int position, int blendMode) {
    const FramePlan plan = planFrame(*this, deck, position, blendMode);
    chosenDecoders().format18(*this, plan);
    finishFrame(*this, plan.words);
}
