#include "tempo/TapTempo.h"

#include <cmath>

#include "tempo/LineFit.h"

namespace {

// How far off a whole number of beats a tap may lie and still count: wide enough for uneven hands,
// narrow enough that a double hit half-way between two beats never fits.
constexpr double GridTolerance = 0.22;

bool onGrid(double span, double beatMs, long* beats) {
    const double r = span / beatMs;
    const long k = std::lround(r);
    if (beats) *beats = k;
    return std::fabs(r - double(k)) <= GridTolerance;
}

// A grid of one beat length laid through one tap, and what it takes to explain the taps with it:
// the taps off it (or on a beat another tap already holds) would have to go, the beats with no tap
// between its first and last would have to be added. The grid needing the fewest such extra taps
// wins: one stray tap among eight costs one, while the half-beat grid through it would lack a tap
// on every other beat; a steady half-beat pattern costs nothing on its own grid.
struct Grid {
    double beatMs = 0;
    int anchor = -1;
    int cost = 0;
};

Grid layGrid(const double* taps, int n, double beatMs, int anchor) {
    Grid g{beatMs, anchor, 0};
    long first = 0, last = 0, previous = 0;
    int beatsHeld = 0;
    for (int i = 0; i < n; i++) {
        long k;
        if (!onGrid(taps[i] - taps[anchor], beatMs, &k)) continue;
        if (beatsHeld > 0 && k == previous) continue;  // taps come in order: same beat, same k
        if (beatsHeld == 0) first = k;
        last = previous = k;
        beatsHeld++;
    }
    const int strays = n - beatsHeld;
    const int missing = int(last - first + 1) - beatsHeld;
    g.cost = strays + missing;
    return g;
}

// Every tap interval in range is a candidate beat, laid through every tap. Ties go to the beat
// nearest the tempo before, then to later anchors (the newest taps count most).
Grid chooseGrid(const double* taps, int n, double priorBeatMs) {
    Grid best;
    for (int c = 1; c < n; c++) {
        const double cand = taps[c] - taps[c - 1];
        if (cand < MinBeatMs || cand > MaxBeatMs) continue;
        for (int a = 0; a < n; a++) {
            const Grid g = layGrid(taps, n, cand, a);
            const bool better = best.anchor < 0 || g.cost < best.cost ||
                                (g.cost == best.cost && std::fabs(cand - priorBeatMs) <= std::fabs(best.beatMs - priorBeatMs));
            if (better) best = g;
        }
    }
    return best;
}

}  // namespace

TapEstimate estimateTaps(const double* taps, int n, double priorBeatMs) {
    TapEstimate e;
    if (n < 2 || n > TapHistory) return e;
    const Grid grid = chooseGrid(taps, n, priorBeatMs);
    if (grid.anchor < 0) return e;
    const double beat = grid.beatMs;
    const int anchor = grid.anchor;

    // Beat numbers of the taps on the grid; of two taps on the same beat the nearer one stays.
    double x[TapHistory], y[TapHistory];
    int m = 0;
    long lastBeat = 0;
    for (int i = 0; i < n; i++) {
        long k;
        if (!onGrid(taps[i] - taps[anchor], beat, &k)) continue;
        if (m > 0 && k == lastBeat) {
            const double before = std::fabs(y[m - 1] - taps[anchor] - double(k) * beat);
            const double now = std::fabs(taps[i] - taps[anchor] - double(k) * beat);
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
