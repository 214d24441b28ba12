#include "sound/OnsetBands.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>

namespace {

const float BandEdgesHz[SoundBands + 1] = {30.0f, 150.0f, 3000.0f, 16000.0f};
constexpr float LevelRangeDb = 36.0f;    // a band reads 0 this far below its recent peak
constexpr float SilenceDb = -70.0f;      // quieter bands read 0 whatever their peak
constexpr float KickGapSeconds = 0.12f;  // two kicks closer than this are one
constexpr float KickRise = 4.0f;         // the low band's energy over its background
constexpr float KickFloor = 1e-5f;       // -50 dB
constexpr float KickNearPeak = 0.35f;    // the rise over the loudest recent kick's
constexpr float BodyOverLow = 0.02f;     // the body's rise over the low band's at least (-17 dB)
constexpr float LowOverBody = 0.6f;      // the low band's rise over the body's at least (-2.2 dB)
constexpr float LowOverAll = 0.1f;       // the low band's rise over the whole sound's at least
constexpr int KickWaitHops = 3;          // a rise in the low band waits this long for the rest
constexpr float LowHz = 120.0f, BodyFromHz = 200.0f, BodyToHz = 600.0f;

// Second-order filters (the audio EQ cookbook's, Q of 1/sqrt(2)); frequencies beyond what the
// rate carries are brought under it.
void design(float b[3], float a[2], float hz, int rate, bool highPass) {
    const double w = 2 * M_PI * std::min(double(hz), 0.45 * rate) / rate, alpha = std::sin(w) / std::sqrt(2.0);
    const double c = std::cos(w), a0 = 1 + alpha;
    const double g = highPass ? (1 + c) / 2 : (1 - c) / 2;
    b[0] = b[2] = float(g / a0);
    b[1] = float((highPass ? -2 : 2) * g / a0);
    a[0] = float(-2 * c / a0);
    a[1] = float((1 - alpha) / a0);
}

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
    envelopeFall = float(std::exp(-1.0 / (0.01 * sampleRate)));
    for (Biquad& f : low) design(f.b, f.a, LowHz, sampleRate, false);
    design(body[0].b, body[0].a, BodyFromHz, sampleRate, true);
    design(body[1].b, body[1].a, BodyFromHz, sampleRate, true);
    design(body[2].b, body[2].a, BodyToHz, sampleRate, false);
    pvoc = new_aubio_pvoc(SoundWindow, SoundHop);
    input = new_fvec(SoundHop);
    spectrum = new_cvec(SoundWindow);
}

OnsetBands::~OnsetBands() {
    if (pvoc) del_aubio_pvoc(pvoc);
    if (input) del_fvec(input);
    if (spectrum) del_cvec(spectrum);
}

