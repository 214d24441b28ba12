#include "sound/BeatTracker.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double WindowSeconds = 8.0;   // folded for phase and octave
constexpr double AcfSeconds = 5.0;      // autocorrelated for the beat's family
constexpr int MaxFitBeats = 64;         // beats fitted for the precise length and phase, at most
constexpr int FitFirstBeats = 5;        // the latest beats always fitted
constexpr double FitTolerance = 0.014;  // seconds an older beat may lie off the latest's line
constexpr double FitReach = 0.1;        // the fit's length may lie this far (log) from the folded one
constexpr double ChangeRatio = 0.015;   // the latest beats' length this far (log) from all's: a change
constexpr double ScatterLearning = 0.1; // each steady fit's share in the music's scatter
constexpr double ChangeSeconds = 2.5;   // the latest beats always fitted, at least
constexpr double RecentSeconds = 3.0;   // older frames weigh less (e to the minus age over this)
constexpr double UpdateSeconds = 0.25;
constexpr double FirstReadingSeconds = 4 * 60 / MinTrackBpm + 2;
constexpr double Spread = 0.04;         // each candidate is searched this far either side
constexpr double PreferredBpm = 140.0;  // the middle of the tempo bell
constexpr double PreferredSpread = 0.8; // its width, in octaves
constexpr double ClarityNeeded = 1.6;   // below: no clear beat, the reading stays
constexpr double ChangeHoldSeconds = 8.0;  // the octave holds this long after a change of tempo
constexpr int OctaveVotesNeeded = 8;    // a new octave must win this many updates in a row
constexpr double OctaveMargin = 1.2;    // by this much
constexpr double SnareSide = 1.3;       // snares this much louder halfway: the grid moves
constexpr double SnareSeconds = 4.0;    // looked at for the snares' place, at least
constexpr int MaxBins = 2048;  // half-frame bins of the longest beat (60 BPM at 512 frames a second)

double logRatio(double a, double b) { return std::fabs(std::log(a / b)); }

}  // namespace

BeatTracker::BeatTracker(double framesPerSecond) : fps(framesPerSecond) {}

void BeatTracker::push(float strength, float mid, bool silent) {
    const int i = int(frames % TrackHistory);
    auto clean = [](float v) { return std::isfinite(v) && v > 0 ? std::min(v, 1e6f) : 0.0f; };
    history[i] = clean(strength);
    midHistory[i] = clean(mid);
    quiet[i] = silent ? 1 : 0;
    frames++;
    if (++sinceEstimate >= int32_t(UpdateSeconds * fps)) {
        sinceEstimate = 0;
        estimate();
    }
}

void BeatTracker::hintBeat(double frame) {
    lockedByTap = true;
    if (out.periodFrames > 0) out.beatFrame = frame;
}

void BeatTracker::hintPeriod(double period) {
    if (!(period > 0)) return;
    lockedByTap = true;
    if (out.periodFrames <= 0) {
        out.periodFrames = period;
        return;
    }
    // The tracker's own length, halved or doubled as the taps say.
    double best = out.periodFrames;
    for (double m : {0.5, 2.0})
        if (logRatio(out.periodFrames * m, period) < logRatio(best, period)) best = out.periodFrames * m;
    out.periodFrames = best;
}

// The signal folded onto one beat length: every frame lands at its distance back from the window's
// end modulo the length, in half-frame bins, weighed by its age. The fullest bin is the phase.
BeatTracker::Fold BeatTracker::fold(const float* s, int n, double period) const {
    double bins[MaxBins];
    const int count = std::clamp(int(std::ceil(2 * period)), 1, MaxBins);
    std::fill(bins, bins + count, 0.0);
    double total = 0;
    for (int i = 0; i < n; i++) {
        const double v = double(s[i]) * weight[i];
        if (v == 0) continue;
        const double at = 2 * std::fmod(double(n - 1 - i), period);
        const int b = int(at);
        const double frac = at - b;
        bins[b % count] += v * (1 - frac);
        bins[(b + 1) % count] += v * frac;
        total += v;
    }
    Fold f;
    f.period = period;
    if (total <= 0) return f;
    // A light circular smoothing: a beat's frames spread over two or three bins.
    double smooth[MaxBins] = {};
    for (int b = 0; b < count; b++)
        smooth[b] = 0.25 * bins[(b + count - 1) % count] + 0.5 * bins[b] + 0.25 * bins[(b + 1) % count];
    int best = 0;
    for (int b = 1; b < count; b++)
        if (smooth[b] > smooth[best]) best = b;
    const double l = smooth[(best + count - 1) % count], c = smooth[best], r = smooth[(best + 1) % count];
    const double denom = l - 2 * c + r;
    const double shift = denom < 0 ? std::clamp(0.5 * (l - r) / denom, -0.5, 0.5) : 0.0;
    f.phase = std::fmod((best + shift) / 2 + period, period);
    f.on = c;
    f.peakiness = c / (total / count);
    return f;
}

