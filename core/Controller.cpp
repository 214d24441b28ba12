#include "core/Controller.h"

#include <cstring>

#include "core/AppState.h"
#include "core/Platform.h"

Controller controller;

void Controller::clear() { memset(this, 0, sizeof *this); }

static void count(InputCounter& c, bool active) {
    if (!active) c = 0;
    else if (c < 2) c++;
}

void Controller::poll() {
    platform::pumpInput();
    // The stick's four directions, then the buttons in the console's reading order.
    count(counter[StickUp], (platform::axis(1) < -20000) | platform::remoteInput(StickUp));
    count(counter[StickRight], (platform::axis(0) > 20000) | platform::remoteInput(StickRight));
    count(counter[StickDown], (platform::axis(1) > 20000) | platform::remoteInput(StickDown));
    count(counter[StickLeft], (platform::axis(0) < -20000) | platform::remoteInput(StickLeft));
    static const struct { Input input; int button; } buttons[] = {
        {ButtonA, 0}, {ButtonB, 2}, {ButtonX, 1}, {ButtonY, 3}, {ButtonL, 4},
        {ButtonR, 5}, {ButtonI, 8}, {ButtonII, 9}, {ButtonHome, 6},
    };
    for (const auto& b : buttons)
        count(counter[b.input], (platform::button(b.button) != 0) | platform::remoteInput(b.input));
    clip = platform::remoteClip();

    activeInputs = 0;
    for (int i = 0; i < InputCount; i++) activeInputs += counter[i];

    if (touchDown) {
        touchHeld = 1;
        touchDown = 0;
    }
    if (keyDown) {
        keyHeld = 1;
        keyDown = 0;
    }

    SDL_Event e;
    while (platform::pollEvent(&e)) {
        switch (e.type) {
        case SDL_KEYDOWN:
            // Key repeat refreshes key without making a new press.
            if (!keyHeld) keyDown = 1;
            key = e.key.keysym.sym;
            break;
        case SDL_KEYUP:
            key = 0;
            keyDown = keyHeld = 0;
            break;
        case SDL_MOUSEMOTION:
            touchX = e.motion.x;
            touchY = e.motion.y;
            break;
        case SDL_MOUSEBUTTONDOWN:
            touchDown = 1;
            touchX = e.button.x;
            touchY = e.button.y;
            break;
        case SDL_MOUSEBUTTONUP:
            touchHeld = touchDown = 0;
            break;
        case SDL_QUIT:
            running = 0;
            break;
        default:
            break;
        }
    }
}
