// Turns quantised frames into a clip: per block and frame, the cheapest of keeping what the
// block showed in the frame before, a literal colour or black (Format18), an entry already in
// the dictionary that looks the same within the tolerance, or a new entry. Then the palette,
// the format's limits and the block timelines.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/clip/ClipWriter.h"
#include "tools/encode/BlockCoder.h"
#include "tools/encode/Input.h"

namespace encode {

struct EncodeParams {
    int format = 18;    // 17 or 18
    int quality = 100;  // 1..100: 100 keeps every pixel exact (see toleranceFor)
};

// What quality q lets a block lose: below 100 its error weighs against bytes, and a new entry
// keeps the block at least 30 + 0.4 (q - 50) dB from quality 60 up, 6 dB less up to 40 (unless
// the clip is held by the entry limit; the aim between rises more slowly around 50), no pixel of it moving by more than one level per channel
// (two for green) above quality 90, one more per 10 below. Keeping what a block showed or its
// mean colour is priced at its error alone.
Tolerance toleranceFor(int quality);

struct EncodedClip {
    clipwriter::ClipFile clip;
    // What the program's decoder must show for each frame (colours and, with alpha, 0..15).
    std::vector<std::vector<uint16_t>> pictures;
    std::vector<std::vector<uint8_t>> alphas;
    int mergedEntries = 0;  // entries folded into others to respect the 65535-entry limit
    int heldBack = 0;       // changed blocks shown without a new entry, for the same limit
};

// Limits of the format that the encoder respects.
constexpr int MaxEntries = 65535;
constexpr int MaxFrames = 255;

// progress(frames coded, frameCount) after each frame.
void encodeFrames(const InputClip& input, const EncodeParams& params, EncodedClip& out,
                  const ProgressFn& progress, int maxEntries = MaxEntries);

// Size of a clip in the editor's RAM estimate (the same sum the track probe makes).
int64_t ramEstimate(const clipwriter::ClipFile& clip);

}  // namespace encode
