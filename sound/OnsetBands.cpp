#include "sound/OnsetBands.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>

namespace {

const float BandEdgesHz[SoundBands + 1] = {30.0f, 150.0f, 3000.0f, 16000.0f};
constexpr float LevelRangeDb = 36.0f;    // a band reads 0 this far below its recent peak
constexpr float SilenceDb = -70.0f;      // quieter bands read 0 whatever their peak
constexpr float KickGapSeconds = 0.12f;  // two kicks closer than this are one
constexpr float KickRise = 4.0f;         // energy over the low hops' recent mean
constexpr float KickShare = 0.4f;        // of the whole hop's energy
constexpr float KickFloor = 1e-5f;       // -50 dB
constexpr float KickHz = 120.0f;

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
    // A second-order low-pass (the audio EQ cookbook's), Q of 1/sqrt(2).
    envelopeFall = float(std::exp(-1.0 / (0.01 * sampleRate)));
    const double w = 2 * M_PI * KickHz / sampleRate, alpha = std::sin(w) / std::sqrt(2.0), a0 = 1 + alpha;
    const double c = std::cos(w);
    lowB[0] = lowB[2] = float((1 - c) / 2 / a0);
    lowB[1] = float((1 - c) / a0);
    lowA[0] = float(-2 * c / a0);
    lowA[1] = float((1 - alpha) / a0);
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
        // The peak falls 6 dB a second, so a quiet passage reads high again after a while.
        peakDb[b] = std::max(db, std::max(SilenceDb, peakDb[b] - 6.0f / framesPerSecond));
        const float target = db < SilenceDb ? 0.0f : std::clamp(1.0f + (db - peakDb[b]) / LevelRangeDb, 0.0f, 1.0f);
        // Rises at once, falls over about a tenth of a second: a pulse the eye can follow.
        shown[b] = target > shown[b] ? target : shown[b] + (target - shown[b]) * std::min(1.0f, 10.0f / framesPerSecond);
        f.level[b] = shown[b];
    }
    f.decibels = 10.0f * std::log10(float(total) / (fullScale * fullScale) + 1e-12f);

    // A kick: the low-passed hop's energy jumped well above its recent mean, near the loudest
    // recent kicks (a bass line's notes rise less), carrying much of the whole hop's energy (not
    // a snare's or a hat's faint low end), above the floor and not just after another kick.
    double lowEnergy = 0, allEnergy = 0;
    float loudest = 0;
    for (int i = 0; i < SoundHop; i++) {
        const float x = hop[i];
        float y = x;
        for (int s = 0; s < 2; s++) {
            const float in = y;
            y = lowB[0] * in + lowB[1] * lowX[s][0] + lowB[2] * lowX[s][1] - lowA[0] * lowY[s][0] - lowA[1] * lowY[s][1];
            lowX[s][1] = lowX[s][0], lowX[s][0] = in, lowY[s][1] = lowY[s][0], lowY[s][0] = y;
        }
        // The envelope rises at once and falls over about 10 ms: no holes at zero crossings.
        envelopeNow = std::max(std::fabs(y), envelopeNow * envelopeFall);
        envelope[(envelopeAt + i) % KickHistory] = envelopeNow;
        lowEnergy += double(y) * y;
        allEnergy += double(x) * x;
        loudest = std::max(loudest, envelopeNow);
    }
    envelopeAt = (envelopeAt + SoundHop) % KickHistory;
    lowEnergy /= SoundHop;
    allEnergy /= SoundHop;
    f.kick = false;
    f.kickAt = 0;
    sinceKick++;
    const float e = float(lowEnergy);
    if (e > KickRise * lowMean && e > KickFloor && e > KickShare * float(allEnergy) && e > 0.3f * lowPeak &&
        sinceKick >= int32_t(KickGapSeconds * framesPerSecond)) {
        // It began where the envelope last rose through a tenth of this hop's peak: walked back
        // from the hop's end over the samples above it (at most the history).
        const int32_t end = envelopeAt + KickHistory;  // one past this hop's last sample
        int32_t at = SoundHop;
        while (at > 0 && envelope[(end - SoundHop + at - 1) % KickHistory] < 0.1f * loudest) at--;
        while (at > SoundHop - KickHistory + 1 && envelope[(end - SoundHop + at - 1) % KickHistory] >= 0.1f * loudest) at--;
        f.kick = true;
        f.kickAt = at;
        sinceKick = 0;
        lowPeak = std::max(lowPeak, e);
    }
    lowPeak *= std::pow(0.5f, 1.0f / framesPerSecond);  // halves in a second
    lowMean += (e - lowMean) * std::min(1.0f, 8.0f / framesPerSecond);
    return f;
}
