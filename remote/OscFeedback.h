// State sent back to controllers over OSC: a table of (address, type, read function). Each value
// is read once per frame and sent to every feedback target when it changed, and all of them once
// at start (and to a target that was just added). Other parts add their own values here.
#pragma once
#include <cstdint>

#include "remote/OscAddresses.h"

// Reads the current value; type 'i' fills i, 'f' fills f, 's' fills s (a string that stays valid
// until the next read; at most MaxOscFeedbackChars bytes of it count).
typedef OscArg (*OscFeedbackRead)(int32_t param);

constexpr int MaxOscFeedback = 128;
constexpr int MaxOscFeedbackChars = 127;

// Registering an address again replaces its entry. Returns false when the table is full or the
// entry invalid.
bool addOscFeedback(const char* address, char type, OscFeedbackRead read, int32_t param = 0);

// Calls send for every value that changed since the last call (every value when all is true).
typedef void (*OscFeedbackSend)(const char* address, char type, const OscArg& value);
void pollOscFeedback(bool all, OscFeedbackSend send);