BeatTracker::Fold BeatTracker::search(const float* s, int n, double period, double spread) const {
    Fold best;
    const int steps = int(spread / 0.0025);
    for (int j = -steps; j <= steps; j++) {
        const Fold f = fold(s, n, period * (1 + j * 0.0025));
        if (f.on > best.on) best = f;
    }
    return best;
}

// The beats themselves: from the grid's latest beat back over the window, each beat's centre of
// mass near where the one after it says (so that a new tempo's beats are found though the grid
// still has the old length), then a weighted line through the latest of them, as many as lie on
// one line: the beat's length and phase to a fraction of a frame, and a tempo change is followed
// as soon as a few beats of it are heard. False when too few beats stand out.
bool BeatTracker::fitBeats(const float* s, int n, Fold& f, double scatter, bool& changing, double& fitScatter) const {
    const double half = f.period / 6;
    double xs[MaxFitBeats], ys[MaxFitBeats], ws[MaxFitBeats];
    int beats = 0;
    double t = (n - 1) - f.phase;
    for (int k = 0; beats < MaxFitBeats; k++, t -= f.period) {
        if (t - half < 0) break;
        if (t + half > n - 1) continue;  // not all of it heard yet
        double mass = 0, moment = 0, peak = 0;
        for (int i = int(std::ceil(t - half)); i <= int(std::floor(t + half)); i++) {
            const double v = double(s[i]) * s[i];
            mass += v;
            moment += v * i;
            peak = std::max(peak, double(s[i]));
        }
        if (mass <= 0) continue;
        xs[beats] = -k, ys[beats] = moment / mass, ws[beats] = peak;
        t = ys[beats];
        beats++;
    }
    if (beats < FitFirstBeats) return false;
    double slope = 0, at0 = 0;
    auto line = [&](int count) {
        double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (int j = 0; j < count; j++)
            sw += ws[j], sx += ws[j] * xs[j], sy += ws[j] * ys[j], sxx += ws[j] * xs[j] * xs[j], sxy += ws[j] * xs[j] * ys[j];
        const double d = sw * sxx - sx * sx;
        if (d <= 0) return false;
        slope = (sw * sxy - sx * sy) / d;
        at0 = (sy - slope * sx) / sw;
        return true;
    };
    // The latest seconds' beats, then older ones while they lie on their line (three off in a
    // row: the tempo was another before them). Off: further than this music's beats scatter
    // about a line, three times over (measured on fits of a steady tempo; the latest beats' own
    // scatter is no measure while they straddle a change).
    auto scatterOf = [&](int count) {
        double sum = 0, sw = 0;
        for (int j = 0; j < count; j++) {
            const double r = at0 + slope * xs[j] - ys[j];
            sum += ws[j] * r * r, sw += ws[j];
        }
        return std::sqrt(sum / sw * count / (count - 2));
    };
    int used = FitFirstBeats;
    while (used < beats && ys[0] - ys[used] < ChangeSeconds * fps) used++;
    if (!line(used)) return false;
    const double tolerance = std::max(FitTolerance * fps, 3 * scatter);
    for (int j = used, misses = 0; j < beats; j++) {
        if (std::fabs(at0 + slope * xs[j] - ys[j]) > tolerance) {
            if (++misses == 3) break;
            continue;
        }
        misses = 0;
        used = j + 1;
        line(used);
    }
    // The older beats left out have another length: the tempo is changing.
    changing = false;
    if (used < beats) {
        const double recentSlope = slope;
        changing = line(beats) && logRatio(recentSlope, slope) > ChangeRatio;
        line(used);
    }
    if (!line(used) || logRatio(slope, f.period) > FitReach) return false;
    fitScatter = scatterOf(used);
    f.period = slope;
    f.phase = (n - 1) - at0;
    while (f.phase < 0) f.phase += f.period;
    f.phase = std::fmod(f.phase, f.period);
    return true;
}

// Snares fall on beats (two and four, or three), rarely halfway between: the mid band folded onto
// a bar of four beats in eighths, its fullest eighth halfway between two of the grid's beats
// rather than on one says the grid sits on the offbeats.
bool BeatTracker::snaresHalfway(int n, const Fold& f) const {
    const int64_t start = frames - n;
    double slots[8] = {};
    const double latest = (n - 1) - f.phase;
    // The last two bars, or four seconds if longer: a length a little off smears no further.
    const int first = std::max(0, n - int(std::max(SnareSeconds * fps, 8 * f.period)));
    for (int i = first; i < n; i++) {
        const double u = 2 * (latest - i) / f.period;  // eighths back from the latest beat
        const double r = std::floor(u + 0.5);
        if (std::fabs(u - r) > 0.25) continue;
        slots[int(std::fmod(r, 8.0) + 8) % 8] += midHistory[(start + i) % TrackHistory];
    }
    double on = 0, off = 0;
    for (int j = 0; j < 8; j += 2) {
        on = std::max(on, slots[j]);
        off = std::max(off, slots[j + 1]);
    }
    return off > SnareSide * on;
}

