// The console's controls as the screens see them: one counter per logical input (0 up, 1 pressed
// this frame, 2 held), touch and key edge flags, read from the platform once per frame by poll.
// dispatch, which runs the current screen's input handler, is the controls' own (controls/).
#pragma once
#include <cstdint>

enum Input {
    ButtonA, ButtonX, ButtonB, ButtonY, ButtonL, ButtonR, ButtonHome, ButtonI, ButtonII,
    StickUp, StickRight, StickDown, StickLeft,
    InputCount
};
typedef int32_t InputCounter;

class Controller {
public:
    InputCounter counter[InputCount];
    int32_t activeInputs;
    int32_t key;
    int32_t touchDown;
    int32_t touchHeld;
    int32_t keyDown;
    int32_t keyHeld;
    int32_t touchX, touchY;
    int32_t releasePending;
    int32_t keyReleasePending;  // key went down and up since the last frame: up in the next
    // Characters typed since the last frame, in order: printable ASCII, and '\b' (Backspace),
    // '\r' (Enter) and 27 (Escape); key repeat types again.
    char typed[16];
    int32_t typedCount;  // pressed and released since the last frame: released in the next
    int32_t clip;  // mode-B clip pad held on a controller (1..16, the i-th clip), 0 for none
    int32_t wheel;  // mouse wheel steps this frame: negative up, positive down (lists scroll by it)
    int32_t wheelX, wheelY;  // where the pointer was when the wheel turned

    void clear();
    void poll();
    void dispatch();  // defined with the input handlers, above the ground

    bool pressed(Input i) const { return counter[i] == 1; }
    bool down(Input i) const { return counter[i] != 0; }
    bool held(Input i) const { return counter[i] == 2; }
    bool up(Input i) const { return counter[i] == 0; }
    // Neither down nor held: the stylus is off the screen.
    bool touchUp() const { return !touchDown && !touchHeld; }
};

extern Controller controller;