float OnsetBands::Biquad::run(float in) {
    const float out = b[0] * in + b[1] * x[0] + b[2] * x[1] - a[0] * y[0] - a[1] * y[1];
    x[1] = x[0], x[0] = in, y[1] = y[0], y[0] = out;
    return out;
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

    // A kick: the low band's energy jumped well above its background, above the floor and not
    // just after another kick. Within the next hops it must look like one: its rise near the
    // loudest recent kicks' and above the band's recent mean (not a flicker of noise), the body
    // rising too, at least to twice its background (a kick's attack spreads there; a bass note,
    // a hat or noise barely reach it), and the low band rising about as much as the body or more
    // (a snare's low end does not; a snare on a kick does) and not far below the whole sound
    // (a hat's does, whose low end may reach the body too). Rises are counted from the
    // backgrounds before the jump, so that steady noise or a bass note's tail does not count.
    double lowEnergy = 0, bodyEnergy = 0, allEnergy = 0;
    float loudest = 0;
    for (int i = 0; i < SoundHop; i++) {
        const float x = hop[i];
        float y = x, b = x;
        for (Biquad& s : low) y = s.run(y);
        for (Biquad& s : body) b = s.run(b);
        // The envelope rises at once and falls over about 10 ms: no holes at zero crossings.
        envelopeNow = std::max(std::fabs(y), envelopeNow * envelopeFall);
        envelope[(envelopeAt + i) % KickHistory] = envelopeNow;
        lowEnergy += double(y) * y;
        bodyEnergy += double(b) * b;
        allEnergy += double(x) * x;
        loudest = std::max(loudest, envelopeNow);
    }
    envelopeAt = (envelopeAt + SoundHop) % KickHistory;
    const float e = float(lowEnergy / SoundHop), eb = float(bodyEnergy / SoundHop), ea = float(allEnergy / SoundHop);
    f.kick = false;
    f.kickAt = 0;
    sinceKick++;
    // Backgrounds: the recent means, or the last hops when lower (a kick's tail falling just
    // before: two hops of the low band, half a period of its lowest notes, so that their phase
    // does not show; the others' quietest of four, from before the attack began).
    const float lowBack = std::min(lowMean, 0.5f * (lowLast[0] + lowLast[1]));
    float bodyBack = bodyMean, allBack = allMean;
    for (int k = 0; k < History; k++) {
        bodyBack = std::min(bodyBack, bodyLast[k]);
        allBack = std::min(allBack, allLast[k]);
    }
    if (!armedHops && e > KickRise * lowBack && e > KickFloor && sinceKick >= int32_t(KickGapSeconds * framesPerSecond)) {
        armedHops = 1;
        armedLow = lowBack, armedBody = bodyBack, armedAll = allBack, armedMean = lowMean;
        lowRise = lowTop = 0;
        // The attack may have reached the others a hop before the low band rose enough.
        bodyRise = std::max(0.0f, bodyLast[0] - bodyBack);
        allRise = std::max(0.0f, allLast[0] - allBack);
    }
    if (armedHops) {
        lowRise += std::max(0.0f, e - armedLow);
        lowTop = std::max(lowTop, e - armedLow);
        bodyRise += std::max(0.0f, eb - armedBody);
        allRise += std::max(0.0f, ea - armedAll);
        if (lowTop >= KickNearPeak * lowPeak && lowTop >= armedMean && bodyRise >= armedBody * float(armedHops) &&
            bodyRise >= BodyOverLow * lowRise && lowRise >= LowOverBody * bodyRise && lowRise >= LowOverAll * allRise) {
            // It began where the envelope last rose through a tenth of this hop's peak: walked
            // back from the hop's end over the samples above it, at most to the hop before the
            // rise (a bass note's tail may hold the envelope up).
            const int32_t end = envelopeAt + KickHistory;  // one past this hop's last sample
            const int32_t first = -armedHops * SoundHop;
            int32_t at = SoundHop;
            while (at > 0 && envelope[(end - SoundHop + at - 1) % KickHistory] < 0.1f * loudest) at--;
            while (at > first && envelope[(end - SoundHop + at - 1) % KickHistory] >= 0.1f * loudest) at--;
            f.kick = true;
            f.kickAt = at;
            sinceKick = 0;
            armedHops = 0;
            lowPeak = std::max(lowPeak, lowTop);
        } else if (++armedHops > KickWaitHops) {
            armedHops = 0;  // a bass note, a snare, a hat or noise
        }
    }
    lowPeak *= std::pow(0.5f, 0.5f / framesPerSecond);  // halves in two seconds
    const float follow = std::min(1.0f, 8.0f / framesPerSecond);
    lowMean += (e - lowMean) * follow;
    bodyMean += (eb - bodyMean) * follow;
    allMean += (ea - allMean) * follow;
    lowLast[1] = lowLast[0], lowLast[0] = e;
    for (int k = History - 1; k > 0; k--) bodyLast[k] = bodyLast[k - 1], allLast[k] = allLast[k - 1];
    bodyLast[0] = eb, allLast[0] = ea;
    return f;
}
