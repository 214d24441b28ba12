// The TV-out switch: the platform's configuration record and the three switches (LCD, TV PAL,
// TV NTSC). The VIDEO OUT menu and the exit hand-over call them.
#pragma once
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
