// Runs the whole program headless for a test: a fresh run folder, the fake clock, scripted
// controls frame by frame, and the screen read back as pixels or written as PNG.
#pragma once
#include <SDL/SDL.h>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/Controller.h"

struct HarnessOptions {
    bool pictures = true;            // copy the built pictures and font into data/
    std::string playlistsXml;        // content of data/playlists.xml; empty: no file
    std::string prefsXml;            // data/prefs.xml; empty: no file
    std::string gloveXml;            // data/glove.xml; empty: no file
    bool demoClips = false;          // copy the built demo clips into videos/
    bool start = true;               // run startUp() in the constructor
    unsigned seed = 1;               // srand seed for SNOW and GLITCH

    // Unit tests of the picture code need no pictures or font: a quicker start.
    static HarnessOptions withoutPictures() {
        HarnessOptions o;
        o.pictures = false;
        return o;
    }
};

class Harness {
public:
    explicit Harness(const HarnessOptions& options = HarnessOptions());
    ~Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    std::string dir;      // the run folder (also the current directory while the test runs)
    bool started = false;

    bool startUp();

    // Controls for the following frames: a button or stick direction stays down until released.
    void setDown(Input input, bool down);
    void tap(Input input);  // down for one frame, then up
    void setAxis(int axis, int16_t value);
    // Stylus and keys arrive as SDL events before the next frame.
    void touchDown(int x, int y);
    void touchMove(int x, int y);
    void touchUp();  // where the stylus last was
    void wheel(int x, int y, int steps);  // mouse wheel steps at (x, y): negative up, positive down
    void keyDown(int sym);
    void keyUp(int sym);
    // Each character pressed and released as its key, with its character ("\b" Backspace,
    // "\r" Enter, "\x1b" Escape).
    void type(const std::string& text);
    void quit();
    // On the Mix screen, loads the chooser's highlighted (first) playlist with B and runs frames
    // until every clip of it is loaded (at most 400).
    void loadFirstPlaylist();

    // Advances the fake clock past the frame interval and runs one frame, n times. Returns the
    // running flag after the last one.
    int frame(int n = 1);
    // Advances the fake clock by ms and calls runFrame once (whether or not a frame is due).
    int callAfter(uint32_t ms);

    uint16_t pixel(int x, int y) const;
    uint32_t screenChecksum() const;
    bool savePng(const std::string& path) const;
    std::string readFile(const std::string& relativePath) const;
    void writeFile(const std::string& relativePath, const std::string& content) const;
    std::string log() const;  // flushes the log stream first

private:
    std::string previousDir;
    std::vector<Input> tapped;
    int stylusX = 0, stylusY = 0;
};

// A UDP port of 127.0.0.1 no one listens on right now (for OSC listeners and targets).
int freeUdpPort();

// Paths of the build's run folder (pictures, font, demo clips).
std::string builtRunDir();

// data/playlists.xml as the program writes it, for playlists given as a name and clip files each.
std::string playlistsXml(const std::vector<std::pair<std::string, std::vector<std::string>>>& lists);
