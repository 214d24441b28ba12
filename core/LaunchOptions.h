// What the command line asked for, kept for the whole run. app/ fills it before start-up; the
// seams that the flags configure (remote control, recording, ...) read it from here.
#pragma once
#include <string>
#include <vector>

struct LaunchOptions {
    bool help = false;
    bool version = false;
    // The run folder asked for (--run-folder); "" lets the program choose (core/RunFolder.h).
    std::string runFolder;
    // Remote control (MIDI, OSC): what is given here replaces data/remote.xml for this run.
    bool midi = false;
    std::vector<std::string> midiConnect;
    int oscPort = -1;  // -1: not given
    std::string oscHost;
    std::vector<std::string> oscFeedback;
    // Sound input (sound/): the JACK port loopmixer:audio_in and the output ports connected to it.
    bool audio = false;
    std::vector<std::string> audioConnect;
    // Recording (record/): the target recorded from launch on (empty: none), the whole-number
    // enlargement, a steady 25 fps file instead of the presented timing, and the Mix screen as shown
    // (overlay and chooser included) instead of the clean picture.
    std::string recordTarget;
    int recordScale = 1;
    bool recordConstantRate = false;
    bool recordAsShown = false;
    // The projector (projector/): where it opens at launch (empty: not at launch), and the fit and
    // look for this run (-1: as the settings have them).
    std::string projector;
    int projectorFit = -1;
    int projectorLook = -1;
    // The browser surface (web/): its port (-1: not given) and the address that opens it to the network.
    int webPort = -1;
    std::string webHost;
    // Live input (live/): the sources of the run's "Live" playlist, and whole pictures inside
    // black bars instead of cropped to 4:3.
    std::vector<std::string> liveSources;
    bool liveLetterbox = false;
    // Each new flag adds its fields here and its row to the table in app/CommandLine.cpp.
};

extern LaunchOptions launchOptions;
