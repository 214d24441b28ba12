// What a MIDI control can be mapped to: a name (shown on the learn page and saved in the map
// file), an action on the control's value and, for the pad lights, the target's on/off state.
// The built-in controls register theirs at start-up; other parts add their own ("tap", "record").
#pragma once
#include <cstdint>

// value 0..127: a CC's value; a note gives 127 on note-on and 0 on note-off. Switch-like targets
// take a value of 64 or more as down.
typedef void (*MidiAction)(int32_t param, int32_t value);
// 1 on, 0 off, MidiLightDim lit dimly. A target without a state has no light.
typedef int32_t (*MidiState)(int32_t param);
constexpr int32_t MidiLightDim = 2;
constexpr uint8_t MidiDimVelocity = 32;  // the note-on velocity of a dim light (on: 127)

constexpr int MaxMidiTargets = 96;
constexpr int MaxMidiTargetChars = 23;

struct MidiTarget {
    char name[MaxMidiTargetChars + 1];
    MidiAction act;
    MidiState state;  // nullptr: no light
    int32_t param;
};

// Registering a name again replaces its entry. Returns the target's index, or -1 when the table
// is full or the entry invalid (empty name, name with a space at either end or a control byte).
int addMidiTarget(const char* name, MidiAction act, MidiState state = nullptr, int32_t param = 0);

// For targets that act once per press: true when value (0..127) has just crossed to the upper
// half; last keeps the side of the middle the control was on.
bool midiPressed(int8_t& last, int32_t value);

int midiTargetCount();
const MidiTarget& midiTarget(int index);
// Index of the target with this name, -1 for none.
int findMidiTarget(const char* name);
