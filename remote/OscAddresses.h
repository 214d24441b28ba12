// The OSC addresses the instrument answers: one table of (address, type tags, handler). The
// built-in controls register into it at start-up like any other part (tempo, recording, ...).
// Packets come from the network: they are parsed by liblo through bounded, checked code, and a
// message whose address, types, count or range is wrong is ignored with one log line per address.
#pragma once
#include <cstddef>
#include <cstdint>

// One argument, already checked against its type tag: 'i' and 'p' -> i, 'f' -> f, 's' -> s.
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
// whole value and an 'f' also takes an int (tablet layouts send one for the other); both also take
// their 64-bit forms 'h' and 'd'. A last 'p' is a button: no argument or one number, handed over
// as i = 1 for none or a non-zero number and i = 0 for zero (a tablet's button sends 1 on press
// and 0 on release). Registering an address again replaces its entry. Returns false when the
// table is full or the entry invalid.
bool addOscAddress(const char* address, const char* types, OscHandler handler, int32_t param = 0);

// One argument as received, before it is fitted to an address's types: type 'i', 'h', 'f' or 'd'
// with its value in number, or 's' with text; any other type fits no address. Other ways in than
// UDP (a browser's JSON) hand their arguments over in this form.
struct OscValue {
    char type;
    double number;
    const char* text;
};

// Runs the handler of one message. An address pattern (see OscPattern.h) runs every address it
// matches. Returns true when a handler took it.
bool handleOscValues(const char* address, const OscValue* values, int count);
// The same with argv as liblo gives them, one per type tag.
bool handleOscMessage(const char* address, const char* types, void* const* argv, int argc);

// One UDP datagram: a message or a bundle (nested bundles included, their time tags ignored: every
// message acts in the frame that reads it). At most MaxOscMessagesPerPacket messages act.
constexpr int MaxOscMessagesPerPacket = 64;
void handleOscPacket(const uint8_t* data, size_t size);

// Forgets which addresses were already logged (each start begins a new log).
void resetOscWarnings();
