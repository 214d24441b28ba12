// Tempo and beat phase from an onset-strength signal (one value per analysis frame). Every quarter
// of a second it looks at the last eight seconds: the autocorrelation's strong lags and their
// halves and doubles are the candidate beat lengths; folding the signal onto each gives its phase
// and how clearly its beats stand out, which (weighed by how common the tempo is) picks one; the
// snares' place in a bar puts its grid on the beats rather than halfway. Once a tempo is read, its
// beats are walked on from the last reading and a straight line through as many of the latest as
// lie on one gives length and phase precisely, and follows a change of tempo within seconds; the
// candidates only decide the octave. Silence, and sound without a clear beat, leave the last
// reading as it was.
#pragma once
#include <cstdint>

constexpr double MinTrackBpm = 60.0;
constexpr double MaxTrackBpm = 200.0;
constexpr int TrackHistory = 4096;  // frames kept: eight seconds up to 128,000 samples a second

struct BeatReading {
    bool valid = false;      // a tempo was found (it stays, also through silence)
    double periodFrames = 0;
    double beatFrame = 0;    // the latest beat, in frames since the start (fractional)
    float clarity = 0;       // how far the beats stand out of the folded signal (1: not at all)
    uint32_t updates = 0;    // readings taken so far
};

class BeatTracker {
public:
    explicit BeatTracker(double framesPerSecond);

    // One frame's onset strength (0 or more), the mid band's alone (snares); silent: the frame
    // is quiet enough to be no music.
    void push(float strength, float mid, bool silent);
    // A performer's hints (taps): a beat fell at this frame; the beat is about this long. Both
    // keep the tracker on the phase and octave they chose until the tempo changes beyond doubt.
    void hintBeat(double frame);
    void hintPeriod(double frames);
    const BeatReading& reading() const { return out; }
    int64_t frameCount() const { return frames; }

private:
    struct Fold {
        double period = 0, phase = 0;  // phase: frames back from the window's end to a beat
        double on = 0, peakiness = 0;
    };
    void estimate();
    Fold fold(const float* s, int n, double period) const;
    Fold search(const float* s, int n, double period, double spread) const;
    // scatter: the music's (frames); changing: older beats had another length; fitScatter: this
    // fit's own.
    bool fitBeats(const float* s, int n, Fold& f, double scatter, bool& changing, double& fitScatter) const;
    bool snaresHalfway(int n, const Fold& f) const;

    double fps;
    float history[TrackHistory] = {};
    float midHistory[TrackHistory] = {};
    uint8_t quiet[TrackHistory] = {};
    int64_t frames = 0;
    int32_t sinceEstimate = 0;
    BeatReading out;
    int32_t octaveVotes = 0;  // updates in a row that wanted another octave
    int32_t changeHeard = 0;  // updates left to hold the octave after a change of tempo
    double beatScatter = -1;  // how far beats lie off a line in this music, frames (-1: not known yet)
    bool lockedByTap = false;
    double clarityMark = 0;   // the clearest recent reading's clarity, fading
    // Work space of one estimate, oldest frame first.
    float signal[TrackHistory];
    float weight[TrackHistory];
};
