// A small lossless encoder over the clip writer: frames of RGB565 pixels (and 4-bit alpha) become
// a clip that decodes back to exactly those frames. Each block of each frame gets the smallest
// form the format offers (flat colour, runs in the best scan order, raw pixels); identical blocks
// share one entry and a block that does not change keeps its entry. Used by the demo clips and
// the tests; a real video wants the lossy encoder of tools/encode.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/clip/ClipWriter.h"

namespace clipwriter {

struct SourceClip {
    uint8_t format = 18;
    uint8_t hasAlpha = 0;
    uint16_t frameCount = 0;
    uint16_t palette[256] = {};
    std::vector<uint16_t> pixels;  // frameCount x 76,800, frame after frame, row-major
    std::vector<uint8_t> alpha;    // frameCount x 76,800 values 0..15 when hasAlpha, else empty

    SourceClip(uint8_t format, uint8_t hasAlpha, uint16_t frameCount);
    uint16_t* frame(int f) { return pixels.data() + size_t(f) * 76800; }
    uint8_t* alphaFrame(int f) { return alpha.data() + size_t(f) * 76800; }
};

// false (with why) when the clip does not fit the format's limits.
bool encodeLossless(const SourceClip& source, ClipFile& out, std::string* why = nullptr);

}  // namespace clipwriter
