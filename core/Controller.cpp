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

// Both sources are read every frame: reading a controller's input clears its latch.
static bool either(bool device, bool remote) { return device || remote; }

void Controller::poll() {
    platform::pumpInput();
    // The stick's four directions, then the buttons in the console's reading order.
    const int16_t x = platform::axis(0), y = platform::axis(1);
    count(counter[StickUp], either(y < -20000, platform::remoteInput(StickUp)));
    count(counter[StickRight], either(x > 20000, platform::remoteInput(StickRight)));
    count(counter[StickDown], either(y > 20000, platform::remoteInput(StickDown)));
    count(counter[StickLeft], either(x < -20000, platform::remoteInput(StickLeft)));
    static const struct { Input input; int button; } buttons[] = {
        {ButtonA, 0}, {ButtonB, 2}, {ButtonX, 1}, {ButtonY, 3}, {ButtonL, 4},
        {ButtonR, 5}, {ButtonI, 8}, {ButtonII, 9}, {ButtonHome, 6},
    };
    for (const auto& b : buttons)
        count(counter[b.input], either(platform::button(b.button) != 0, platform::remoteInput(b.input)));
    clip = platform::remoteClip();

    activeInputs = 0;
    for (int i = 0; i < InputCount; i++) activeInputs += counter[i];

    if (releasePending) {
        touchHeld = touchDown = releasePending = 0;
    } else if (touchDown) {
        touchHeld = 1;
        touchDown = 0;
    }
    if (keyReleasePending) {
        key = keyDown = keyHeld = keyReleasePending = 0;
    } else if (keyDown) {
        keyHeld = 1;
        keyDown = 0;
    }

    typedCount = 0;
    SDL_Event e;
    while (platform::pollEvent(&e)) {
        switch (e.type) {
        case SDL_KEYDOWN:
            // Key repeat refreshes key without making a new press.
            if (!keyHeld) keyDown = 1;
            key = e.key.keysym.sym;
            keyReleasePending = 0;
            if (typedCount < int32_t(sizeof typed)) {
                const int sym = e.key.keysym.sym;
                const int ch = e.key.keysym.unicode ? e.key.keysym.unicode : (sym < 128 ? sym : 0);
                if (sym == SDLK_BACKSPACE || sym == SDLK_RETURN || sym == SDLK_KP_ENTER || sym == SDLK_ESCAPE)
                    typed[typedCount++] = sym == SDLK_BACKSPACE ? '\b' : sym == SDLK_ESCAPE ? 27 : '\r';
                else if (ch >= 32 && ch < 127)
                    typed[typedCount++] = char(ch);
            }
            break;
        case SDL_KEYUP:
            // A key that went down and up since the last frame is pressed in this frame and
            // released in the next, like a quick click.
            if (keyDown) keyReleasePending = 1;
            else key = keyDown = keyHeld = 0;
            break;
        case SDL_MOUSEMOTION:
            // The stylus only moves while it touches: a mouse moved with no button held is not a
            // stylus.
            if (touchDown || touchHeld) {
                touchX = e.motion.x;
                touchY = e.motion.y;
            }
            break;
        case SDL_MOUSEBUTTONDOWN:
            touchDown = 1;
            releasePending = 0;
            touchX = e.button.x;
            touchY = e.button.y;
            break;
        case SDL_MOUSEBUTTONUP:
            if (!touchDown && !touchHeld) break;
            touchX = e.button.x;
            touchY = e.button.y;
            // A click that went down and up since the last frame is a touch in this frame and a
            // release in the next, as a held stylus would be.
            if (touchDown) releasePending = 1;
            else touchHeld = 0;
            break;
        case SDL_QUIT:
            running = 0;
            break;
        default:
            break;
        }
    }
    wheel = platform::takeWheelSteps(&wheelX, &wheelY);
}
