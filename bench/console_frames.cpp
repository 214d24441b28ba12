// Performance frames without a screen, for counting the instructions of one output frame on the
// console build (scripts/console-bench.sh runs it under emulation with an instruction counter and
// takes the difference between two frame counts, so loading and start-up cancel out).
//
//   console-frames RUN_DIR CLIP0 CLIP1 STATE FRAMES
//
// RUN_DIR holds videos/CLIP0 (deck 0) and videos/CLIP1 (deck 1). STATE is one of
//   heaviest-alpha, heaviest-add  both decks playing, the heaviest four filters the controls set on
//                                 both (SNOW 0, BURNED 0, GAME BOY, HUE 3), blend "alpha/black
//                                 chroma" or "add", fade 7
//   eight-alpha, eight-add        the same with all eight slots on: INVERT, BURNED 0, SNOW 0, ZOOM 0,
//                                 GAME BOY, MIRROR 1, HUE 3, SCROLL 1
//   blend-N                       both decks playing, blend mode N, no filter, fade 7
//   filter-ID-VALUE               one filter pass on deck 1's frame in mixFrames, nothing else
//   unfaded-N                     both decks playing, blend mode N, no filter, no fade
//   decode-N                      the decodes of blend-N alone, without the compositor
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/FrameBuffers.h"
#include "mixer/Compositor.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "mixer/Filters.h"
#include "tracks/Track.h"

namespace {

bool load(Track& t, const std::string& dir, const char* name) {
    t.assign(dir, name);
    for (;;) {
        const int r = t.loadStep(65000);
        if (r == 2) return true;
        if (r == 0) return false;
    }
}

void filterPass(int id, int value) {
    switch (id) {
    case Mirror: applyMirror(1, value); break;
    case Scroll: applyScroll(1, value, 0); break;
    case Invert: applyInvert(1, value); break;
    case Burned: applyBurned(1, value); break;
    case Zoom: applyZoom(1, value); break;
    case Hue: applyHue(1, value); break;
    case GameBoy: applyGameBoy(1, value); break;
    case Snow: applySnow(1, value); break;
    default: break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: console-frames RUN_DIR CLIP0 CLIP1 STATE FRAMES\n");
        return 2;
    }
    const std::string dir = argv[1], state = argv[4];
    const int frames = std::atoi(argv[5]);
    allocateFrameBuffers();
    effectTable.clearEffects();
    if (!load(tracks[0], dir, argv[2]) || !load(tracks[1], dir, argv[3])) {
        std::fprintf(stderr, "console-frames: cannot load the clips from %s/videos\n", dir.c_str());
        return 1;
    }
    int id = -1, value = 0;
    if (std::sscanf(state.c_str(), "filter-%d-%d", &id, &value) == 2) {
        for (int i = 0; i < FramePixels; i++) mixFrames[FramePixels + i] = uint16_t(i * 2654435761u >> 16);
        effectTable.slots[1][0] = EffectSlot{id, value, 1, 0};
        for (int f = 0; f < frames; f++) filterPass(id, value);
        return 0;
    }
    Decks d;
    bool decodeOnly = false;
    d.decks[0].track = 0;
    d.decks[1].track = 1;
    d.fade = 7;
    if (state == "heaviest-alpha" || state == "heaviest-add") {
        d.blendMode = state == "heaviest-alpha" ? 3 : 1;
        const int ids[4] = {Snow, Burned, Hue, GameBoy}, values[4] = {0, 0, 3, 0};
        for (int deck = 0; deck < 2; deck++)
            for (int s = 0; s < 4; s++) effectTable.slots[deck][s] = EffectSlot{ids[s], values[s], 1, 0};
    } else if (state == "eight-alpha" || state == "eight-add") {
        d.blendMode = state == "eight-alpha" ? 3 : 1;
        const int ids[8] = {Invert, Burned, Snow, Zoom, GameBoy, Mirror, Hue, Scroll}, values[8] = {0, 0, 0, 0, 0, 1, 3, 1};
        for (int deck = 0; deck < 2; deck++)
            for (int s = 0; s < 8; s++) effectTable.slots[deck][s] = EffectSlot{ids[s], values[s], 1, 0};
    } else if (std::sscanf(state.c_str(), "blend-%d", &value) == 1) {
        d.blendMode = value;
    } else if (std::sscanf(state.c_str(), "unfaded-%d", &value) == 1) {
        d.blendMode = value;
        d.fade = 0;
    } else if (std::sscanf(state.c_str(), "decode-%d", &value) == 1) {
        d.blendMode = value;
        decodeOnly = true;
    } else {
        std::fprintf(stderr, "console-frames: no such state %s\n", state.c_str());
        return 2;
    }
    // As the main loop does it: deck 1 always, deck 0 when a blend mode shows it, then the compositor.
    for (int f = 0; f < frames; f++) {
        for (int deck = 1; deck >= 0; deck--) {
            Deck& k = d.decks[deck];
            if (deck == 1 || d.blendMode != 0) tracks[k.track].decodeFrame(deck, k.position, d.blendMode);
            k.position = (k.position + 1) % tracks[k.track].frameCount;
        }
        if (!decodeOnly) composite(d, d.decks[1].position, tracks[1].frameCount, true);
    }
    return 0;
}
