// The beat clock from its three sources: tap sequences (steady, a missed tap, a doubled tap, a new
// sequence after a pause), a MIDI clock with jitter (start, tempo change, stop, song position and
// continue, silence) and the direct setting, with the scripted times of a fake clock.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tempo/TempoClock.h"

namespace {

// Beat position of a time, relative to the nearest whole beat (0 on a beat).
double offBeat(const TempoClock& c, double ms) {
    const double b = c.beatAt(ms);
    return b - std::round(b);
}

struct TapCase {
    const char* name;
    std::vector<double> taps;
    double bpm;
};

TEST(Taps, TempoFromSequencesWithAMissedOrDoubledTap) {
    const TapCase cases[] = {
        {"four taps 500 ms apart", {1000, 1500, 2000, 2500}, 120.0},
        {"uneven hands", {1000, 1512, 1990, 2507, 3003}, 120.0},
        {"one tap missed", {1000, 1500, 2000, 3000, 3500, 4000}, 120.0},
        {"one doubled tap", {1000, 1500, 2000, 2130, 2500, 3000, 3500}, 120.0},
        {"a doubled tap late in the beat", {1000, 1469, 1938, 2300, 2406, 2875, 3344}, 127.9},
        {"a new tempo: the last eight taps count", {0, 600, 1200, 1800, 2300, 2800, 3300, 3800, 4300, 4800, 5300, 5800}, 120.0},
    };
    for (const TapCase& tc : cases) {
        TempoClock c;
        for (double t : tc.taps) c.tap(t);
        EXPECT_NEAR(tc.bpm, c.bpm(), 0.5) << tc.name;
        const double last = tc.taps.back();
        EXPECT_NEAR(0, offBeat(c, last), 1e-9) << tc.name << ": the last tap is on a beat";
    }
}

// Seven taps on the beat and one stray between the third and the fourth: the tempo stays. A stray
// in every beat at its middle is a steady pattern at twice the tempo.
TEST(Taps, OneExtraTapBetweenBeatsKeepsTheTempo) {
    for (double bpm : {90.0, 120.0, 170.0}) {
        const double beat = 60000.0 / bpm;
        for (double extra : {0.3, 0.45, 0.5, 0.7}) {
            TempoClock c;
            for (int k = 0; k < 7; k++) {
                c.tap(1000 + k * beat);
                if (k == 2) c.tap(1000 + (k + extra) * beat);
            }
            EXPECT_NEAR(bpm, c.bpm(), 0.5) << bpm << " BPM, a stray at " << extra << " of a beat";
            EXPECT_NEAR(0, offBeat(c, 1000 + 6 * beat), 1e-9) << bpm << " BPM, " << extra;
        }
        if (2 * bpm > MaxBpm) continue;
        TempoClock c;
        for (int k = 0; k < 8; k++) c.tap(1000 + k * beat / 2);
        EXPECT_NEAR(2 * bpm, c.bpm(), 0.5) << "taps every half beat at " << bpm << " BPM";
    }
}

TEST(Taps, PhaseFromTheLastTapAndDownbeatFromTheFirst) {
    TempoClock c;
    for (double t : {1000.0, 1500.0, 2000.0, 2500.0}) c.tap(t);
    EXPECT_EQ(4, c.beatInBar(2500));
    EXPECT_EQ(1, c.beatInBar(3000)) << "the bar began on the first tap";
    c.tap(2960);  // a late fifth tap moves the phase to itself
    EXPECT_NEAR(0, offBeat(c, 2960), 1e-9);
    EXPECT_EQ(1, c.beatInBar(2960));
}

TEST(Taps, APauseOfMoreThanTwoSecondsStartsOver) {
    TempoClock c;
    for (double t : {0.0, 500.0, 1000.0, 1500.0}) c.tap(t);
    c.tap(3501);  // 2001 ms later: a new sequence, whose single tap only sets the phase
    EXPECT_NEAR(120.0, c.bpm(), 1e-6);
    EXPECT_EQ(1, c.beatInBar(3501));
    for (double t : {3901.0, 4301.0, 4701.0}) c.tap(t);
    EXPECT_NEAR(150.0, c.bpm(), 0.5) << "the old taps no longer count";
}

// A MIDI clock source: 24 clocks per beat at bpm, each late or early by up to jitter ms
// (deterministic pseudo-random).
struct ClockSender {
    explicit ClockSender(TempoClock& clock) : c(clock) {}
    TempoClock& c;
    double t = 10000;
    unsigned seed = 12345;
    double jitter = 2.0;
    std::vector<double> sent;  // the true times of the clocks, without jitter
    void clocks(int n, double bpm) {
        for (int i = 0; i < n; i++) {
            seed = seed * 1103515245u + 12345u;
            const double j = (double((seed >> 8) % 2001) / 1000.0 - 1.0) * jitter;
            sent.push_back(t);
            c.midiMessage(ClockByte::Tick, 0, 0, t + j);
            t += 60000.0 / bpm / ClocksPerBeat;
        }
    }
};

TEST(MidiClock, FollowsAJitteryClockWithinTwoBeatsAndATempoChangeWithinABar) {
    TempoClock c;
    ClockSender s(c);
    c.midiMessage(ClockByte::Start, 0, 0, s.t - 5);
    s.clocks(2 * ClocksPerBeat, 128);
    EXPECT_NEAR(128.0, c.bpm(), 0.3) << "after two beats";
    EXPECT_EQ(TempoMidiClock, c.source);
    EXPECT_NEAR(0, c.beatAt(s.sent[0]), 0.01) << "Start's first clock is the downbeat";
    double worst = 0;
    for (int beat = 0; beat < 64; beat++) {
        s.clocks(ClocksPerBeat, 128);
        worst = std::max(worst, std::fabs(c.bpm() - 128.0));
        EXPECT_NEAR(2 + beat + 1, c.beatAt(s.t), 0.01);
    }
    EXPECT_LT(worst, 0.3) << "steady";

    s.clocks(BeatsPerBar * ClocksPerBeat, 140);
    EXPECT_NEAR(140.0, c.bpm(), 0.3) << "a bar after the change";

    // Taps and direct settings wait while the clock runs.
    c.tap(s.t);
    EXPECT_FALSE(c.setTempo(90, s.t));
    EXPECT_NEAR(140.0, c.bpm(), 0.3);
}

TEST(MidiClock, StopFreeRunsSongPositionAndContinueResume) {
    TempoClock c;
    ClockSender s(c);
    c.midiMessage(ClockByte::Start, 0, 0, s.t);
    s.clocks(4 * ClocksPerBeat, 128);
    c.midiMessage(ClockByte::Stop, 0, 0, s.t);
    const double bpm = c.bpm(), at = c.beatAt(s.t);
    EXPECT_NEAR(at + 10, c.beatAt(s.t + 10 * 60000.0 / bpm), 1e-9) << "the last tempo runs on";
    s.clocks(ClocksPerBeat, 90);  // a stopped sequencer's clock changes nothing
    EXPECT_EQ(bpm, c.bpm());

    // Song position 16 sixteenths: bar 2's downbeat, where Continue picks up.
    c.midiMessage(ClockByte::SongPosition, 16, 0, s.t);
    c.midiMessage(ClockByte::Continue, 0, 0, s.t);
    const double resume = s.t;
    s.clocks(3 * ClocksPerBeat, 100);
    EXPECT_NEAR(4.0, c.beatAt(resume), 0.02);
    EXPECT_EQ(1, c.beatInBar(resume + 1));
    EXPECT_NEAR(100.0, c.bpm(), 0.3);

    // A clock that falls silent without Stop gives the tempo back to the taps.
    EXPECT_FALSE(c.clockRules(s.t + ClockTimeoutMs + 1));
    EXPECT_TRUE(c.setTempo(90, s.t + ClockTimeoutMs + 1));
}

TEST(DirectTempo, KeepsThePhaseAndRefusesTempiOutOfRange) {
    TempoClock c;
    const double before = c.beatAt(1234);
    EXPECT_TRUE(c.setTempo(90, 1234));
    EXPECT_NEAR(90.0, c.bpm(), 1e-9);
    EXPECT_NEAR(before, c.beatAt(1234), 1e-9);
    for (double bad : {0.0, 19.9, 300.1, double(NAN), double(INFINITY)}) EXPECT_FALSE(c.setTempo(bad, 0)) << bad;
    EXPECT_NEAR(90.0, c.bpm(), 1e-9);
}

}  // namespace
