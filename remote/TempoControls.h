// The tempo's controls for MIDI and OSC controllers, registered into the remote seam's tables:
// tap, tempo, the mode-B quantise, sync and beat flash; the MIDI clock of the connected inputs;
// and the tempo and beat sent back as feedback.
#pragma once
#include <cstdint>

// At start-up, with the remote's own controls.
void registerTempoControls();

// MIDI arrival times are on the MIDI input's own clock (seconds since it opened); this maps them
// onto the platform clock (ms). The polls that deliver them come at most a few milliseconds late
// and never early, so the smallest gap between the two clocks seen so far is the offset.
class MidiTimeMap {
public:
    double toMs(double seconds, uint32_t ticks);
    void reset() { known = false; }

private:
    bool known = false;
    double offsetMs = 0;
    double lastSeconds = 0;
};
