// libFuzzer entry over the clip loader and both decoders: arbitrary bytes as a clip file, loaded
// step by step as the program does, then every frame decoded on both decks, GLITCH off and on.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/FrameBuffers.h"
#include "mixer/EffectTable.h"
#include "tracks/Track.h"

static std::string clipFolder() {
    static std::string dir = [] {
        char path[] = "/tmp/clip-fuzz-XXXXXX";
        std::string d = mkdtemp(path) ? path : "/tmp";
        std::system(("mkdir -p '" + d + "/videos'").c_str());
        return d;
    }();
    return dir;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4 << 20) return 0;  // a clip is a few MB at most; keeps runs fast
    allocateFrameBuffers();
    static Track* track = new Track;  // one slot reused, as the program reuses its slots
    std::string path = clipFolder() + "/videos/fuzz.q18";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    track->assign(clipFolder(), "fuzz.q18");
    int r = 1;
    for (int step = 0; r == 1 && step < 200; step++) r = track->loadStep(size & 1 ? 800 : 65000);
    if (r == 2) {
        for (int pass = 0; pass < 3; pass++) {
            effectTable.clearEffects();
            if (pass > 0) effectTable.slots[1][0] = EffectSlot{8, pass == 1 ? 0 : 2, 1, 0};
            for (int p = 0; p < track->frameCount; p++) {
                track->decodeFrame(1, p, 3);
                track->decodeFrame(0, track->frameCount - 1 - p, 3);
            }
            track->invalidate();
        }
    }
    track->releaseBuffers();
    return 0;
}
