// What the sound drives, one line each (kept as <sound> elements of data/remote.xml):
// "SOURCE TARGET [FROM TO]". SOURCE is kick, low, mid or high; TARGET a name of the MIDI learn
// table ("flash", "fade", "variant 2", ...). A kick acts on its target as a pressed pad (127, then
// 0 on the next poll); a band's level 0.0-1.0 acts as a controller's value FROM + level * (TO -
// FROM), both 0-127 (FROM above TO turns it round), sent whenever the value changes.
#pragma once
#include <cstdint>
#include <string>

#include "remote/MidiTargets.h"

enum SoundSource : int8_t { SourceKick = 0, SourceLow = 1, SourceMid = 2, SourceHigh = 3 };

constexpr int MaxSoundBindings = 8;

struct SoundBinding {
    SoundSource source = SourceKick;
    char target[MaxMidiTargetChars + 1] = {};
    int32_t from = 0, to = 127;
};

// False (out untouched) for a line that does not read: control bytes or markup, unknown source,
// empty or too long target.
bool parseSoundBinding(const std::string& line, SoundBinding& out);
// The controller value for a band's level (clipped to 0.0-1.0).
int32_t soundBindingValue(const SoundBinding& b, float level);
