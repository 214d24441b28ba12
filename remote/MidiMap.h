// Which MIDI control drives which target: notes and CCs, on one channel or any, each mapped to a
// target by name. Holds MIDI learn (the next note or CC moved goes to the target waiting for it)
// and the pad lights (note-on 127 or 0 for every mapped note whose target has a state). Kept in
// data/midimap.xml, written on first run with the default map.
#pragma once
#include <cstdint>
#include <string>

#include "remote/MidiParser.h"
#include "remote/MidiTargets.h"

constexpr int MaxMidiMappings = 128;

enum MidiControlKind : uint8_t { MidiNote = 0, MidiCc = 1 };

struct MidiMapping {
    MidiControlKind kind;
    int8_t channel;  // 0..15, or -1 for any channel
    uint8_t number;  // 0..127
    char target[MaxMidiTargetChars + 1];
    int8_t lit;      // light last sent: 0 off, 1 on, MidiLightDim dim, -1 not yet
};

// Sends one short message on every MIDI output.
typedef void (*MidiSend)(const uint8_t* bytes, int count);

class MidiMap {
public:
    MidiMapping mappings[MaxMidiMappings];
    int count = 0;
    int learnTarget = -1;  // target waiting for a control on the learn page, -1 for none
    std::string path;      // where learn saves the map; empty: not saved

    // Notes 36-51 (the pads of most pad controllers) play clips 1-16; CC 7 is the fade.
    void setDefaults();
    // Reads the map file; false (and the map left as it is) when it cannot be read. Lines that do
    // not parse are skipped with a log line.
    bool load(const std::string& file);
    std::string content() const;
    bool save() const;

    // Learns or acts: every mapping that matches the event runs its target's action.
    void handle(const MidiEvent& event);
    // Removes every mapping of the target; saves.
    void clearTarget(const char* name);
    // The controls mapped to the target, e.g. "n36 cc7"; "" for none.
    std::string describe(const char* name) const;
    // Sends the light of every mapped note whose target has a state and whose state changed
    // (every one when all is true).
    void sendLights(bool all, MidiSend send);

    void add(MidiControlKind kind, int channel, int number, const char* target);
};

extern MidiMap midiMap;
