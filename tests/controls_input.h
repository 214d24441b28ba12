// Direct driving of the input handlers: a frame of controls is built the way the controller's poll
// builds it (counters 1 then 2 while down, activeInputs their sum, touch edges ageing), then the
// handler under test runs once. The end-to-end sessions use the harness instead.
#pragma once
#include <initializer_list>

#include "core/Controller.h"

struct Pad {
    // Inputs down in this frame: a new one counts 1, one already down counts 2.
    void frame(std::initializer_list<Input> down, void (*handler)()) {
        bool isDown[InputCount] = {};
        for (Input i : down) isDown[i] = true;
        controller.activeInputs = 0;
        for (int i = 0; i < InputCount; i++) {
            InputCounter& c = controller.counter[i];
            c = isDown[i] ? (c < 2 ? c + 1 : 2) : 0;
            controller.activeInputs += c;
        }
        if (controller.touchDown) {
            controller.touchHeld = 1;
            controller.touchDown = 0;
        }
        if (controller.keyDown) {
            controller.keyHeld = 1;
            controller.keyDown = 0;
        }
        // A lift queued before a new touch belongs to the earlier stroke.
        if (pendingLift) controller.touchDown = controller.touchHeld = 0, pendingLift = false;
        if (pendingTouch) {
            controller.touchDown = 1;
            pendingTouch = false;
        }
        if (pendingKey) controller.keyDown = !controller.keyHeld, pendingKey = false;
        handler();
    }
    void touch(int x, int y) { controller.touchX = x, controller.touchY = y, pendingTouch = true; }
    void move(int x, int y) { controller.touchX = x, controller.touchY = y; }
    void lift() { pendingLift = true, pendingTouch = false; }
    void key(int sym) { controller.key = sym, pendingKey = true; }
    void keyRelease() { controller.key = 0, controller.keyDown = controller.keyHeld = 0; }

    bool pendingTouch = false, pendingLift = false, pendingKey = false;
};
