// The spectrum side of the sound analysis: every hop of samples, the short-time spectrum (aubio's
// phase vocoder) split into three bands, low (up to 150 Hz: kick, bass), mid (150 Hz to 3 kHz:
// snare, voice) and high (above 3 kHz: hats). Per band it gives the spectral flux (how much the
// log-compressed magnitudes rose since the last hop: the onset strength) and the level. Kicks come
// from the sound itself, filtered into a low band and a body band, hop by hop: a spectrum sees a
// hit only once it has filled part of its window, the filtered sound as soon as it rises.
#pragma once
#include <aubio/aubio.h>

#include <cstdint>

constexpr int SoundHop = 256;      // samples between two analysis frames
constexpr int SoundWindow = 1024;  // samples of one spectrum
constexpr int SoundBands = 3;      // low, mid, high

struct BandFrame {
    float flux[SoundBands];    // onset strength of each band, 0 or more
    float level[SoundBands];   // loudness of each band, 0.0-1.0 (0 for silence)
    float decibels;            // the whole frame's level in dB below full scale
    bool kick;                 // a kick was found in this hop
    int32_t kickAt;            // where it began: samples from this hop's first (negative: before)
};

class OnsetBands {
public:
    explicit OnsetBands(int sampleRate);
    ~OnsetBands();
    OnsetBands(const OnsetBands&) = delete;
    OnsetBands& operator=(const OnsetBands&) = delete;

    // hop: SoundHop samples, finite and within -1..1.
    BandFrame analyse(const float* hop);

private:
    int firstBin[SoundBands + 1];  // band b holds the bins firstBin[b] .. firstBin[b+1]-1
    float framesPerSecond;
    aubio_pvoc_t* pvoc = nullptr;
    fvec_t* input = nullptr;
    cvec_t* spectrum = nullptr;
    float previous[SoundWindow / 2 + 1] = {};  // last frame's log magnitudes

    // Levels: each band's loudest recent level in dB (decaying), and the smoothed level shown.
    float peakDb[SoundBands];
    float shown[SoundBands] = {};

    // Kicks. The sound is split in the time domain, sample by sample, into the low band (below
    // 120 Hz: the kick's thump, a bass line) and the body (200-600 Hz: where a kick's attack
    // spreads, which a synthetic bass's notes and a hat barely reach).
    struct Biquad {
        float b[3], a[2];
        float x[2] = {}, y[2] = {};
        float run(float in);
    };
    Biquad low[2], body[3];
    // The mean energy per sample over the recent hops and the last hops' energies of each band
    // and of the whole sound: the background a kick rises from.
    static constexpr int History = 4;
    float lowMean = 0, bodyMean = 0, allMean = 0;
    float lowLast[2] = {}, bodyLast[History] = {}, allLast[History] = {};
    float lowPeak = 0;  // the loudest recent kick's rise in the low band
    // A rise in the low band that waits for the rest of a kick: hops since it began (0: none
    // waits), the backgrounds then, and the energy each band rose by since.
    int armedHops = 0;
    float armedLow = 0, armedBody = 0, armedAll = 0, armedMean = 0;
    float lowRise = 0, lowTop = 0, bodyRise = 0, allRise = 0;
    // The low band's envelope over the last KickHistory samples (a ring), to find where a kick
    // found late began.
    static constexpr int KickHistory = 8 * SoundHop;
    float envelope[KickHistory] = {};
    int32_t envelopeAt = 0;
    float envelopeNow = 0;
    float envelopeFall = 0.99f;
    int32_t sinceKick = 1 << 20;  // frames
};
