#include "sound/SoundAnalyser.h"

#include <algorithm>
#include <cmath>

namespace {

// The bands' share of the onset strength the tracker follows: kicks and snares mark the beat,
// hats fill between.
const float BandWeight[SoundBands] = {1.0f, 0.8f, 0.4f};
// Quiet, for the tempo: the level over the last tenth of a second below -60 dB, or 24 dB below
// the loudest such level lately (whose mark falls a tenth of a dB a second), so that faint noise
// after the music reads as silence.
constexpr float QuietDb = -60.0f;
constexpr float QuietBelowLoudDb = 24.0f;
// A frame's onset strength peaks when a hit is this many samples into its window: where the hit
// began (on rendered pieces the beats read this way lie within about 2 ms of the rendered ones).
constexpr double OnsetDelaySamples = 640;

}  // namespace

SoundAnalyser::SoundAnalyser(int sampleRate)
    : rate(sampleRate > 0 ? sampleRate : 48000), bands(rate), tracker(double(rate) / SoundHop) {}

void SoundAnalyser::feed(const float* samples, size_t count) {
    for (size_t i = 0; i < count; i++) {
        const float s = samples[i];
        hop[filled++] = std::isfinite(s) ? std::clamp(s, -1.0f, 1.0f) : 0.0f;
        if (filled == SoundHop) {
            analyseHop();
            filled = 0;
        }
    }
    now.samples += int64_t(count);
}

void SoundAnalyser::analyseHop() {
    const BandFrame f = bands.analyse(hop);
    const int64_t frame = tracker.frameCount();
    const double framesPerSecond = double(rate) / SoundHop;
    float strength = 0;
    for (int b = 0; b < SoundBands; b++) {
        // Each band in units of its own recent mean, so that a loud bass line does not drown the
        // snares.
        fluxMean[b] += (f.flux[b] - fluxMean[b]) * float(0.5 / framesPerSecond);
        strength += BandWeight[b] * f.flux[b] / (fluxMean[b] + 1e-4f);
        now.level[b] = f.level[b];
    }
    power += (std::pow(10.0f, f.decibels / 10) - power) * float(10 / framesPerSecond);
    const float db = 10 * std::log10(power + 1e-12f);
    loudDb = std::max(db, loudDb - float(0.1 / framesPerSecond));
    tracker.push(strength, f.flux[1] / (fluxMean[1] + 1e-4f), db < std::max(QuietDb, loudDb - QuietBelowLoudDb));
    if (f.kick) {
        now.kicks++;
        now.lastKickSample = int64_t(frame * SoundHop) + f.kickAt;
    }
    const BeatReading& r = tracker.reading();
    if (r.valid) {
        now.tempoKnown = true;
        now.bpm = 60.0 * framesPerSecond / r.periodFrames;
        now.beatSample = (r.beatFrame + 1) * SoundHop - OnsetDelaySamples;
        now.clarity = r.clarity;
    }
}

void SoundAnalyser::tapBeat(double sample) { tracker.hintBeat((sample + OnsetDelaySamples) / SoundHop - 1); }

void SoundAnalyser::tapPeriod(double samples) { tracker.hintPeriod(samples / SoundHop); }

SoundReading analyseSamples(const float* samples, size_t count, int sampleRate) {
    SoundAnalyser a(sampleRate);
    a.feed(samples, count);
    return a.reading();
}
