// Names of the controls as the performer meets them, for the hints on screen: on the desktop, where
// the keyboard stands in for the console's buttons, the desktop key ("D", "S", "Esc"); with a
// gamepad or on the console, the console's button ("B", "X", "home").
#pragma once
#include <cstdint>
#include <string>

#include "core/Controller.h"

const char* controlName(Input input);

// A keyboard key by its name ("z", "1", "F5", "left ctrl"); "-" for no key, the code for a key
// SDL cannot name.
std::string keyName(int32_t sym);
