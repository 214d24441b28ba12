// The splash, the home menu and the playlist chooser.
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

extern SplashScreen splashScreen;
extern HomeScreen homeScreen;
extern int32_t chooserSelection;

void drawChooser(SDL_Surface* screen);
