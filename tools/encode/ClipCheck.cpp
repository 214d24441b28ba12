#include "tools/encode/ClipCheck.h"

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>
#include <unistd.h>

#include "core/FrameBuffers.h"
#include "tracks/Track.h"

namespace encode {

namespace {

// The loader prints its own progress lines for the instrument's log; an encoder run does not
// want them on its output, so both channels go nowhere while a clip is checked.
class Hush {
public:
    Hush() {
        std::fflush(stdout);
        saved_ = dup(1);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            close(null);
        }
        oldBuf_ = std::cout.rdbuf(sink_.rdbuf());
    }
    ~Hush() {
        std::cout.rdbuf(oldBuf_);
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, 1);
            close(saved_);
        }
    }

private:
    int saved_ = -1;
    std::ostringstream sink_;
    std::streambuf* oldBuf_ = nullptr;
};

double cpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// CPU seconds per unit of work in the best of a few rounds of at least roundSeconds each: the
// round least disturbed by other programs. work() does some units and says how many.
constexpr int TimingRounds = 5;
template <class Work>
double bestSecondsPerUnit(double roundSeconds, Work work) {
    double best = 1e9;
    for (int r = 0; r < TimingRounds; r++) {
        long units = 0;
        double start = cpuSeconds(), elapsed = 0;
        do {
            units += work();
            elapsed = cpuSeconds() - start;
        } while (elapsed < roundSeconds);
        best = std::min(best, elapsed / double(units));
    }
    return best;
}

// Loads path into track; false with the loader's reason when it refuses the clip.
bool load(Track& track, const std::string& path, std::string& error) {
    Hush hush;
    track.assign(".", "check");
    track.path = path;
    for (int step = 0; step < 1000; step++) {
        int r = track.loadStep(65000);
        if (r == 2) return true;
        if (r == 0) break;
    }
    error = track.loadError[0] ? track.loadError : "the loader refused it";
    if (track.allocated) track.releaseBuffers();
    track.ready = 0;
    return false;
}

}  // namespace

bool checkClip(const std::string& path, const EncodedClip& meant, const InputClip& source,
               uint64_t& squaredError, std::string& error) {
    allocateFrameBuffers();
    std::unique_ptr<Track> track(new Track);
    if (!load(*track, path, error)) {
        error = "the written clip does not load: " + error;
        return false;
    }
    bool alpha = meant.clip.hasAlpha != 0;
    squaredError = 0;
    const uint16_t* frame = deckFrames + FramePixels;
    bool ok = true;
    for (int f = 0; f < track->frameCount && ok; f++) {
        track->decodeFrame(1, f, alpha ? 3 : 0);
        if (memcmp(frame, meant.pictures[f].data(), FrameBytes) != 0 ||
            (alpha && memcmp(alphaPlane, meant.alphas[f].data(), FramePixels) != 0)) {
            int p = 0;
            while (p < FramePixels && frame[p] == meant.pictures[f][p] &&
                   (!alpha || alphaPlane[p] == meant.alphas[f][p]))
                p++;
            error = "the written clip decodes differently from what was encoded (frame " +
                    std::to_string(f) + ", pixel " + std::to_string(p % Width) + "," +
                    std::to_string(p / Width) + ")";
            ok = false;
            break;
        }
        squaredError += squaredError565(frame, source.frames[f].colour.data(), FramePixels);
    }
    track->releaseBuffers();
    return ok;
}

bool decodeClip(const std::string& path, std::string& frames, double minSeconds,
                double& secondsPerFrame, double& copySeconds, std::string& error) {
    allocateFrameBuffers();
    std::unique_ptr<Track> track(new Track);
    if (!load(*track, path, error)) return false;
    int n = track->frameCount;
    frames.clear();
    for (int f = 0; f < n; f++) {
        track->decodeFrame(1, f, 0);
        frames.append(reinterpret_cast<const char*>(deckFrames + FramePixels), FrameBytes);
    }
    // Each round decodes the whole clip in order, as playback does, warm (the loop above has
    // already touched every byte); the best round is the one least disturbed.
    const double roundSeconds = minSeconds / TimingRounds;
    secondsPerFrame = bestSecondsPerUnit(roundSeconds, [&] {
        for (int f = 0; f < n; f++) track->decodeFrame(1, f, 0);
        return long(n);
    });
    track->releaseBuffers();
    // The yardstick: copying one frame, the least any decoder must do.
    std::vector<uint16_t> copy(FramePixels);
    long copies = 0;
    copySeconds = bestSecondsPerUnit(roundSeconds / 4, [&] {
        for (int i = 0; i < 1000; i++) {
            std::memcpy(copy.data(), deckFrames + (copies & 1) * FramePixels, FrameBytes);
            asm volatile("" : : "r"(copy.data()) : "memory");
            copies++;
        }
        return 1000L;
    });
    return true;
}

}  // namespace encode
