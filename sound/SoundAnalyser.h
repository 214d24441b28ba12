// The whole analysis of one mono signal, a plain object over samples: feed it blocks of any length
// and read the tempo, the latest beat, the three band levels and the kicks. The JACK input runs
// one on its own thread; the tests and the benchmark run it on rendered pieces directly.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sound/BeatTracker.h"
#include "sound/OnsetBands.h"

struct SoundReading {
    bool tempoKnown = false;
    double bpm = 0;
    double beatSample = 0;  // where the latest beat fell, in samples since the first fed
    float clarity = 0;
    float level[SoundBands] = {};  // low, mid, high: 0.0-1.0
    uint32_t kicks = 0;            // kicks heard so far
    int64_t lastKickSample = -1;   // where the latest one began
    int64_t samples = 0;           // samples fed so far
};

class SoundAnalyser {
public:
    explicit SoundAnalyser(int sampleRate);

    // Samples that are not finite read as 0; the rest is clipped to -1..1.
    void feed(const float* samples, size_t count);
    // A performer's taps, in samples on the same count as the fed ones: a beat fell here; the beat
    // is about this long.
    void tapBeat(double sample);
    void tapPeriod(double samples);
    const SoundReading& reading() const { return now; }
    int sampleRate() const { return rate; }

private:
    void analyseHop();

    int rate;
    OnsetBands bands;
    BeatTracker tracker;
    float hop[SoundHop] = {};
    int filled = 0;
    float fluxMean[SoundBands] = {};
    float power = 0;  // the sound's power over about a tenth of a second
    float loudDb = -120;
    SoundReading now;
};

// The reading after all of the samples, from a fresh analyser.
SoundReading analyseSamples(const float* samples, size_t count, int sampleRate);
