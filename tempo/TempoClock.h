// The instrument's beat: a tempo and a phase that taps, a MIDI clock or a direct setting give, read
// by the decks (beat-locked loops, quantised triggers, beat flash), the overlay and the remote
// feedback. Times are milliseconds on the platform clock; beat 0 is the downbeat of a bar, and
// the beat position at a time is a real number (bar b starts at beat 4b).
#pragma once
#include <cstdint>

#include "tempo/TapTempo.h"

constexpr double MinBpm = 20.0;
constexpr double MaxBpm = 300.0;
constexpr double DefaultBpm = 120.0;
constexpr int32_t BeatsPerBar = 4;
constexpr int32_t ClocksPerBeat = 24;     // MIDI clock: 24 per quarter note
constexpr int32_t ClockWindow = 72;       // clocks fitted for tempo and phase: three beats
constexpr double ClockTimeoutMs = 500.0;  // a clock silent this long has gone (cable pulled)

// MIDI system real-time and common bytes the clock listens to.
struct ClockByte {
    enum : uint8_t { SongPosition = 0xF2, Tick = 0xF8, Start = 0xFA, Continue = 0xFB, Stop = 0xFC };
};

enum TempoSource { TempoFree = 0, TempoTaps = 1, TempoMidiClock = 2, TempoSet = 3, TempoSound = 4 };
enum ClockState { ClockIdle = 0, ClockRunning = 1, ClockStopped = 2 };

class TempoClock {
public:
    double beatMs = 60000.0 / DefaultBpm;
    double originMs = 0;  // a time at which beat 0 (a downbeat) fell
    int32_t source = TempoFree;

    // Taps of the current sequence, oldest first.
    double taps[TapHistory] = {};
    int32_t tapCount = 0;
    double sequenceStartMs = 0;  // first tap of the sequence: its downbeat

    // MIDI clock: state, song position of the next clock, and the last clocks' arrival times.
    int32_t clockState = ClockIdle;
    int64_t nextClock = 0;
    double clockTimes[ClockWindow] = {};
    int64_t clockNumbers[ClockWindow] = {};
    int32_t clockCount = 0, clockHead = 0;
    double lastClockMs = 0;

    // "tempo from: sound": while set, the sound input's readings lead (after a running MIDI
    // clock), and taps go to its tracker through soundTap (when a sound input is open) to say
    // where the beat is and which octave; the first tap of a sequence is still the downbeat.
    int32_t followSound = 0;
    void (*soundTap)(double ms) = nullptr;
    double lastSoundTapMs = -1e9;

    double bpm() const { return 60000.0 / beatMs; }
    double beatAt(double ms) const { return (ms - originMs) / beatMs; }
    // 1..4: the beat of the bar at that time.
    int32_t beatInBar(double ms) const;
    // A running MIDI clock rules the tempo; taps and direct settings wait until it stops.
    bool clockRules(double ms) const;

    void tap(double ms);
    // Sets the tempo keeping the phase at ms; false (nothing changed) outside MinBpm..MaxBpm or
    // while a MIDI clock runs.
    bool setTempo(double bpm, double ms);
    // One MIDI message of the clock family: Clock, Start, Continue, Stop (data unused), or Song
    // Position with its two 7-bit data bytes. Anything else is ignored.
    void midiMessage(uint8_t status, uint8_t data1, uint8_t data2, double ms);
    // A reading of the sound: the beat's length and a time at which a beat fell. The beats keep
    // their count in the bar (the nearest beat of the running grid takes the reading's place).
    // Ignored unless following the sound, and while a MIDI clock runs.
    void followBeat(double newBeatMs, double beatTimeMs, double ms);

private:
    void keepPhase(double newBeatMs, double ms);
    void clockTick(double ms);
};

extern TempoClock tempoClock;
