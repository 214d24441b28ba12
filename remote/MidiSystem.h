// MIDI system messages for the parts that follow an external clock (tempo): clock, Start,
// Continue, Stop and Song Position are handed, with their arrival time, to every hook set here.
// They arrive during the frame's input poll, in the order received; they never disturb the
// running status of the channel messages around them.
#pragma once
#include <cstdint>

enum MidiSystemStatus : uint8_t {
    MidiSongPosition = 0xF2,
    MidiClock = 0xF8,
    MidiStart = 0xFA,
    MidiContinue = 0xFB,
    MidiStop = 0xFC,
};

struct MidiSystemMessage {
    uint8_t status;         // one of MidiSystemStatus
    uint16_t songPosition;  // Song Position only: MIDI beats (sixteenth notes) from the start
    double seconds;         // arrival on the MIDI input's own clock, seconds since it was opened
    uint32_t ticks;         // platform ticks (ms) of the poll that delivered it
};

typedef void (*MidiSystemHook)(const MidiSystemMessage& message);

constexpr int MaxMidiSystemHooks = 4;

// Adding the same hook twice keeps one. Returns false when the table is full.
bool addMidiSystemHook(MidiSystemHook hook);
void removeMidiSystemHook(MidiSystemHook hook);

// Hands one message to every hook (the MIDI parser calls this).
void deliverMidiSystem(const MidiSystemMessage& message);
