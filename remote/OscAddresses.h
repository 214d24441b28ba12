// The OSC addresses the instrument answers: one table of (address, type tags, handler). The
// built-in controls register into it at start-up like any other part (tempo, recording, ...).
// Packets come from the network: they are parsed by liblo through bounded, checked code, and a
// message whose address, types, count or range is wrong is ignored with one log line per address.
#pragma once
#include <cstddef>
#include <cstdint>

// One argument, already checked against its type tag: 'i' -> i, 'f' -> f, 's' -> s.
union OscArg {
    int32_t i;
    float f;
    const char* s;
};

// Gets the arguments in the order of the registered type tags and the param given at registration
// (the K of /loopmixer/slot/K, ...). Returns false when a value is out of range: the message is
// then ignored and the address logged once.
typedef bool (*OscHandler)(const OscArg* args, int32_t param);

constexpr int MaxOscAddresses = 160;
constexpr int MaxOscArgs = 4;
constexpr int MaxOscAddressChars = 63;

// types: the exact type tags the message carries, "" for none. An 'i' also takes a float with a
// whole value and an 'f' also takes an int (tablet layouts send one for the other). Registering an
// address again replaces its entry. Returns false when the table is full or the entry invalid.
// types "b", a button as tablets send one: no argument, or one number (int or float); the handler
// gets it in f, 1 when there was none.
bool addOscAddress(const char* address, const char* types, OscHandler handler, int32_t param = 0);

// Runs the handler of one message (argv as liblo gives them, one per type tag). Returns true when
// a handler took it.
bool handleOscMessage(const char* address, const char* types, void* const* argv, int argc);

// One UDP datagram: a message or a bundle (nested bundles included, their time tags ignored: every
// message acts in the frame that reads it). At most MaxOscMessagesPerPacket messages act.
constexpr int MaxOscMessagesPerPacket = 64;
void handleOscPacket(const uint8_t* data, size_t size);

// Forgets which addresses were already logged (each start begins a new log).
void resetOscWarnings();
