// The pictures of the splash, the home menu, the VIDEO OUT menu and the playlist chooser, and the
// input handlers of every screen (Controller::dispatch picks one by AppState.screen).
#pragma once
#include <SDL/SDL.h>
#include <cstdint>

struct SplashScreen {
    SDL_Surface* logo = nullptr;
    int32_t countdown = 40;

    void init();
    void draw(SDL_Surface* screen);
};

struct HomeScreen {
    int32_t selectedItem = 0;
    SDL_Surface* background = nullptr;

    void init();
    void draw(SDL_Surface* screen);
};

struct VideoOutScreen {
    SDL_Surface* buttons = nullptr;  // data/abxy.png

    void init();
    void draw(SDL_Surface* screen, SDL_Surface* texture);
};

extern SplashScreen splashScreen;
extern HomeScreen homeScreen;
extern VideoOutScreen videoOutScreen;
extern int32_t chooserSelection;
extern int32_t chooserTop;  // the first playlist row the chooser shows

void drawChooser(SDL_Surface* screen);
// What the chooser's ButtonB does: frees the tracks, resets the decks, starts loading playlist
// index and shows the picture.
void loadChosenPlaylist(int32_t index);
// Leaving the MIX screen for the home menu keeps the loaded clips where this much memory is still
// available (MiB); with less, they are freed as the console always did.
constexpr int64_t KeepClipsMemoryMb = 256;
bool keepClipsAwayFromMix();
// The home menu's MIX: the picture again with the clips kept, when their playlist has not changed
// since it was loaded; otherwise they are freed and the chooser opens as before.
void returnToMix();

void handleHome();
void handleEditor();
void handleModeA();
void handleModeB();
void handleChooser();
void handleOptions();
void handleVideoOut();
