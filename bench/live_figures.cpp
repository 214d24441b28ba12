// The live input's figures, in real time (they are about time): run from a run folder (build/run).
//   live_figures SOURCE SECONDS [sample]
//     plays SOURCE (a --live source) on deck 1 at 25 fps with the real clock for SECONDS and
//     prints the latency from a picture's arrival (its packet read, or its due time for a
//     generated source) to the frame that shows it (median, p95), and the decoding thread's
//     processor time as a share of one core. With "sample", then samples two seconds and prints
//     the frames and time from the end of the take to the clip playing, and to its file saved.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <vector>

#include <SDL/SDL.h>

#include "app/MainLoop.h"
#include "app/Startup.h"
#include "core/AppState.h"
#include "core/LaunchOptions.h"
#include "core/Platform.h"
#include "library/Mix.h"
#include "live/LiveSource.h"
#include "live/Sampler.h"
#include "mixer/Decks.h"
#include "tracks/Track.h"

static void play(uint32_t ms) {
    const uint32_t end = platform::ticks() + ms;
    while (platform::ticks() < end) {
        runFrame();
        if (uint32_t wait = msUntilNextFrame()) platform::delay(wait);
    }
}

static double cpuSeconds(int who) {
    rusage u;
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

static double percentile(std::vector<int64_t> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return double(v[std::min(v.size() - 1, size_t(p * double(v.size())))]) / 1000.0;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: live_figures SOURCE SECONDS [sample]\n");
        return 2;
    }
    const int secs = std::max(1, std::atoi(argv[2]));
    const bool sample = argc > 3 && std::strcmp(argv[3], "sample") == 0;
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    launchOptions.liveSources.push_back(argv[1]);
    if (!startUp()) return 1;
    appState.screen = Screen::Mix;
    appState.mixView = ChoosingPlaylist;
    play(100);
    platform::setScriptedButton(2, true);  // B in the chooser: load the first playlist ("Live")
    play(100);
    platform::setScriptedButton(2, false);
    play(2000);  // opening the source
    LiveSource* source = dynamic_cast<LiveSource*>(tracks[decks.decks[1].track].source);
    if (!source) {
        std::fprintf(stderr, "no live source on deck 1\n");
        return 1;
    }
    const int64_t cpu0 = source->threadCpuNs(), pictures0 = source->picturesDecoded();
    const double process0 = cpuSeconds(RUSAGE_SELF), main0 = cpuSeconds(RUSAGE_THREAD);
    const int64_t wall0 = liveClockUs(), frames0 = framesRun;
    play(uint32_t(secs) * 1000);
    const double wall = double(liveClockUs() - wall0) / 1e6;
    const double others = cpuSeconds(RUSAGE_SELF) - process0 - (cpuSeconds(RUSAGE_THREAD) - main0);
    const double mainShare = (cpuSeconds(RUSAGE_THREAD) - main0) / wall;
    const std::vector<int64_t> lat = source->latencies();
    std::printf("%s, %d s: %lld pictures decoded, %lld frames shown (%.1f fps)\n", argv[1], secs,
                (long long)(source->picturesDecoded() - pictures0), (long long)(framesRun - frames0),
                double(framesRun - frames0) / wall);
    std::printf("  latency arrival to frame: median %.1f ms, p95 %.1f ms (%zu pictures)\n", percentile(lat, 0.5),
                percentile(lat, 0.95), lat.size());
    std::printf("  live threads (reading, decoding, scaling) %.1f %% of a core, of which the reading thread %.1f %%; "
                "main loop %.1f %%\n",
                100.0 * others / wall, 100.0 * double(source->threadCpuNs() - cpu0) / 1e9 / wall, 100.0 * mainShare);
    if (sample) {
        // F7 held for two seconds, as a performer presses it.
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.keysym.sym = SDLK_F7;
        SDL_PushEvent(&e);
        play(2000);
        e.type = SDL_KEYUP;
        SDL_PushEvent(&e);
        for (int i = 0; i < 50 && sampler.sampling(1); i++) play(40);
        play(200);
        SampledClip* clip = sampler.lastClip;
        const int64_t end = sampler.lastEndUs;
        std::printf("  sampled %d frames; playing %lld frame(s), %.1f ms after the take ended\n", sampler.lastFrames,
                    clip ? (long long)(clip->firstDrawnFrame - sampler.lastEndFrame) : -1LL,
                    clip && clip->firstDrawnUs ? double(clip->firstDrawnUs - end) / 1000.0 : -1.0);
        for (int i = 0; i < 3000 && sampler.lastFile.empty(); i++) play(40);
        std::printf("  saved as videos/%s %.0f ms after the take ended\n", sampler.lastFile.c_str(),
                    sampler.lastSavedUs ? double(sampler.lastSavedUs - end) / 1000.0 : -1.0);
    }
    tearDownForTests();
    return 0;
}
