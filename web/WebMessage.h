// The browser's messages: an OSC address with its arguments written as JSON,
// {"address":"/loopmixer/fade","args":[0.5]}, read by a strict bounded parser and handled by the
// same code as an OSC message; and the state sent back in the same form.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "remote/OscAddresses.h"

constexpr size_t MaxWebMessageBytes = 1024;
constexpr int MaxWebStringChars = 63;

// One message as it crosses from the server's thread to the main loop: plain fixed-size fields.
// A number with a fraction or an exponent is an 'f', a whole number that fits 32 bits an 'i'
// (OSC takes one for the other where it can), true and false are the 'i' 1 and 0, a string an 's'.
struct WebMessage {
    char address[MaxOscAddressChars + 1] = {};
    char types[MaxOscArgs + 1] = {};
    int argc = 0;
    int32_t ints[MaxOscArgs] = {};
    float floats[MaxOscArgs] = {};
    char strings[MaxOscArgs][MaxWebStringChars + 1] = {};
};

// Accepts exactly one object with the string "address" (an OSC address, '/' first, printable
// ASCII) and, optionally, "args": an array of at most MaxOscArgs numbers, strings and booleans.
// Anything else (other keys, nesting, null, numbers out of float range, longer text, trailing
// bytes, more than MaxWebMessageBytes) is refused: false, out unspecified.
bool parseWebMessage(const char* text, size_t size, WebMessage& out);

// Runs the message through the OSC address table; true when a handler took it.
bool dispatchWebMessage(const WebMessage& message);

// {"address":"...","args":[value]} for one feedback value of type 'i', 'f' or 's'.
std::string webMessageJson(const char* address, char type, const OscArg& value);
