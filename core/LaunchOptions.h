// What the command line asked for, kept for the whole run. app/ fills it before start-up; the
// seams that the flags configure (remote control, recording, ...) read it from here.
#pragma once
#include <string>
#include <vector>

struct LaunchOptions {
    bool help = false;
    // Remote control (MIDI, OSC): what is given here replaces data/remote.xml for this run.
    bool midi = false;
    std::vector<std::string> midiConnect;
    int oscPort = -1;  // -1: not given
    std::string oscHost;
    std::vector<std::string> oscFeedback;
    // Recording (record/): the target recorded from launch on (empty: none), the whole-number
    // enlargement, a steady 25 fps file instead of the presented timing, and the Mix screen as shown
    // (overlay and chooser included) instead of the clean picture.
    std::string recordTarget;
    int recordScale = 1;
    bool recordConstantRate = false;
    bool recordAsShown = false;
    // Live input (live/): the sources of the run's "Live" playlist, and whole pictures inside
    // black bars instead of cropped to 4:3.
    std::vector<std::string> liveSources;
    bool liveLetterbox = false;
    // Each new flag adds its fields here and its row to the table in app/CommandLine.cpp.
};

extern LaunchOptions launchOptions;
