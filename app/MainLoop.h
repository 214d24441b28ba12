#pragma once
#include <csignal>
#include <cstdint>

// One paced frame: poll, dispatch, draw the current screen, present. Returns the running flag.
int runFrame();
// Milliseconds until the next frame is due (0 when it is due now); the caller sleeps that long.
uint32_t msUntilNextFrame();
// How often the input is read between frames: the precision of a tap's time.
constexpr uint32_t TapReadMs = 4;
// Frames actually run since start-up (for tests and the screenshots tool).
extern int64_t framesRun;
// Set by the SIGTERM and SIGINT handler: the next call of runFrame ends the loop as a quit does,
// so that shutdown closes a recording properly.
extern volatile sig_atomic_t terminateRequested;
