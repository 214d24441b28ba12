#include "remote/TempoControls.h"

#include <cmath>

#include "core/AppState.h"
#include "core/Platform.h"
#include "mixer/Decks.h"
#include "mixer/Options.h"
#include "remote/MidiSystem.h"
#include "remote/MidiTargets.h"
#include "remote/OscAddresses.h"
#include "remote/OscFeedback.h"
#include "tempo/TempoClock.h"

double MidiTimeMap::toMs(double seconds, uint32_t ticks) {
    const double gap = double(ticks) - seconds * 1000.0;
    // A clock that went back is a new input (the ports were opened again).
    if (!known || seconds < lastSeconds || gap < offsetMs) offsetMs = gap;
    known = true;
    lastSeconds = seconds;
    return seconds * 1000.0 + offsetMs;
}

namespace {

MidiTimeMap midiTime;

void midiClock(const MidiSystemMessage& m) {
    const double ms = midiTime.toMs(m.seconds, m.ticks);
    tempoClock.midiMessage(m.status, uint8_t(m.songPosition & 0x7F), uint8_t(m.songPosition >> 7 & 0x7F), ms);
}

// What a mode-B trigger waits for, as one number: 0 don't wait, 1 the clip's end, 2 the next beat,
// 3 the next bar.
int32_t quantiseValue() { return appState.waitForClipEnd ? 1 + appState.quantise : 0; }
void setQuantise(int32_t v) {
    appState.waitForClipEnd = v > 0 ? 1 : 0;
    if (v > 0) appState.quantise = v - 1;
}

// --- OSC ----------------------------------------------------------------------------------------

bool oscTap(const OscArg* a, int32_t) {
    if (a[0].i) tempoClock.tap(platform::ticks());
    return true;
}

bool oscTempo(const OscArg* a, int32_t) {
    if (!(a[0].f >= MinBpm && a[0].f <= MaxBpm)) return false;
    tempoClock.setTempo(a[0].f, platform::ticks());  // a running MIDI clock keeps the tempo
    return true;
}

bool oscQuantise(const OscArg* a, int32_t) {
    if (a[0].i < 0 || a[0].i > 3) return false;
    setQuantise(a[0].i);
    return true;
}

bool oscSync(const OscArg* a, int32_t deck) {
    if (a[0].i != 0 && a[0].i != 1) return false;
    decks.sync[deck] = a[0].i;
    return true;
}

bool oscBeatFlash(const OscArg* a, int32_t) {
    if (a[0].i < BeatFlashOff || a[0].i > BeatFlashEveryBar) return false;
    options.beatFlash = a[0].i;
    return true;
}

// --- MIDI targets -------------------------------------------------------------------------------

int8_t tapLevel, quantiseLevel[4], syncLevel[2];

void midiTap(int32_t, int32_t value) {
    if (midiPressed(tapLevel, value)) tempoClock.tap(platform::ticks());
}
void midiQuantise(int32_t v, int32_t value) {
    if (midiPressed(quantiseLevel[v], value)) setQuantise(v);
}
int32_t quantiseState(int32_t v) { return quantiseValue() == v; }
void midiSync(int32_t deck, int32_t value) {
    if (midiPressed(syncLevel[deck], value)) decks.sync[deck] = 1 - decks.sync[deck];
}
int32_t syncState(int32_t deck) { return decks.sync[deck]; }

// --- feedback -----------------------------------------------------------------------------------

// The tempo sent moves only by 0.1 BPM or more: a clock's small wobble sends nothing.
double sentBpm = -1;

OscArg tempoValue(int32_t) {
    if (std::fabs(tempoClock.bpm() - sentBpm) >= 0.1) sentBpm = tempoClock.bpm();
    OscArg a;
    a.f = float(sentBpm);
    return a;
}

OscArg beatValue(int32_t) {
    OscArg a;
    a.i = tempoClock.beatInBar(platform::ticks());
    return a;
}

OscArg intValue(int32_t v) {
    OscArg a;
    a.i = v;
    return a;
}
OscArg quantiseFeedback(int32_t) { return intValue(quantiseValue()); }
OscArg syncFeedback(int32_t deck) { return intValue(decks.sync[deck]); }
OscArg beatFlashFeedback(int32_t) { return intValue(options.beatFlash); }

}  // namespace

void registerTempoControls() {
    addOscAddress("/loopmixer/tap", "p", oscTap);
    addOscAddress("/loopmixer/tempo", "f", oscTempo);
    addOscAddress("/loopmixer/quantise", "i", oscQuantise);
    addOscAddress("/loopmixer/deck/0/sync", "i", oscSync, 0);
    addOscAddress("/loopmixer/deck/1/sync", "i", oscSync, 1);
    addOscAddress("/loopmixer/beatflash", "i", oscBeatFlash);
    addOscFeedback("/loopmixer/tempo", 'f', tempoValue);
    addOscFeedback("/loopmixer/beat", 'i', beatValue);
    addOscFeedback("/loopmixer/quantise", 'i', quantiseFeedback);
    addOscFeedback("/loopmixer/deck/0/sync", 'i', syncFeedback, 0);
    addOscFeedback("/loopmixer/deck/1/sync", 'i', syncFeedback, 1);
    addOscFeedback("/loopmixer/beatflash", 'i', beatFlashFeedback);

    addMidiTarget("tap", midiTap);
    static const char* const waits[4] = {"don't wait", "wait clip end", "wait beat", "wait bar"};
    for (int v = 0; v < 4; v++) addMidiTarget(waits[v], midiQuantise, quantiseState, v);
    addMidiTarget("sync deck 0", midiSync, syncState, 0);
    addMidiTarget("sync deck 1", midiSync, syncState, 1);

    sentBpm = -1;
    midiTime.reset();
    addMidiSystemHook(midiClock);
}
