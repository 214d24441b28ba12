#include "core/AppState.h"

#include <SDL/SDL_image.h>

AppState appState;
SDL_Surface* screenSurface = nullptr;
SDL_Surface* uiTexture = nullptr;
int running = 1;
int32_t lastFrameTick = 0;
int32_t currentTick = 0;
int32_t measuredFps = 0;

void AppState::init() {
    mode = ModeA;
    screen = Screen::Splash;
    mixView = ChoosingPlaylist;
    workingDir = currentDirectory();
    tvOut = Lcd;
    waitForClipEnd = 0;
}

SDL_Surface* loadPicture(const char* path) {
    SDL_RWops* rw = SDL_RWFromFile(path, "rb");
    if (!rw) return nullptr;
    SDL_Surface* s = IMG_LoadPNG_RW(rw);
    SDL_RWclose(rw);
    return s;
}
