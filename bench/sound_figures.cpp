// The sound analysis on drum pieces rendered from the real samples of hydrogen-drumkits: the tempo
// read after 8 seconds beside aubio's own (`aubio tempo` on the same piece written as a WAV file),
// the beat phase against the rendered beats, how soon a tempo change of 8 BPM is followed, kicks
// found, and the analysis's processor time as a share of one core (and in copies of one 153,600-byte frame
// per second of sound, measured in the same run). Run from anywhere; writes its WAV files to /tmp.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sound/SoundAnalyser.h"
#include "tests/drum_pieces.h"

namespace {

using drums::PiecePlan;
typedef std::chrono::steady_clock Clock;

double aubioTempo(const std::string& wav) {
    const std::string command = "aubio tempo -i '" + wav + "' 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    if (!p) return 0;
    double bpm = 0;
    if (std::fscanf(p, "%lf", &bpm) != 1) bpm = 0;
    pclose(p);
    return bpm;
}

struct Result {
    double bpmAt8 = 0, bpmEnd = 0;
    std::vector<double> phaseMs;  // signed error of each reading's beat after 8 s
    double followedAfter = -1;    // seconds after the change until within 0.5 BPM for good
    uint32_t kicks = 0;
    std::vector<double> kickDelayMs;  // from each rendered kick to the hop that reported it
    int falseKicks = 0;
    double seconds = 0;  // analysis time
};

// Processor time of this thread: the analysis's cost whatever else the machine runs.
double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

double nearestBeatError(const std::vector<double>& beats, double t) {
    double best = 1e9;
    for (double b : beats)
        if (std::fabs(t - b) < std::fabs(best)) best = t - b;
    return best;
}

Result run(const drums::Piece& p, const PiecePlan& plan) {
    Result r;
    SoundAnalyser a(p.rate);
    const size_t block = 256;
    const double truthEnd = plan.bpmAfter > 0 ? plan.bpmAfter : plan.bpm;
    double lastOutside = plan.changeAt;
    const double start = threadSeconds();
    double nextPhaseCheck = 8.0;
    uint32_t seenKicks = 0;
    size_t nextKick = 0;
    for (size_t at = 0; at < p.samples.size(); at += block) {
        a.feed(p.samples.data() + at, std::min(block, p.samples.size() - at));
        const SoundReading& s = a.reading();
        const double t = double(s.samples) / p.rate;
        if (s.kicks != seenKicks) {
            seenKicks = s.kicks;
            // The latest rendered kick at or before now that no report took yet.
            while (nextKick + 1 < p.kicks.size() && p.kicks[nextKick + 1] <= t) nextKick++;
            if (nextKick < p.kicks.size() && p.kicks[nextKick] <= t && t - p.kicks[nextKick] < 0.1) {
                r.kickDelayMs.push_back(1000 * (t - p.kicks[nextKick]));
                nextKick++;
            } else {
                r.falseKicks++;
            }
        }
        if (r.bpmAt8 == 0 && t >= 8.0) r.bpmAt8 = s.bpm;
        if (plan.bpmAfter > 0 && t >= plan.changeAt && std::fabs(s.bpm - truthEnd) > 0.5) lastOutside = t;
        if (t >= nextPhaseCheck && s.tempoKnown && std::fabs(s.bpm / truthEnd - 1) < 0.05 &&
            (plan.bpmAfter == 0 || t < plan.changeAt || t > plan.changeAt + 4)) {
            r.phaseMs.push_back(1000 * nearestBeatError(p.beats, s.beatSample / p.rate));
            nextPhaseCheck = t + 0.25;
        }
    }
    r.seconds = threadSeconds() - start;
    r.bpmEnd = a.reading().bpm;
    r.kicks = a.reading().kicks;
    if (plan.bpmAfter > 0) r.followedAfter = lastOutside - plan.changeAt;
    return r;
}

double frameCopySeconds() {
    static uint8_t from[153600], to[153600];
    for (size_t i = 0; i < sizeof from; i++) from[i] = uint8_t(i * 7);
    const int copies = 20000;
    const double start = threadSeconds();
    for (int i = 0; i < copies; i++) {
        from[i % sizeof from] = uint8_t(i);
        std::memcpy(to, from, sizeof to);
        asm volatile("" : : "r"(to) : "memory");
    }
    return (threadSeconds() - start) / copies;
}

}  // namespace

