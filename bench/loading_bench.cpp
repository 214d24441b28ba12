// Loading a large playlist with the real clock, as a performer meets it: 30 clips of about 3.5 MB
// each are loaded while the Mix screen plays, frames paced as the program paces them. Reports how
// long the whole playlist took and how far the longest frame interval ran past its target.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "app/MainLoop.h"
#include "core/AppState.h"
#include "core/Platform.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "mixer/Decks.h"

namespace {

constexpr int Clips = 30;

std::string bigPlaylist() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n<playlist>\n<name>Big</name>\n";
    for (int i = 0; i < Clips; i++) xml += "<track>m" + std::to_string(i) + ".q18</track>\n";
    return xml + "</playlist>\n</all>\n";
}

void BM_LoadBigPlaylistRealClock(benchmark::State& state) {
    HarnessOptions options;
    options.demoClips = true;
    options.playlistsXml = bigPlaylist();
    options.start = false;
    Harness h(options);
    const std::string clip = h.readFile("videos/mandelbrot.q18");
    size_t bytes = 0;
    for (int i = 0; i < Clips; i++) {
        h.writeFile("videos/m" + std::to_string(i) + ".q18", clip);
        bytes += clip.size();
    }
    h.startUp();
    h.frame(41);  // the splash, on the fake clock
    double seconds = 0, worstLateMs = 0, frames = 0;
    for (auto _ : state) {
        appState.screen = Screen::Mix;
        appState.mixView = Performing;
        mix.loadPlaylist(0);
        platform::useFakeClock(false);
        lastFrameTick = int32_t(platform::ticks()) - 1000;  // the splash ran on the fake clock
        const uint64_t start = platform::microseconds();
        uint64_t lastFrameUs = 0;
        const int64_t firstFrame = framesRun;
        while (mix.loading) {
            const int64_t before = framesRun;
            runFrame();
            if (framesRun != before) {
                const uint64_t now = platform::microseconds();
                // A frame is due after more than 1000 / (fps + 1) ms, at the next whole tick.
                const double targetMs = 1000 / (decks.targetFps + 1) + 1;
                if (lastFrameUs) worstLateMs = std::max(worstLateMs, (now - lastFrameUs) / 1000.0 - targetMs);
                lastFrameUs = now;
            }
            if (uint32_t wait = msUntilNextFrame()) platform::delay(wait);
        }
        seconds = (platform::microseconds() - start) / 1e6;
        frames = double(framesRun - firstFrame);
        platform::useFakeClock(true);
    }
    state.counters["load_s"] = seconds;
    state.counters["frames"] = frames;
    state.counters["worst_late_ms"] = worstLateMs;
    state.counters["MB"] = bytes / 1e6;
    state.counters["tracks"] = mix._totalTracks;

}
BENCHMARK(BM_LoadBigPlaylistRealClock)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
