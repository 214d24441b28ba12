// The tempo's figures, from runs on a scripted clock (nothing here is timed): tap estimation, a
// jittery MIDI clock, how late a waiting trigger starts after its beat, and where a beat-locked
// loop stands after ten minutes. Prints one line per figure.
#include <cmath>
#include <cstdio>

#include "core/AppState.h"
#include "mixer/BeatLock.h"
#include "mixer/Decks.h"
#include "tempo/TempoClock.h"
#include "tracks/Track.h"

namespace {

unsigned seed = 1;
double jitter(double range) {  // uniform in [-range, range], deterministic
    seed = seed * 1103515245u + 12345u;
    return (double((seed >> 8) % 20001) / 10000.0 - 1.0) * range;
}

// The main loop makes a frame once more than 1000 / 26 ms have passed and wakes every 4 ms.
constexpr double FrameMs = 39.0;

void taps() {
    for (double hands : {0.0, 10.0}) {
        TempoClock c;
        std::printf("taps every 500 ms (hands +-%.0f ms):", hands);
        for (int i = 0; i < 8; i++) {
            c.tap(1000 + 500.0 * i + jitter(hands));
            if (i >= 1) std::printf(" %d taps %.2f;", i + 1, c.bpm());
        }
        std::printf("\n");
    }
    TempoClock c;
    for (double t : {0.0, 500.0, 1000.0, 2000.0, 2500.0}) c.tap(t);
    std::printf("one missed tap (0 500 1000 _ 2000 2500): %.2f BPM\n", c.bpm());
    TempoClock d;
    for (double t : {0.0, 500.0, 1000.0, 1180.0, 1500.0, 2000.0}) d.tap(t);
    std::printf("one extra tap (0 500 1000 1180 1500 2000): %.2f BPM\n", d.bpm());
}

void midiClock() {
    double worstAfter2 = 0, worstSteady = 0, worstChange = 0;
    int slowestChange = 0;
    for (unsigned run = 1; run <= 100; run++) {
        seed = run;
        TempoClock c;
        double t = 5000;
        c.midiMessage(ClockByte::Start, 0, 0, t);
        auto clocks = [&](int n, double bpm) {
            for (int i = 0; i < n; i++) {
                c.midiMessage(ClockByte::Tick, 0, 0, t + jitter(2.0));
                t += 60000.0 / bpm / ClocksPerBeat;
            }
        };
        clocks(2 * ClocksPerBeat, 128);
        worstAfter2 = std::fmax(worstAfter2, std::fabs(c.bpm() - 128));
        for (int b = 0; b < 62; b++) {
            clocks(ClocksPerBeat, 128);
            worstSteady = std::fmax(worstSteady, std::fabs(c.bpm() - 128));
        }
        int within = -1;
        for (int i = 0; i < 4 * ClocksPerBeat; i++) {
            clocks(1, 140);
            if (std::fabs(c.bpm() - 140) <= 0.3) {
                if (within < 0) within = i + 1;
            } else {
                within = -1;
            }
        }
        worstChange = std::fmax(worstChange, std::fabs(c.bpm() - 140));
        slowestChange = within < 0 || within > slowestChange ? (within < 0 ? 9999 : within) : slowestChange;
    }
    std::printf("MIDI clock 128 BPM +-2 ms jitter, 100 runs: worst error after 2 beats %.3f BPM, over beats 3-64 %.3f BPM\n",
                worstAfter2, worstSteady);
    std::printf("change to 140 BPM: worst error one bar later %.3f BPM; within 0.3 BPM for good after at most %d clocks (%.2f beats)\n",
                worstChange, slowestChange, slowestChange / double(ClocksPerBeat));
}

void waitingTriggers() {
    tempoClock = TempoClock();
    tempoClock.setTempo(128, 0);
    appState.mode = ModeB;
    appState.waitForClipEnd = 1;
    decks.trackCount = 3;
    for (int i = 0; i < 3; i++) tracks[i].frameCount = 50;
    for (int32_t q : {QuantiseBeat, QuantiseBar}) {
        appState.quantise = q;
        double worst = 0, t = 1000;
        seed = 3;
        for (int trial = 0; trial < 1000; trial++) {
            decks.decks[1].track = 0;
            queuedTrack = 0;
            t += 1000 + std::fabs(jitter(700));
            beatLock.queue(2, t);
            const double target = beatLock.pendingBeat;
            while (decks.decks[1].track != 2) {
                t += FrameMs;
                beatLock.step(t);
            }
            const double late = t - (tempoClock.originMs + target * tempoClock.beatMs);
            if (late < 0) std::printf("early!\n");
            worst = std::fmax(worst, late);
        }
        std::printf("waiting trigger (%s), 1000 triggers, frames every %.0f ms: latest start %.1f ms after its %s\n",
                    q == QuantiseBeat ? "next beat" : "next bar", FrameMs, worst, q == QuantiseBeat ? "beat" : "bar");
    }
}

void lockedLoop() {
    tempoClock = TempoClock();
    tempoClock.setTempo(128, 0);
    appState.mode = ModeA;
    decks.sync[1] = 1;
    decks.targetFps = 25;
    tracks[1].frameCount = 50;
    beatLock = BeatLock();
    // The clip starts on the first frame after beat 0.
    double t = tempoClock.originMs + 17;
    decks.decks[1] = Deck{1, 0, 0};
    beatLock.step(t);
    const double tenMinutes = 1280;  // beats at 128 BPM
    double worstFrames = 0;
    int32_t before = 0;
    while (tempoClock.beatAt(t) < tenMinutes) {
        before = decks.decks[1].position;
        t += FrameMs;
        beatLock.step(t);
        const double ideal = std::fmod(tempoClock.beatAt(t) / 4.0, 1.0) * 50;
        worstFrames = std::fmax(worstFrames, std::fabs(ideal - decks.decks[1].position) > 25
                                                   ? 50 - std::fabs(ideal - decks.decks[1].position)
                                                   : std::fabs(ideal - decks.decks[1].position));
    }
    const double late = t - (tempoClock.originMs + tenMinutes * tempoClock.beatMs);
    std::printf("locked loop, 10 min at 128 BPM (%d frames): frame %d then frame %d, %.1f ms after the downbeat; "
                "largest gap between the shown and the ideal frame %.2f frames\n",
                int(tenMinutes * tempoClock.beatMs / FrameMs), before, decks.decks[1].position, late, worstFrames);
}

}  // namespace

int main() {
    taps();
    midiClock();
    waitingTriggers();
    lockedLoop();
    return 0;
}
