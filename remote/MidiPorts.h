// The MIDI side: the program's own input and output ports, "midi_in" and "midi_out" of a client
// "loopmixer": through RtMidi on the ALSA sequencer where it exists, otherwise through JACK (one
// client holding both ports, see JackMidi.h). They are connected to the ports whose names match the
// performer's patterns, and read once per frame.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "remote/MidiParser.h"

constexpr int MaxMidiConnections = 8;
constexpr int MaxMidiMessagesPerFrame = 256;
constexpr unsigned MidiQueueLimit = 1024;
constexpr uint32_t MidiRescanMs = 2000;  // how often the ports are scanned for new matches

// api: "alsa", "jack" or "auto" (ALSA when /dev/snd/seq can be opened, JACK otherwise). Every port
// (input or output) whose name contains one of the patterns (letter case ignored) is connected;
// the program's own ports are never matched. False, with a log line and a notice, when no MIDI
// system can be opened (no sequencer, no JACK server, the JACK client name taken).
bool openMidiPorts(const std::string& api, const std::vector<std::string>& patterns);
void closeMidiPorts();
bool midiPortsOpen();
// "alsa" or "jack" once open.
const char* midiApiName();
// The JACK client holding the MIDI ports, while MIDI is open through JACK (other parts' JACK ports
// go on it, so that the program stays one client "loopmixer"); nullptr otherwise.
class JackMidi;
JackMidi* midiJackClient();

// Reads what arrived (at most MaxMidiMessagesPerFrame messages) through the parser into sink.
// With patterns, every MidiRescanMs (with JACK also as soon as a port comes or goes) it connects
// every matching port not connected and drops connections whose port went away; a side that
// matches more than MaxMidiConnections ports says so once. When the JACK server shuts down, MIDI
// closes with a notice; every MidiRescanMs the client is opened again, and a server that is back
// gets it with the notice "MIDI: back on JACK".
void pollMidiPorts(uint32_t ticks, MidiEventSink sink);
// Sends one short message on every output.
void sendMidi(const uint8_t* bytes, int count);
// True once after the outputs opened or (JACK) midi_out gained a connection: the lights are then
// all sent.
bool midiOutputsJustOpened();
