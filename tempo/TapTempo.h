// Tempo from a performer's taps. Human taps are uneven, and a performer sometimes misses a beat or
// hits one twice; the estimator finds the beat length that most tap intervals are whole multiples
// of, drops the taps that fall off that grid, and fits a line through the rest.
#pragma once
#include <cstdint>

constexpr int TapHistory = 8;            // taps kept: the tempo follows a change within a few taps
constexpr double TapPauseMs = 2000.0;    // a longer pause starts a new tap sequence
constexpr double MinBeatMs = 200.0;      // 300 BPM
constexpr double MaxBeatMs = 3000.0;     // 20 BPM

struct TapEstimate {
    bool valid = false;    // false: too few taps on one grid; the tempo stays as it was
    double beatMs = 0;     // fitted beat length
    int32_t lastAccepted = -1;  // index of the latest tap that lies on the grid
};

// taps: n arrival times in milliseconds, oldest first, strictly increasing. priorBeatMs (the tempo
// before these taps) breaks ties between equally good grids.
TapEstimate estimateTaps(const double* taps, int n, double priorBeatMs);
