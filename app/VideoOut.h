// Video output: the TV-out configuration record, the three switches and the VIDEO OUT menu.
#pragma once
#include <SDL/SDL.h>
#include <cstdint>

#pragma pack(push, 1)
struct TvConfigRecord {
    uint8_t command;   // 2 output to TV, 4 back to the LCD
    uint8_t standard;  // 5 PAL, 0 NTSC
    uint8_t unused[2];
    int32_t width;
    int32_t height;
};
#pragma pack(pop)
static_assert(sizeof(TvConfigRecord) == 12, "platform record layout");

extern TvConfigRecord tvConfigRecord;

void tvToLcd();
void tvToPal();
void tvToNtsc();

struct VideoOutScreen {
    SDL_Surface* buttons = nullptr;  // data/abxy.png

    void init();
    void draw(SDL_Surface* screen, SDL_Surface* texture);
};

extern VideoOutScreen videoOutScreen;
