// The thin layer between the instrument and the machine it runs on: clock, joystick, events, the
// window, TV switching and the hand-over to the console's menu at exit. Everything else draws into
// the 320x240 screen surface and reads the Controller; tests replace the clock and the joystick
// with scripted values and push their own events.
#pragma once
#include <SDL/SDL.h>
#include <cstdint>

#include "core/Ticks.h"

struct TvConfigRecord;

namespace platform {

// Starts SDL's video. Unless SDL_VIDEODRIVER names a driver, only drivers that show a picture are
// tried (never a text-mode one drawing characters into the terminal). Returns false, with one line
// on stderr, when there is no display.
bool initVideo();
// Sets the video mode and creates the 320x240 RGB565 screen surface. Returns false, with one line
// on stderr, when there is no display or the mode cannot be set.
bool openVideo();
void closeVideo();
void toggleFullscreen();
int windowScale();

void delay(uint32_t ms);
// A monotonic microsecond clock for measuring work inside one frame (ticks() counts whole
// milliseconds). Under the fake clock every reading moves it on by the scripted step.
uint64_t microseconds();

// Joystick 0, merged with the keyboard keys and gamepad bound to the console's controls.
void openJoystick();
bool joystickOpen();
// Memory the system can still give (MemAvailable), in MiB; 0 when it cannot be read.
int64_t memoryAvailableMb();
// Called once per frame before the controls are read.
void pumpInput();
// Read once per frame each: a bound key or arrow pressed and released since the last read still
// reads as down once.
int16_t axis(int index);
uint8_t button(int index);

// Desktop keys with an action of their own (F9 starts and stops recording): taken out of the event
// stream like the keys bound to console buttons; the action runs, in the main loop, when the key
// goes down (once a press: key repeat does not run it again). A null action frees the key.
void setKeyAction(SDLKey key, void (*action)());
// Whether a key with an action is held down now (for controls that act while held).
bool keyActionHeld(SDLKey key);

// Shift+F1 ... Shift+F12 (with Ctrl as well or not): handler gets the key's number 1..12 and
// whether Ctrl is held, once a press; the key is taken out of the stream, so that a glove key F5
// stays F5 alone. A null handler frees the keys.
void setShiftedFunctionKeys(void (*handler)(int number, bool ctrl));

// SDL_PollEvent with the desktop's translation: keys bound to console buttons are taken out of the
// stream, mouse coordinates are mapped back to 320x240 pixels and wheel turns are dropped.
int pollEvent(SDL_Event* event);
// The mouse wheel's steps since the last call (negative up, positive down), counted by pollEvent,
// and where on the picture the pointer was at the last of them.
int takeWheelSteps(int32_t* x, int32_t* y);

// The desktop's tap key (its action is set at start-up, like the recording's F9).
constexpr SDLKey TapKey = SDLK_F8;

// While on, the keys bound to console buttons type like any other key (the arrows stay the
// stick): a name is being typed on the physical keyboard.
void setTextEntry(bool on);

// Shows the screen surface (scaled to the window on the desktop).
void present();

// The console's TV-out switch; elsewhere it records the request.
int tvConfig(TvConfigRecord* record);

// Replaces the process with the console's menu program. Returns false when there is none (the
// desktop, or disabled for tests), true when starting it failed.
bool exitToMenu();

// --- controllers beyond the console's own (MIDI, OSC) ------------------------------------------
// The remote seam sets a function that pumpInput calls first, once per frame, so that whatever a
// controller sent before the frame's poll acts in that frame. nullptr: none.
void setRemotePoll(void (*poll)());
// A console control (an Input of core/Controller.h) pressed or released from a controller. Like a
// bound key, a press and release between two frames still counts as one press.
void setRemoteInput(int input, bool down);
// Down now, or pressed since the last read (the latch is cleared by the read).
bool remoteInput(int input);
// A mode-B clip pad (1..16) pressed or released; remoteClip answers the pad down (or tapped since
// the last read), 0 for none.
void setRemoteClip(int clip, bool down);
int remoteClip();
// Stylus and key events from a controller, already in screen pixels: pollEvent hands them out
// after SDL's own, untranslated. The queue is bounded; events past its size are dropped.
void injectEvent(const SDL_Event& event);

// --- test hooks ---------------------------------------------------------------------------------
void useFakeClock(bool on);
void setTicks(uint32_t ms);
// Under the fake clock, how far each reading of microseconds() moves on. The default is a whole
// second, so a frame never finds time to spare unless a test says how long the work takes.
void setFakeMicrosPerReading(uint32_t us);
void setScriptedButton(int index, bool down);
void setScriptedAxis(int index, int16_t value);
void clearScriptedInput();
int tvConfigCalls();
void setExitToMenuEnabled(bool on);  // tests never leave the process

}  // namespace platform
