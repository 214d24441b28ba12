// A least-squares straight line through (x, y) points: the tap estimator and the MIDI clock both
// take the beat's length as the slope of arrival times over beat or clock numbers, so one late or
// early arrival moves the estimate by a fraction of its own error.
#pragma once

struct LineFit {
    double slope = 0, intercept = 0;
    bool valid = false;  // false with fewer than two distinct x
};

// x and y hold n points. x values are small integers counted from a recent point and y values are
// milliseconds, so both are centred before summing to keep the products well within a double.
inline LineFit fitLine(const double* x, const double* y, int n) {
    LineFit f;
    if (n < 2) return f;
    double mx = 0, my = 0;
    for (int i = 0; i < n; i++) {
        mx += x[i];
        my += y[i];
    }
    mx /= n;
    my /= n;
    double sxx = 0, sxy = 0;
    for (int i = 0; i < n; i++) {
        sxx += (x[i] - mx) * (x[i] - mx);
        sxy += (x[i] - mx) * (y[i] - my);
    }
    if (sxx <= 0) return f;
    f.slope = sxy / sxx;
    f.intercept = my - f.slope * mx;
    f.valid = true;
    return f;
}
