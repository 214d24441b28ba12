// Remote control: MIDI and OSC controllers play the instrument. openRemote reads data/remote.xml
// and the command line, opens what they ask for and hooks the reading of both into the platform's
// input pump, so that a message that arrives before a frame's poll acts in that frame.
#pragma once

// At start-up, after the settings files: registers the built-in controls, opens MIDI and OSC.
void openRemote();
void closeRemote();
// Once per frame after the picture: OSC feedback and pad lights for what changed.
void sendRemoteFeedback();
bool remoteMidiOn();

// Test hook: bytes handled as if they had arrived on a MIDI input in this frame's poll.
void injectMidi(const unsigned char* bytes, unsigned count);