int main() {
    using drums::Breakbeat;
    using drums::FourOnFloor;
    using drums::HalfTime;
    using drums::HipHop;
    using drums::Swing;
    // kit, style, BPM, humanised, bass, noise
    const PiecePlan pieces[] = {
        {"Millo-Drums_v.1", FourOnFloor, 128, false, false, false},
        {"HardElectro1", FourOnFloor, 124, false, true, false},
        {"ElectricEmpireKit", FourOnFloor, 140, true, true, true},
        {"VariBreaks", Breakbeat, 174, false, true, false},
        {"ColomboAcousticDrumkit", HipHop, 90, true, false, false},
        {"Millo-Drums_v.1", HalfTime, 88, false, true, false},
        {"HardElectro1", HalfTime, 96, true, false, true},
        {"ColomboAcousticDrumkit", Swing, 100, true, false, false},
        {"Millo_MultiLayered3", Swing, 115, false, true, true},
        {"ElectricEmpireKit", FourOnFloor, 180, true, false, false},
        {"VariBreaks", HipHop, 85, true, true, false},
        {"Millo_MultiLayered3", Breakbeat, 160, true, false, true},
    };
    std::printf("%-4s %-23s %-18s %6s %-3s %-4s %-5s | %8s %6s | %8s %8s %9s | %s\n", "#", "kit", "style", "BPM",
                "hum", "bass", "noise", "aubio", "error", "ours@8s", "error", "phase ms", "kicks found/rendered, false");
    int good = 0, aubioGood = 0, n = 0;
    double analysis = 0, audio = 0;
    std::vector<double> allPhase, signedPhase, kickDelays;
    int renderedKicks = 0, foundKicks = 0, falseKicks = 0;
    for (const PiecePlan& plan : pieces) {
        const drums::Piece p = drums::render(plan, 48000, uint32_t(n + 1));
        if (p.samples.empty()) {
            std::printf("cannot read the kit %s (is hydrogen-drumkits installed?)\n", plan.kit);
            return 1;
        }
        const std::string wav = "/tmp/sound_figures_" + std::to_string(getpid()) + "_" + std::to_string(n) + ".wav";
        drums::writeWav(wav, p.samples, p.rate);
        const double theirs = aubioTempo(wav);
        unlink(wav.c_str());
        const Result r = run(p, plan);
        analysis += r.seconds;
        audio += plan.seconds;
        const bool ok = std::fabs(r.bpmAt8 - plan.bpm) <= 0.5;
        const bool theirsOk = std::fabs(theirs - plan.bpm) <= 0.5;
        good += ok;
        aubioGood += theirsOk;
        std::vector<double> absPhase;
        for (double e : r.phaseMs) absPhase.push_back(std::fabs(e));
        signedPhase.insert(signedPhase.end(), r.phaseMs.begin(), r.phaseMs.end());
        kickDelays.insert(kickDelays.end(), r.kickDelayMs.begin(), r.kickDelayMs.end());
        renderedKicks += int(p.kicks.size());
        foundKicks += int(r.kickDelayMs.size());
        falseKicks += r.falseKicks;
        std::sort(absPhase.begin(), absPhase.end());
        allPhase.insert(allPhase.end(), absPhase.begin(), absPhase.end());
        const double median = absPhase.empty() ? -1 : absPhase[absPhase.size() / 2];
        std::printf("%-4d %-23s %-18s %6.1f %-3s %-4s %-5s | %8.1f %+6.1f | %8.2f %+8.2f %9.1f | %zu/%zu %d\n", ++n,
                    plan.kit, drums::StyleNames[plan.style], plan.bpm, plan.humanise ? "yes" : "-", plan.bass ? "yes" : "-",
                    plan.noise ? "yes" : "-", theirs, theirs - plan.bpm, r.bpmAt8, r.bpmAt8 - plan.bpm, median,
                    r.kickDelayMs.size(), p.kicks.size(), r.falseKicks);
    }
    std::sort(allPhase.begin(), allPhase.end());
    std::sort(signedPhase.begin(), signedPhase.end());
    std::printf("\nwithin 0.5 BPM after 8 s: ours %d of %d, aubio %d of %d\n", good, n, aubioGood, n);
    if (!allPhase.empty())
        std::printf("beat phase (every quarter second after 8 s, pieces read right): median %.1f ms, 90th percentile "
                    "%.1f ms, worst %.1f ms\n",
                    allPhase[allPhase.size() / 2], allPhase[allPhase.size() * 9 / 10], allPhase.back());
    if (!signedPhase.empty())
        std::printf("beat phase, signed (reading later than the beat is positive): median %+.1f ms\n",
                    signedPhase[signedPhase.size() / 2]);

    std::sort(kickDelays.begin(), kickDelays.end());
    if (!kickDelays.empty())
        std::printf("kicks: %d of %d found, %d false; from the kick to the hop that reports it (256-sample "
                    "blocks): median %.1f ms, 90th percentile %.1f ms\n",
                    foundKicks, renderedKicks, falseKicks, kickDelays[kickDelays.size() / 2],
                    kickDelays[kickDelays.size() * 9 / 10]);

    // Tempo changes of 8 BPM, up and down, 12 s in.
    const PiecePlan changes[] = {
        {"Millo-Drums_v.1", FourOnFloor, 120, false, true, false, 24, 128, 12},
        {"VariBreaks", Breakbeat, 170, true, false, false, 24, 162, 12},
        {"ColomboAcousticDrumkit", HipHop, 92, true, false, true, 24, 100, 12},
    };
    for (const PiecePlan& plan : changes) {
        const drums::Piece p = drums::render(plan, 48000, 99);
        const Result r = run(p, plan);
        analysis += r.seconds;
        audio += plan.seconds;
        std::printf("%s %.0f -> %.0f BPM at 12 s: within 0.5 BPM for good %.2f s after the change (end %.2f)\n",
                    drums::StyleNames[plan.style], plan.bpm, plan.bpmAfter, r.followedAfter, r.bpmEnd);
    }
    // Forty pieces drawn at random (kit, style, 85 to 180 BPM, humanised, bass, noise), none of
    // them looked at while the tracker was tuned: the tempo after 8 s.
    uint32_t seed = 12345;
    auto draw = [&seed](int n) {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 8) % uint32_t(n));
    };
    int right = 0, octaves = 0;
    for (int i = 0; i < 40; i++) {
        PiecePlan plan{drums::Kits[draw(6)].folder, drums::Style(draw(5)), 85.0 + draw(96), draw(2) == 1, draw(2) == 1,
                       draw(3) == 0, 9};
        const drums::Piece p = drums::render(plan, 48000, uint32_t(i + 100));
        const double start = threadSeconds();
        const SoundReading r = analyseSamples(p.samples.data(), size_t(8.0 * p.rate), p.rate);
        analysis += threadSeconds() - start;
        audio += 8;
        right += std::fabs(r.bpm - plan.bpm) <= 0.5;
        if (std::fabs(r.bpm - plan.bpm) > 0.5)
            std::printf("  missed: %s %s %.0f BPM%s%s%s read %.2f\n", plan.kit, drums::StyleNames[plan.style], plan.bpm,
                        plan.humanise ? ", humanised" : "", plan.bass ? ", bass" : "", plan.noise ? ", noise" : "", r.bpm);
        octaves += std::fabs(r.bpm / plan.bpm - 2) < 0.05 || std::fabs(r.bpm / plan.bpm - 0.5) < 0.03;
    }
    std::printf("40 random pieces: within 0.5 BPM after 8 s %d, half or double tempo %d\n", right, octaves);

    const double copy = frameCopySeconds();
    std::printf("\nanalysis: %.2f %% of one core (%.1f s for %.0f s of sound); per second of sound %.0f frame copies\n",
                100 * analysis / audio, analysis, audio, analysis / audio / copy);
    return 0;
}
