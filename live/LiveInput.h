// The live part's place in the program: the "live:" entries' sources, the run's "Live" playlist
// (--live), the sampling controls (F7, OSC, MIDI) and their per-frame work.
#pragma once
#include <cstdint>

// At start-up, after the mix is initialised and before the playlists are read.
void startLiveInput();
// Once per frame, after the screen was drawn: sampling steps and finished saves.
void stepLiveInput();
// At the end of a run: every live source closed, every save finished.
void stopLiveInput();
// The deck F7 samples: the selected deck if it shows a live source, else the other if it does.
int liveKeyDeck();
