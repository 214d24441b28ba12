// The projector from the performer's side: --projector WHERE at launch, F10, OSC
// /loopmixer/projector i (feedback /loopmixer/projector i) and the MIDI-learnable target
// "projector"; the clean mixed picture handed over every frame and the projector watched. app/
// wires the projector seam to the main loop, the options and the remote controls.
#pragma once
#include <cstdint>
#include <string>

// At launch, before start-up: checks --projector's place against the display. Returns false with
// one line in error for an unknown monitor or a rectangle outside the screen (exit status 2).
bool checkProjectorLaunch(std::string& error);
// Registers the controls (before the remote tables open) and opens the projector when
// --projector asked for it.
void startProjector();
void stopProjector();
// Opens it where --projector put it, else on monitor 1 when the desktop lists one, else in a
// window; a refusal or failure is posted as a notice. Closing asks the projector to leave.
void openProjector();
void closeProjector();
// The clean mixed picture of this frame (320x240 RGB565, pitch in pixels).
void projectorPicture(const uint16_t* pixels, int32_t pitch);
// After the main window presented: stamps the frame and notices a projector that went away.
void projectorAfterPresent();
