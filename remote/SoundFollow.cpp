#include "remote/SoundFollow.h"

#include <jack/jack.h>

#include <cmath>
#include <cstdio>
#include <iostream>

#include "core/Notice.h"
#include "core/Platform.h"
#include "mixer/Decks.h"
#include "mixer/EffectTable.h"
#include "remote/JackMidi.h"
#include "remote/MidiPorts.h"
#include "remote/MidiTargets.h"
#include "remote/OscAddresses.h"
#include "remote/OscPort.h"
#include "remote/JackAudio.h"
#include "remote/SoundBindings.h"
#include "tempo/TempoClock.h"

namespace {

constexpr int MaxSoundConnections = 8;

JackAudio input;
bool wanted = false;
JackMidi* attached = nullptr;  // the MIDI client the port is on; nullptr: a client of its own
jack_client_t* attachedClient = nullptr;
JackMidi* triedMidi = nullptr;  // the MIDI client last tried (a failure is not retried on it)
jack_client_t* triedClient = nullptr;
std::vector<std::string> patterns;
// The server shut down under the input: on a client of its own it is opened again every
// SoundRescanMs; on the MIDI client it comes back with that client.
bool lost = false, lostWithMidi = false;
bool nameTakenTold = false;  // since it was lost
uint32_t lastRetry = 0;

struct Bound {
    SoundBinding binding;
    int target;      // index in the learn table; -1 not looked up yet, -2 unknown
    int32_t last;    // value last sent (levels)
    bool pressed;    // a kick pressed it in the last poll
};
Bound bound[MaxSoundBindings];
int boundCount = 0;

uint32_t lastScan = 0, lastLevelSent = 0;
uint32_t seenKicks = 0;
float sentLevel[SoundBands] = {-1, -1, -1};
bool haveOffset = false;
double offsetMs = 0;  // platform ticks less JACK's clock in milliseconds
double lastTapMs = -1e9;
uint32_t reportedDrops = 0;

void soundTap(double ms) {
    if (!input.isOpen() || !haveOffset) return;
    const double lengthUs = ms - lastTapMs <= TapPauseMs ? (ms - lastTapMs) * 1000 : 0;
    input.tap((ms - offsetMs) * 1000, lengthUs);
    lastTapMs = ms;
}

void detach() {
    input.close();
    attached = nullptr;
    attachedClient = nullptr;
    tempoClock.soundTap = nullptr;
}

// Opens the input on the MIDI client when there is one, else on a client of its own. After a
// loss (again) a missing server stays quiet, as it is looked for every two seconds, a taken name
// is told once, and the input's return is told.
bool attach(bool again) {
    JackMidi* midi = midiJackClient();
    triedMidi = midi;
    triedClient = midi ? midi->jackClient() : nullptr;
    void (*saved)(const char*) = jack_error_callback;
    if (again) jack_set_error_function([](const char*) {});  // libjack's own lines while no server
    const JackAudio::OpenResult result = input.open(midi);
    if (again) jack_set_error_function(saved);
    switch (result) {
    case JackAudio::Opened: break;
    case JackAudio::NoServer:
        if (again) return false;
        std::cout << "sound: no JACK server running" << std::endl;
        postNotice("sound: no JACK server running");
        return false;
    case JackAudio::NameTaken:
        if (again && nameTakenTold) return false;
        nameTakenTold = again;
        std::cout << "sound: the JACK client name loopmixer is taken (another loopmixer running?)" << std::endl;
        postNotice("sound: JACK client loopmixer exists already");
        return false;
    case JackAudio::Failed:
        if (again) return false;
        std::cout << "sound: cannot open the JACK input" << std::endl;
        postNotice("sound: cannot open the JACK input");
        return false;
    }
    attached = midi;
    attachedClient = input.jackClient();
    if (again) {
        std::cout << "sound: back on JACK" << std::endl;
        postNotice("sound: back on JACK");
    } else {
        std::cout << "sound: listening on " << jack_get_client_name(attachedClient) << ":audio_in" << std::endl;
    }
    lost = false;
    tempoClock.soundTap = soundTap;
    seenKicks = 0;
    reportedDrops = 0;
    haveOffset = false;
    if (!patterns.empty()) input.connectPeers(patterns, MaxSoundConnections);
    lastScan = platform::ticks();
    return true;
}

void act(Bound& k, int32_t value) {
    if (k.target == -1) {
        k.target = findMidiTarget(k.binding.target);
        if (k.target < 0) {
            k.target = -2;
            std::cout << "sound: no target \"" << k.binding.target << "\"" << std::endl;
        }
    }
    if (k.target < 0) return;
    const MidiTarget& t = midiTarget(k.target);
    t.act(t.param, value);
}

// --- controls -----------------------------------------------------------------------------------

bool oscFollow(const OscArg* a, int32_t) {
    if (a[0].i != 0 && a[0].i != 1) return false;
    tempoClock.followSound = a[0].i;
    return true;
}

int8_t followLevel;
void midiFollow(int32_t, int32_t value) {
    if (midiPressed(followLevel, value)) tempoClock.followSound = 1 - tempoClock.followSound;
}
int32_t followState(int32_t) { return tempoClock.followSound; }

// A controller's 0-127 onto the slot's four variants.
void midiVariant(int32_t k, int32_t value) {
    effectTable.slots[decks.selectedDeck][k].value = value * 4 / 128;
}

}  // namespace

