// Application state and the shell's globals: the screen surface, the UI atlas, the running flag and
// the frame timing that the main loop keeps.
#pragma once
#include <SDL/SDL.h>
#include <cstdint>
#include <string>

#include "core/CurrentDirectory.h"

// Screens are scoped (Screen::Mix) because Mix and Options are also the names of their classes.
struct Screen {
    enum : int32_t { Splash = 0, Home = 1, Editor = 2, Mix = 3, Options = 4, VideoOut = 5 };
};
enum MixView { Performing = 1, ChoosingPlaylist = 2 };
enum Mode { ModeA = 0, ModeB = 1 };
enum TvOut { Lcd = 0, Pal = 1, Ntsc = 2 };

struct AppState {
    int32_t mode = ModeA;
    int32_t screen = Screen::Splash;
    int32_t mixView = ChoosingPlaylist;
    std::string workingDir;
    int32_t tvOut = Lcd;
    int32_t waitForClipEnd = 0;

    void init();  // initial values; workingDir = getcwd()
};

extern AppState appState;

// The 320x240 RGB565 surface every screen draws on. On the desktop the window is a separate, larger
// surface; only the presenting step scales into it.
extern SDL_Surface* screenSurface;
extern SDL_Surface* uiTexture;

// Cleared by SDL_QUIT and the home menu's QUIT to end the program after the current frame.
extern int running;

// Frame timing of the main loop.
extern int32_t lastFrameTick;
extern int32_t currentTick;
extern int32_t measuredFps;


// Loads a PNG from the run folder; a missing or broken picture gives nullptr, which every blit
// accepts and ignores.
SDL_Surface* loadPicture(const char* path);