void BeatTracker::estimate() {
    const int n = int(std::min<double>(double(frames), std::min(WindowSeconds * fps, double(TrackHistory))));
    // The first reading waits until the meter of the slowest tempo can be heard (four of its
    // beats and two seconds to compare): an early one would favour the fast octaves.
    if (n < (out.valid ? 3 : FirstReadingSeconds) * fps) return;
    const int64_t start = frames - n;
    // Silence (more than half of the last two seconds, or a quarter of the last half second: the
    // music stopped) reads nothing: the last tempo runs on.
    const int recent = int(2 * fps), latest = int(0.5 * fps);
    int quietFrames = 0, quietLatest = 0;
    for (int i = n - recent; i < n; i++) {
        quietFrames += quiet[(start + i) % TrackHistory];
        if (i >= n - latest) quietLatest += quiet[(start + i) % TrackHistory];
    }
    if (quietFrames * 2 > recent || quietLatest * 4 > latest) {
        octaveVotes = 0;
        return;
    }

    // The onset strength less its local mean (a tenth of a second around), negative parts dropped,
    // lightly smoothed: peaks where the onsets are.
    std::vector<double> prefix(n + 1, 0.0);
    for (int i = 0; i < n; i++) prefix[i + 1] = prefix[i] + history[(start + i) % TrackHistory];
    const int m = std::max(2, int(0.06 * fps));
    std::vector<float> peaks(n);
    for (int i = 0; i < n; i++) {
        const int a = std::max(0, i - m), b = std::min(n, i + m + 1);
        const double mean = (prefix[b] - prefix[a]) / (b - a);
        peaks[i] = float(std::max(0.0, history[(start + i) % TrackHistory] - mean));
    }
    for (int i = 0; i < n; i++) {
        const float l2 = peaks[std::max(0, i - 2)], l1 = peaks[std::max(0, i - 1)];
        const float r1 = peaks[std::min(n - 1, i + 1)], r2 = peaks[std::min(n - 1, i + 2)];
        signal[i] = (l2 + 4 * l1 + 6 * peaks[i] + 4 * r1 + r2) / 16;
        weight[i] = float(std::exp(-(n - 1 - i) / (RecentSeconds * fps)));
    }

    // The beat's family: the strongest autocorrelation lag in the tempo range.
    const int minLag = int(std::floor(60 * fps / MaxTrackBpm)), maxLag = int(std::ceil(60 * fps / MinTrackBpm));
    const int na = int(std::min<double>(n, AcfSeconds * fps));
    if (maxLag + 2 >= na) return;
    std::vector<double> acf(maxLag + 2, 0.0);
    // How much the whole window repeats after a lag (up to four of the longest beats), relative
    // to the lag 0; lags that leave less than two seconds to compare read 0.
    auto acfAt = [&](int lag) {
        double sum = 0;
        for (int i = lag; i < n; i++) sum += double(signal[i]) * signal[i - lag];
        return sum / (n - lag);
    };
    const double energy = acfAt(0);
    auto longAt = [&](double lag) {
        const int i = int(lag);
        if (energy <= 0 || n - (i + 1) < 2 * fps) return 0.0;
        const double a = acfAt(i), b = acfAt(i + 1);
        return (a + (b - a) * (lag - i)) / energy;
    };
    for (int lag = minLag - 1; lag <= maxLag + 1; lag++) {
        double sum = 0;
        for (int i = n - na + lag; i < n; i++) sum += double(signal[i]) * signal[i - lag];
        acf[lag] = sum / (na - lag);
    }
    // Every strong lag in range (the local maxima above half the strongest) and its octaves:
    // the beat, a bar's fraction or a pattern's repeat.
    std::vector<double> periods;
    double strongest = 0;
    for (int lag = minLag; lag <= maxLag; lag++) strongest = std::max(strongest, acf[lag]);
    if (strongest <= 0) return;
    for (int lag = minLag; lag <= maxLag; lag++) {
        if (acf[lag] < acf[lag - 1] || acf[lag] < acf[lag + 1] || acf[lag] < 0.5 * strongest) continue;
        const double l = acf[lag - 1], c = acf[lag], r = acf[lag + 1];
        const double denom = l - 2 * c + r;
        const double peak = lag + (denom < 0 ? std::clamp(0.5 * (l - r) / denom, -0.5, 0.5) : 0.0);
        for (double mult : {0.25, 0.5, 1.0, 2.0, 4.0}) {
            const double p = peak * mult;
            if (p < minLag || p > maxLag) continue;
            if (std::none_of(periods.begin(), periods.end(), [&](double q) { return logRatio(p, q) < 0.02; })) periods.push_back(p);
        }
    }
    if (out.valid && std::none_of(periods.begin(), periods.end(), [&](double p) { return logRatio(p, out.periodFrames) < 0.02; }))
        periods.push_back(out.periodFrames);
    std::vector<Fold> folds;
    for (double p : periods) folds.push_back(search(signal, n, p, Spread));

    // The candidate that fits the music's meter best: the signal repeats after half a beat (the
    // eighth notes), one, two and four of its beats (a bar of four), less after three, and its
    // fold stands out; weighed by how common its tempo is (a bell over the octaves around
    // PreferredBpm).
    int chosen = 0;
    double bestScore = -1;
    std::vector<double> scores(folds.size());
    for (int i = 0; i < int(folds.size()); i++) {
        const double p = folds[i].period;
        const double meter = std::max(1e-6, 0.5 * longAt(0.5 * p) + longAt(p) + longAt(2 * p) + longAt(4 * p) - longAt(3 * p));
        const double octaves = std::log2(60 * fps / p / PreferredBpm) / PreferredSpread;
        const double score = std::sqrt(folds[i].peakiness) * meter * std::exp(-0.5 * octaves * octaves);
        scores[i] = score;
        if (score > bestScore) bestScore = score, chosen = i;
    }

    if (changeHeard > 0) changeHeard--;
    // Taps, or the last reading, hold the octave: another octave must win several times in a row.
    // A smaller change of tempo comes from the fit of the beats, which follows them.
    int nearest = 0;
    if (out.periodFrames > 0)
        for (int i = 1; i < int(folds.size()); i++)
            if (logRatio(folds[i].period, out.periodFrames) < logRatio(folds[nearest].period, out.periodFrames)) nearest = i;
    const bool nearKnown = out.periodFrames > 0 && logRatio(folds[nearest].period, out.periodFrames) < std::log(1.15);
    if (lockedByTap && !nearKnown) lockedByTap = false;  // the music changed beyond the taps
    if (lockedByTap) chosen = nearest;
    else if (out.valid && nearKnown && chosen != nearest && scores[chosen] > OctaveMargin * scores[nearest]) {
        // While the tempo changes its old and new beats smear the folds: no votes then.
        if (changeHeard > 0) octaveVotes = 0;
        if (++octaveVotes < OctaveVotesNeeded) chosen = nearest;
        else octaveVotes = 0;
    } else {
        if (out.valid && nearKnown) chosen = nearest;
        octaveVotes = 0;
    }

    Fold f = folds[chosen];
    // A reading must stand out a third as clearly as the beats heard lately (a mark that halves in
    // twenty seconds without them), so that noise after the music changes nothing; a fifth while
    // the tempo changes, whose old and new beats smear every fold.
    clarityMark *= std::pow(0.5, UpdateSeconds / 20);
    if (f.peakiness < ClarityNeeded || f.peakiness < (changeHeard > 0 ? 0.2 : 0.3) * clarityMark) return;
    clarityMark = std::max(clarityMark, f.peakiness);
    // Still on the last reading's tempo (no other octave won): its beats go on from where they
    // were, for the fit to follow, rather than from the fold, which smears a change of tempo.
    if (out.valid && nearKnown && chosen == nearest && out.periodFrames > 0 && !lockedByTap) {
        f.period = out.periodFrames;
        f.phase = std::fmod(double(frames - 1) - out.beatFrame, f.period);
        if (f.phase < 0) f.phase += f.period;
    }
    // On the beats rather than halfway between before the fit: the beats are what it follows.
    if (!lockedByTap && snaresHalfway(n, f)) f.phase = std::fmod(f.phase + f.period / 2, f.period);
    bool changing = false;
    double fitScatter = 0;
    // How far this music's beats lie off a line, learnt from fits of a steady tempo.
    if (fitBeats(signal, n, f, beatScatter, changing, fitScatter) && !changing)
        beatScatter = beatScatter < 0 ? fitScatter : beatScatter + (fitScatter - beatScatter) * ScatterLearning;
    if (changing) changeHeard = int32_t(ChangeHoldSeconds / UpdateSeconds);

    double beat = double(frames - 1) - f.phase;
    // Held by taps, the phase keeps the grid they set rather than the one halfway between.
    if (lockedByTap && out.periodFrames > 0) {
        double d = std::fmod((beat - out.beatFrame) / f.period, 1.0);
        if (d < 0) d += 1;
        if (d > 0.25 && d < 0.75) beat -= f.period / 2;
    }
    out.valid = true;
    out.periodFrames = f.period;
    out.beatFrame = beat;
    out.clarity = float(f.peakiness);
    out.updates++;
}
