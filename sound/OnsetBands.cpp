#include "sound/OnsetBands.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>

namespace {

const float BandEdgesHz[SoundBands + 1] = {30.0f, 150.0f, 3000.0f, 16000.0f};
constexpr float LevelRangeDb = 36.0f;    // a band reads 0 this far below its recent peak
constexpr float SilenceDb = -70.0f;      // quieter bands read 0 whatever their peak
constexpr float KickGapSeconds = 0.12f;  // two kicks closer than this are one
constexpr float KickShareDb = 6.0f;      // the low band within this of the whole sound's level
constexpr float KickRiseDb = 6.0f;       // and this far above its own recent level
constexpr float KickFloorDb = -50.0f;

}  // namespace

OnsetBands::OnsetBands(int sampleRate) {
    const int bins = SoundWindow / 2 + 1;
    for (int b = 0; b <= SoundBands; b++) {
        const int bin = int(std::lround(BandEdgesHz[b] * SoundWindow / float(sampleRate)));
        firstBin[b] = std::clamp(bin, 1, bins);
    }
    for (int b = 1; b <= SoundBands; b++) firstBin[b] = std::max(firstBin[b], firstBin[b - 1] + 1);
    firstBin[SoundBands] = std::min(firstBin[SoundBands], bins);
    framesPerSecond = float(sampleRate) / SoundHop;
    for (float& p : peakDb) p = SilenceDb;
    pvoc = new_aubio_pvoc(SoundWindow, SoundHop);
    input = new_fvec(SoundHop);
    spectrum = new_cvec(SoundWindow);
}

OnsetBands::~OnsetBands() {
    if (pvoc) del_aubio_pvoc(pvoc);
    if (input) del_fvec(input);
    if (spectrum) del_cvec(spectrum);
}

BandFrame OnsetBands::analyse(const float* hop) {
    BandFrame f = {};
    std::copy(hop, hop + SoundHop, input->data);
    aubio_pvoc_do(pvoc, input, spectrum);
    const float* norm = spectrum->norm;
    // A full-scale sine reads about SoundWindow / 4 in aubio's magnitudes.
    const float fullScale = float(SoundWindow) / 4;
    double total = 0;
    float bandDb[SoundBands];
    for (int b = 0; b < SoundBands; b++) {
        double flux = 0, energy = 0;
        for (int k = firstBin[b]; k < firstBin[b + 1]; k++) {
            // The log keeps a quiet attack after a loud one visible: onset strength is relative.
            const float m = std::log1p(1000.0f * norm[k] / fullScale);
            flux += std::max(0.0f, m - previous[k]);
            previous[k] = m;
            energy += double(norm[k]) * norm[k];
        }
        f.flux[b] = float(flux / (firstBin[b + 1] - firstBin[b]));
        total += energy;
        const float db = 10.0f * std::log10(float(energy) / (fullScale * fullScale) + 1e-12f);
        bandDb[b] = db;
        // The peak falls 6 dB a second, so a quiet passage reads high again after a while.
        peakDb[b] = std::max(db, std::max(SilenceDb, peakDb[b] - 6.0f / framesPerSecond));
        const float target = db < SilenceDb ? 0.0f : std::clamp(1.0f + (db - peakDb[b]) / LevelRangeDb, 0.0f, 1.0f);
        // Rises at once, falls over about a tenth of a second: a pulse the eye can follow.
        shown[b] = target > shown[b] ? target : shown[b] + (target - shown[b]) * std::min(1.0f, 10.0f / framesPerSecond);
        f.level[b] = shown[b];
    }
    f.decibels = 10.0f * std::log10(float(total) / (fullScale * fullScale) + 1e-12f);

    // A kick: the low band's flux peaked in the previous frame well above its running mean and
    // near its recent peaks (a bass line's notes rise less), not just after another; the low band
    // must carry much of the sound (not a hat's or a snare's faint low end) and have risen well
    // above its recent level (not noise's flicker).
    const float now = f.flux[0];
    const float candidate = lowFlux[0];
    const bool peaked = candidate > lowFlux[1] && candidate >= now;
    const bool lowCarries = bandDb[0] > f.decibels - KickShareDb && bandDb[0] > lowDbMean + KickRiseDb;
    sinceKick++;
    if (peaked && lowCarries && bandDb[0] > KickFloorDb && candidate > 2.0f * lowMean + 0.05f &&
        candidate > 0.4f * lowPeak && sinceKick >= int32_t(KickGapSeconds * framesPerSecond)) {
        f.kick = true;
        sinceKick = 0;
    }
    if (peaked) lowPeak = std::max(candidate, lowPeak);
    lowPeak *= std::pow(0.5f, 1.0f / framesPerSecond);  // halves in a second
    lowMean += (now - lowMean) * (1.0f / framesPerSecond);
    lowDbMean += (std::max(bandDb[0], SilenceDb) - lowDbMean) * (2.0f / framesPerSecond);
    lowFlux[1] = lowFlux[0];
    lowFlux[0] = now;
    return f;
}
