// The options screen's state, the glove key table and the two settings files.
#pragma once
#include <SDL/SDL.h>
#include <cstdint>
#include <cstdio>
#include <string>

enum OptionsView { FiltersView = 0, KeysView = 1, WaitingForKeyView = 2, LearnView = 3, MemoriesView = 4 };
enum BeatFlash { BeatFlashOff = 0, BeatFlashEveryBeat = 1, BeatFlashEveryBar = 2 };

// The MIDI learn page, supplied by the remote seam above the mixer while MIDI is on: its button on
// the filters page opens it, and while view is LearnView it draws and takes the input. Null
// functions: MIDI is off and there is no button.
struct LearnPageHooks {
    void (*draw)(SDL_Surface* screen) = nullptr;
    void (*handle)() = nullptr;
};
extern LearnPageHooks learnPageHooks;
// The memories page, supplied the same way by the memories above the mixer: its button on the
// filters page opens it while the hooks are set.
extern LearnPageHooks memoriesPageHooks;

class Options {
public:
    int32_t pickedFilter = 0;
    SDL_Surface* abxyImage = nullptr;
    int32_t view = 0;
    int32_t dragging = 0;
    std::string baseDir;
    FILE* xmlFile = nullptr;
    int32_t showTopLine = 0;
    int32_t keys[16] = {};
    int32_t keyToAssign = 0;
    int32_t beatFlash = BeatFlashOff;
    int32_t refusedInput = -1;  // the console button last pressed while a key was awaited
    int32_t projectorFit = 0;   // letterbox, fill, stretch (projector/ProjectorScale.h)
    int32_t projectorLook = 0;  // sharp, smooth

    void initOptions();
    void loadPrefs();
    void loadGlove();
    void savePrefs();
    std::string currentPrefs() const;  // the bytes savePrefs writes for the settings as they stand
    void saveGlove();
    void saveAndLeave();
};

extern Options options;

// The beat's settings, saved after the filters in data/prefs.xml (files without them read as the
// defaults).
struct BeatSettings {
    double bpm = 120.0;
    int32_t quantise = 0;   // AppState.quantise
    int32_t beatFlash = 0;  // Options.beatFlash
    int32_t sync[2] = {};   // Decks.sync
    int32_t follow = 0;     // TempoClock.followSound: written only when on
};

// The projector's fit and look, saved after the beat's settings.
struct ProjectorSettings {
    int32_t fit = 0;
    int32_t look = 0;
};

// The exact bytes of the two settings files for the given settings.
std::string prefsContent(int32_t mode, int32_t showTopLine, const int32_t filterIds[8],
                         const BeatSettings& beat = BeatSettings(),
                         const ProjectorSettings& projector = ProjectorSettings());
std::string gloveContent(const int32_t keys[16]);

void drawOptions(Options& options, SDL_Surface* screen, SDL_Surface* texture);
