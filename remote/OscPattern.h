// OSC address patterns as tablets send them: '?' one character, '*' any run of characters, "[a-c]"
// one of a set ("[!a-c]" none of it), "{left,right}" one of the listed strings; none of them
// crosses a '/'. A pattern comes from the network: its length is capped and every match has a
// budget of steps, so no pattern can hold up a frame; a pattern past either limit matches nothing.
#pragma once
#include <cstddef>

constexpr size_t MaxOscPatternChars = 255;
constexpr int OscPatternSteps = 4096;  // per match: ample for the namespace's short addresses

// True when the address holds any of the pattern characters.
bool isOscPattern(const char* address);
// True when the pattern matches the whole address.
bool oscPatternMatches(const char* pattern, const char* address);
