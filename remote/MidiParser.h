// Turns the bytes of a MIDI input into channel events and system messages: running status,
// note-on with velocity 0 as note-off, SysEx and realtime bytes arriving in between (even inside a
// message), and malformed input (stray data bytes, undefined status bytes) ignored.
#pragma once
#include <cstddef>
#include <cstdint>

enum MidiEventKind : uint8_t { MidiNoteOff = 0, MidiNoteOn = 1, MidiControlChange = 2 };

struct MidiEvent {
    MidiEventKind kind;
    uint8_t channel;  // 0..15
    uint8_t number;   // note or controller, 0..127
    uint8_t value;    // velocity or value, 0..127 (a note-off has 0)
};

typedef void (*MidiEventSink)(const MidiEvent& event);

class MidiParser {
public:
    // seconds and ticks stamp the system messages these bytes carry (see MidiSystem.h).
    void feed(const uint8_t* bytes, size_t count, double seconds, uint32_t ticks, MidiEventSink sink);
    void reset();

private:
    uint8_t status = 0;  // running status of channel messages, 0 for none
    uint8_t data[2] = {};
    uint8_t have = 0;
    uint8_t common = 0;  // system common message being read (0xF1, 0xF2, 0xF3), 0 for none
    uint8_t commonData[2] = {};
    uint8_t commonHave = 0;
    bool sysex = false;
};
