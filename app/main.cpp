#include <cstdlib>
#include <ctime>

#include "Frame/DGE_Frame.h"
#include "app/MainLoop.h"
#include "core/Platform.h"
#include "app/Startup.h"
#include "mixer/Random.h"

// rand() and SNOW and GLITCH's own copy of its generator are seeded once, with the same time,
// before anything else runs.
static const int randomSeeded = [] {
    const unsigned now = unsigned(time(nullptr));
    srand(now);
    seedRandom(now);
    return 1;
}();

int main(int, char**) {
    (void)randomSeeded;
    (void)&g_cFrame;  // the vendor frame object is part of the program
    if (!startUp()) return 1;
    bool run = true;
    while (run) {
        if (!runFrame()) {
            run = false;
            break;
        }
        // Sleep instead of spinning until the next frame is due.
        if (uint32_t wait = msUntilNextFrame()) platform::delay(wait);
    }
    return shutDown();
}
