// What the command line asked for, kept for the whole run. app/ fills it before start-up; the
// seams that the flags configure (remote control, recording, ...) read it from here.
#pragma once
#include <string>
#include <vector>

struct LaunchOptions {
    bool help = false;
    // Each new flag adds its fields here and its row to the table in app/CommandLine.cpp.
};

extern LaunchOptions launchOptions;
