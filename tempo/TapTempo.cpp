#include "tempo/TapTempo.h"

#include <cmath>

#include "tempo/LineFit.h"

namespace {

// How far off a whole number of beats an interval may lie and still count: wide enough for uneven
// hands, narrow enough that a double hit half-way between two beats never fits.
constexpr double GridTolerance = 0.22;

bool onGrid(double span, double beatMs, long* beats) {
    const double r = span / beatMs;
    const long k = std::lround(r);
    if (beats) *beats = k;
    return std::fabs(r - double(k)) <= GridTolerance;
}

// The beat length candidate: the tap interval that the most other intervals are whole multiples
// of (a missed tap gives a double interval that still fits; the two halves of a double hit fit
// neither). Ties go to the candidate nearest the tempo before.
double chooseBeat(const double* taps, int n, double priorBeatMs) {
    double best = 0;
    int bestFits = 0;
    for (int c = 1; c < n; c++) {
        const double cand = taps[c] - taps[c - 1];
        if (cand < MinBeatMs || cand > MaxBeatMs) continue;
        int fits = 0;
        for (int i = 1; i < n; i++) {
            long k;
            if (onGrid(taps[i] - taps[i - 1], cand, &k) && k >= 1) fits++;
        }
        if (fits > bestFits || (fits == bestFits && std::fabs(cand - priorBeatMs) < std::fabs(best - priorBeatMs))) {
            best = cand;
            bestFits = fits;
        }
    }
    return best;
}

}  // namespace

TapEstimate estimateTaps(const double* taps, int n, double priorBeatMs) {
    TapEstimate e;
    if (n < 2 || n > TapHistory) return e;
    const double beat = chooseBeat(taps, n, priorBeatMs);
    if (beat <= 0) return e;

    // Lay the grid through each tap in turn and keep the one that catches the most taps (later
    // anchors win ties, so the newest taps count most).
    int bestAnchor = -1, bestCount = 0;
    for (int a = 0; a < n; a++) {
        int count = 0;
        for (int i = 0; i < n; i++)
            if (onGrid(taps[i] - taps[a], beat, nullptr)) count++;
        if (count >= bestCount) {
            bestCount = count;
            bestAnchor = a;
        }
    }

    // Beat numbers of the taps on the grid; of two taps on the same beat the nearer one stays.
    double x[TapHistory], y[TapHistory];
    int m = 0;
    long lastBeat = 0;
    for (int i = 0; i < n; i++) {
        long k;
        if (!onGrid(taps[i] - taps[bestAnchor], beat, &k)) continue;
        if (m > 0 && k == lastBeat) {
            const double before = std::fabs(y[m - 1] - taps[bestAnchor] - double(k) * beat);
            const double now = std::fabs(taps[i] - taps[bestAnchor] - double(k) * beat);
            if (now >= before) continue;
            m--;
        }
        x[m] = double(k);
        y[m] = taps[i];
        m++;
        lastBeat = k;
        e.lastAccepted = i;
    }
    const LineFit f = fitLine(x, y, m);
    if (!f.valid || f.slope < MinBeatMs || f.slope > MaxBeatMs) return e;
    e.valid = true;
    e.beatMs = f.slope;
    return e;
}
