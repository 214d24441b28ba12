#include "tempo/TempoClock.h"

#include <cmath>

#include "tempo/LineFit.h"

TempoClock tempoClock;

int32_t TempoClock::beatInBar(double ms) const {
    const double b = std::floor(beatAt(ms));
    const double inBar = b - BeatsPerBar * std::floor(b / BeatsPerBar);
    return int32_t(inBar) + 1;
}

bool TempoClock::clockRules(double ms) const {
    return clockState == ClockRunning && ms - lastClockMs <= ClockTimeoutMs;
}

// A new beat length that does not jump the picture: the beat position at ms stays where it was.
void TempoClock::keepPhase(double newBeatMs, double ms) {
    const double at = beatAt(ms);
    beatMs = newBeatMs;
    originMs = ms - at * beatMs;
}

void TempoClock::tap(double ms) {
    if (clockRules(ms)) return;
    if (followSound && soundTap) {
        if (ms - lastSoundTapMs > TapPauseMs) originMs = ms;  // a new sequence: its first tap is a downbeat
        lastSoundTapMs = ms;
        soundTap(ms);
        return;
    }
    const double last = tapCount > 0 ? taps[tapCount - 1] : 0;
    if (tapCount > 0 && ms <= last) return;  // two taps read at one instant are one tap
    if (tapCount > 0 && ms - last > TapPauseMs) tapCount = 0;
    if (tapCount == 0) sequenceStartMs = ms;
    if (tapCount == TapHistory) {
        for (int i = 1; i < TapHistory; i++) taps[i - 1] = taps[i];
        tapCount--;
    }
    taps[tapCount++] = ms;
    source = TempoTaps;

    const TapEstimate e = estimateTaps(taps, tapCount, beatMs);
    if (e.valid) beatMs = e.beatMs;
    // The last tap on the grid is a beat; the sequence's first tap was a downbeat.
    const double beatTime = e.valid ? taps[e.lastAccepted] : ms;
    const double beatsIn = std::round((beatTime - sequenceStartMs) / beatMs);
    originMs = beatTime - beatsIn * beatMs;
}

bool TempoClock::setTempo(double bpm, double ms) {
    if (!(bpm >= MinBpm && bpm <= MaxBpm) || clockRules(ms)) return false;
    keepPhase(60000.0 / bpm, ms);
    source = TempoSet;
    tapCount = 0;
    return true;
}

void TempoClock::midiMessage(uint8_t status, uint8_t data1, uint8_t data2, double ms) {
    switch (status) {
    case ClockByte::Start:
        nextClock = 0;
        clockCount = clockHead = 0;
        clockState = ClockRunning;
        lastClockMs = ms;
        break;
    case ClockByte::Continue:
        clockCount = clockHead = 0;
        clockState = ClockRunning;
        lastClockMs = ms;
        break;
    case ClockByte::Stop:
        // The last tempo and phase run on by themselves.
        clockState = ClockStopped;
        break;
    case ClockByte::SongPosition:
        // Sixteenth notes of six clocks each; moved only while stopped, as a sequencer does.
        if (clockState != ClockRunning) nextClock = int64_t((data1 & 0x7F) | (data2 & 0x7F) << 7) * 6;
        break;
    case ClockByte::Tick: clockTick(ms); break;
    default: break;
    }
}

void TempoClock::clockTick(double ms) {
    if (clockState == ClockStopped) return;  // a stopped sequencer's clock keeps no song position
    if (clockState == ClockIdle || ms - lastClockMs > ClockTimeoutMs) {
        // A clock without Start (or back after a silence) counts from here.
        if (clockState == ClockIdle) nextClock = 0;
        clockCount = clockHead = 0;
        clockState = ClockRunning;
    }
    lastClockMs = ms;
    clockTimes[clockHead] = ms;
    clockNumbers[clockHead] = nextClock++;
    clockHead = (clockHead + 1) % ClockWindow;
    if (clockCount < ClockWindow) clockCount++;
    const int64_t base = nextClock - 1;
    source = TempoMidiClock;
    tapCount = 0;
    if (clockCount < 3) {
        // Too few clocks for a tempo yet, but enough for the phase: Start's first clock is a
        // downbeat.
        originMs = ms - double(base) / ClocksPerBeat * beatMs;
        return;
    }

    // Tempo and phase from a line through the last three beats of clocks: the jitter of single
    // clocks averages out (two beats of them already give the tempo to a few tenths of a BPM),
    // and a tempo change has left the window within a bar.
    double x[ClockWindow], y[ClockWindow];
    for (int i = 0; i < clockCount; i++) {
        x[i] = double(clockNumbers[i] - base);
        y[i] = clockTimes[i];
    }
    const LineFit f = fitLine(x, y, clockCount);
    const double newBeatMs = f.slope * ClocksPerBeat;
    if (!f.valid || newBeatMs < MinBeatMs || newBeatMs > MaxBeatMs) return;
    beatMs = newBeatMs;
    // The fitted time of the latest clock, and its place in the song, give the phase.
    originMs = f.intercept - double(base) / ClocksPerBeat * beatMs;
}

void TempoClock::followBeat(double newBeatMs, double beatTimeMs, double ms) {
    if (!followSound || clockRules(ms) || !(newBeatMs >= MinBeatMs && newBeatMs <= MaxBeatMs)) return;
    const double beat = std::round(beatAt(beatTimeMs));
    beatMs = newBeatMs;
    originMs = beatTimeMs - beat * beatMs;
    source = TempoSound;
    tapCount = 0;
}
