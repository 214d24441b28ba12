// Loading a large playlist with the real clock, as a performer meets it: 30 distinct clips of about
// 2.5 MB each are loaded while the Mix screen plays, frames paced as the program paces them.
// Reports how long the whole playlist took and how far the longest frame interval ran past its
// target, once with the clips in the page cache (warm: just written and read back) and once with
// them dropped from it (cold: written, synced and dropped with posix_fadvise, as clips that were
// not read since the machine started). resident_pct says how much of the clips' pages the cache
// held when loading began. The run folder is removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "app/MainLoop.h"
#include "core/AppState.h"
#include "core/Platform.h"
#include "harness/Harness.h"
#include "library/Mix.h"
#include "mixer/Decks.h"
#include "tools/clip/ClipWriter.h"

namespace {

using namespace clipwriter;

constexpr int Clips = 30;
constexpr int Frames = 75;
constexpr int Entries = 48000;

std::string clipName(int i) { return "m" + std::to_string(i) + ".q18"; }

std::string bigPlaylist() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n\n<all>\n<playlist>\n<name>Big</name>\n";
    for (int i = 0; i < Clips; i++) xml += "<track>" + clipName(i) + "</track>\n";
    return xml + "</playlist>\n</all>\n";
}

// A clip shaped like busy footage, its own pictures drawn from seed: narrow-run entries of mostly
// one- and two-pixel runs of palette colours, about 870 of the 1,200 blocks drawing a new entry
// every frame.
bool writeBusyClip(const std::string& path, unsigned seed) {
    std::mt19937 random(seed);
    ClipFile c(18, 0, Frames);
    for (uint16_t& colour : c.palette) colour = uint16_t(random());
    for (int e = 0; e < Entries; e++) {
        std::vector<Run> runs;
        for (int left = 64; left > 0;) {
            const int pick = int(random() % 8);
            const int length = std::min(left, pick < 5 ? 1 : pick < 7 ? 2 : 1 + pick);
            runs.push_back({uint8_t(length), uint16_t(random() & 255), true});
            left -= length;
        }
        c.addEntry(encode18Narrow(e < Entries / 2 ? 0 : 1, runs, noAlpha()));  // class 4 first, then 5
    }
    for (int b = 0; b < BlockCount; b++) {
        std::vector<uint16_t> ids(Frames);
        uint16_t id = uint16_t(random() % Entries);
        for (int f = 0; f < Frames; f++) {
            if (random() % 100 < 72) id = uint16_t(random() % Entries);
            ids[f] = id;
            c.setMode(f, b, 1 + int(random() % 6));
        }
        c.setIds(b, ids);
    }
    return c.writeFile(path);
}

// Syncs the file and asks the kernel to drop its pages from the cache (clean pages go at once).
void dropFromCache(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
}

// Reads the whole file, which leaves it in the cache.
void readThrough(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    char buffer[1 << 16];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    close(fd);
}

// Pages of the file held in the page cache, and all of its pages.
void residentPages(const std::string& path, size_t& resident, size_t& total) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size > 0) {
        void* map = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
        if (map != MAP_FAILED) {
            const size_t page = size_t(sysconf(_SC_PAGESIZE)), pages = (size_t(st.st_size) + page - 1) / page;
            std::vector<unsigned char> in(pages);
            if (mincore(map, size_t(st.st_size), in.data()) == 0)
                for (unsigned char p : in) resident += p & 1;
            total += pages;
            munmap(map, size_t(st.st_size));
        }
    }
    close(fd);
}

void BM_LoadBigPlaylistRealClock(benchmark::State& state) {
    const bool cold = state.range(0) != 0;
    HarnessOptions options;
    options.demoClips = true;
    options.playlistsXml = bigPlaylist();
    options.start = false;
    Harness h(options);
    size_t bytes = 0;
    for (int i = 0; i < Clips; i++) {
        const std::string path = h.dir + "/videos/" + clipName(i);
        if (!writeBusyClip(path, unsigned(1000 + i))) state.SkipWithError("cannot write a clip");
        struct stat st;
        if (stat(path.c_str(), &st) == 0) bytes += size_t(st.st_size);
        if (cold) dropFromCache(path);
        else readThrough(path);
    }
    h.startUp();
    h.frame(41);  // the splash, on the fake clock
    size_t resident = 0, pages = 0;
    for (int i = 0; i < Clips; i++) residentPages(h.dir + "/videos/" + clipName(i), resident, pages);
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
    state.SetLabel(cold ? "cold cache" : "warm cache");
    state.counters["load_s"] = seconds;
    state.counters["frames"] = frames;
    state.counters["worst_late_ms"] = worstLateMs;
    state.counters["MB"] = bytes / 1e6;
    state.counters["tracks"] = mix._totalTracks;
    state.counters["resident_pct"] = pages ? 100.0 * resident / pages : 0;
}
BENCHMARK(BM_LoadBigPlaylistRealClock)->ArgName("cold")->Arg(0)->Arg(1)->Iterations(1)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
