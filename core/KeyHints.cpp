#include "core/KeyHints.h"

#include <SDL/SDL.h>
#include <cctype>

#include "core/Platform.h"

const char* controlName(Input input) {
    static const char* const console[InputCount] = {"A", "X", "B", "Y", "L", "R", "home", "I", "II",
                                                    "up", "right", "down", "left"};
    static const char* const desktop[InputCount] = {"A", "S", "D", "W", "Q", "E", "Esc", "Tab", "Space",
                                                    "up", "right", "down", "left"};
    if (input < 0 || input >= InputCount) return "";
    // The console's buttons are its joystick 0; a desktop without a gamepad has none.
    return platform::joystickOpen() ? console[input] : desktop[input];
}

std::string keyName(int32_t sym) {
    if (sym <= 0) return "-";
    const char* name = sym < SDLK_LAST ? SDL_GetKeyName(SDLKey(sym)) : nullptr;
    if (!name || !*name || std::string(name) == "unknown key") return std::to_string(sym);
    std::string text = name;
    // SDL names the function keys "f1".."f15"; performers read them as on the keycaps.
    if (text.size() >= 2 && text[0] == 'f' && std::isdigit(static_cast<unsigned char>(text[1]))) text[0] = 'F';
    return text;
}
