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
#include <vector>

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
    const int64_t wall0 = liveClockUs(), frames0 = framesRun;
    play(uint32_t(secs) * 1000);
    const double wall = double(liveClockUs() - wall0) / 1e6;
    const std::vector<int64_t> lat = source->latencies();
    std::printf("%s, %d s: %lld pictures decoded, %lld frames shown (%.1f fps)\n", argv[1], secs,
                (long long)(source->picturesDecoded() - pictures0), (long long)(framesRun - frames0),
                double(framesRun - frames0) / wall);
    std::printf("  latency arrival to frame: median %.1f ms, p95 %.1f ms (%zu pictures)\n", percentile(lat, 0.5),
                percentile(lat, 0.95), lat.size());
    std::printf("  decoding thread %.1f %% of a core\n", 100.0 * double(source->threadCpuNs() - cpu0) / 1e9 / wall);
    if (sample) {
        sampler.press(1, platform::ticks());
        play(2000);
        sampler.release(1, platform::ticks());
        for (int i = 0; i < 50 && sampler.sampling(1); i++) play(40);
        play(200);
        SampledClip* clip = sampler.lastClip;
        const int64_t end = sampler.lastEndUs;
        std::printf("  sampled %d frames; playing %.1f ms after the take ended\n", sampler.lastFrames,
                    clip && clip->firstDrawnUs ? double(clip->firstDrawnUs - end) / 1000.0 : -1.0);
        for (int i = 0; i < 3000 && sampler.lastFile.empty(); i++) play(40);
        std::printf("  saved as videos/%s %.0f ms after the take ended\n", sampler.lastFile.c_str(),
                    sampler.lastSavedUs ? double(sampler.lastSavedUs - end) / 1000.0 : -1.0);
    }
    tearDownForTests();
    return 0;
}