void registerSoundControls() {
    addOscAddress("/loopmixer/follow", "i", oscFollow);
    addMidiTarget("follow sound", midiFollow, followState);
    char name[MaxMidiTargetChars + 1];
    for (int k = 0; k < 8; k++) {
        std::snprintf(name, sizeof name, "variant %d", k);
        addMidiTarget(name, midiVariant, nullptr, k);
    }
}

bool openSound(const std::vector<std::string>& connect, const std::vector<std::string>& bindings) {
    closeSound();
    wanted = true;
    patterns = connect;
    boundCount = 0;
    for (const std::string& line : bindings) {
        SoundBinding b;
        if (boundCount == MaxSoundBindings || !parseSoundBinding(line, b)) {
            std::cout << "sound: bad <sound> ignored" << std::endl;
            continue;
        }
        bound[boundCount++] = Bound{b, -1, -1, false};
    }
    lost = false;
    return attach(false);
}

void closeSound() {
    wanted = false;
    lost = false;
    detach();
    boundCount = 0;
    for (float& l : sentLevel) l = -1;
}

bool soundOpen() { return input.isOpen(); }

void soundLevels(float levels[3]) {
    AudioReading r;
    const bool known = input.latest(r);
    for (int b = 0; b < SoundBands; b++) levels[b] = known ? r.sound.level[b] : 0.0f;
}

void pollSound(uint32_t ticks) {
    if (!wanted) return;
    if (input.serverGone()) {
        std::cout << "sound: the JACK server shut down" << std::endl;
        postNotice("sound: the JACK server shut down");
        detach();
        lost = true, lostWithMidi = false, nameTakenTold = false;
        lastRetry = ticks;
    }
    // On the MIDI client the port goes when that client goes (the server shut down, MIDI opened
    // again): it follows MIDI onto a new client, whatever address that has.
    if (input.isOpen() && attached && (midiJackClient() != attached || attached->jackClient() != attachedClient)) {
        std::cout << "sound: the MIDI client closed, audio_in with it" << std::endl;
        detach();
        lost = true, lostWithMidi = true;
        triedMidi = nullptr;
        triedClient = nullptr;
    }
    if (!input.isOpen()) {
        // Back on a MIDI client that opened since (MIDI through JACK reconnected), or on a client of
        // its own once a server is back. Meanwhile MIDI's own client is waited for: the input's
        // client would take the name loopmixer from it.
        JackMidi* midi = midiJackClient();
        if (midi) {
            if ((midi == triedMidi && midi->jackClient() == triedClient) || !attach(lost)) return;
        } else {
            if (!lost || lostWithMidi || ticks - lastRetry < SoundRescanMs) return;
            lastRetry = ticks;
            if (!attach(true)) return;
        }
    }

    if (ticks - lastScan >= SoundRescanMs) {
        lastScan = ticks;
        if (!patterns.empty()) input.connectPeers(patterns, MaxSoundConnections);
        if (input.droppedCycles() != reportedDrops) {
            std::cout << "sound: " << input.droppedCycles() - reportedDrops << " cycles dropped (analysis behind)" << std::endl;
            reportedDrops = input.droppedCycles();
        }
    }
    const double gap = double(ticks) - double(jack_get_time()) / 1000;
    offsetMs = haveOffset ? offsetMs + (gap - offsetMs) * 0.05 : gap;
    haveOffset = true;

    AudioReading r;
    if (!input.latest(r)) return;
    for (int i = 0; i < boundCount; i++)
        if (bound[i].pressed) {
            act(bound[i], 0);
            bound[i].pressed = false;
        }
    if (r.sound.kicks != seenKicks) {
        seenKicks = r.sound.kicks;
        OscArg one;
        one.i = 1;
        sendOscMessage("/loopmixer/onset", "i", &one);
        for (int i = 0; i < boundCount; i++)
            if (bound[i].binding.source == SourceKick) {
                act(bound[i], 127);
                bound[i].pressed = true;
            }
    }
    for (int i = 0; i < boundCount; i++) {
        Bound& k = bound[i];
        if (k.binding.source == SourceKick) continue;
        const int32_t v = soundBindingValue(k.binding, r.sound.level[k.binding.source - SourceLow]);
        if (v != k.last) act(k, v);
        k.last = v;
    }
    bool moved = false;
    for (int b = 0; b < SoundBands; b++) moved |= std::fabs(r.sound.level[b] - sentLevel[b]) >= 0.005f;
    if (moved && ticks - lastLevelSent >= LevelFeedbackMs) {
        lastLevelSent = ticks;
        OscArg levels[SoundBands];
        for (int b = 0; b < SoundBands; b++) levels[b].f = sentLevel[b] = r.sound.level[b];
        sendOscMessage("/loopmixer/level", "fff", levels);
    }
    if (r.sound.tempoKnown) tempoClock.followBeat(r.beatLengthUs / 1000, r.beatUs / 1000 + offsetMs, ticks);
}
