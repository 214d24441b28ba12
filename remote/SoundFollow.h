// The sound on the main thread: opens the input (on the MIDI client when MIDI uses JACK), and once
// per input poll reads the newest analysis: the tempo and beat for the beat clock while "tempo
// from: sound" is chosen, the bands and kicks for the targets the sound drives and for the OSC
// feedback (/loopmixer/level f f f at most 25 times a second, /loopmixer/onset i at each kick).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t SoundRescanMs = 2000;   // how often the ports are scanned for new matches
constexpr uint32_t LevelFeedbackMs = 40;   // at most 25 level messages a second

// At start-up with the remote's controls: OSC /loopmixer/follow and the "variant K" and
// "follow sound" learn targets.
void registerSoundControls();

// connect: patterns of output ports to connect; bindings: the <sound> lines. False, with a log
// line and a notice, when no input could be opened (it is tried again while MIDI's JACK client
// comes and goes). When the JACK server shuts down under it, the input comes back with MIDI's
// client, or on a client of its own is opened again every SoundRescanMs until a server is back
// ("sound: back on JACK"), connected again as at start.
bool openSound(const std::vector<std::string>& connect, const std::vector<std::string>& bindings);
void closeSound();
bool soundOpen();
void pollSound(uint32_t ticks);
// The newest band levels (low, mid, high: 0.0-1.0); all 0 before the first reading.
void soundLevels(float levels[3]);
