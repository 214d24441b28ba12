// The TV-out switch: the platform's record and the three switches.
#include "core/TvOut.h"

#include "core/AppState.h"
#include "core/Platform.h"

TvConfigRecord tvConfigRecord = {};

void tvToLcd() {
    // The LCD command writes only the command byte; the rest keeps the last TV settings.
    tvConfigRecord.command = 4;
    platform::tvConfig(&tvConfigRecord);
    appState.tvOut = Lcd;
}

void tvToPal() {
    tvConfigRecord.command = 2;
    tvConfigRecord.standard = 5;
    tvConfigRecord.width = 640;
    tvConfigRecord.height = 480;
    platform::tvConfig(&tvConfigRecord);
    appState.tvOut = Pal;
}

void tvToNtsc() {
    tvConfigRecord.standard = 0;
    tvConfigRecord.width = 640;
    tvConfigRecord.height = 480;
    tvConfigRecord.command = 2;
    platform::tvConfig(&tvConfigRecord);
    appState.tvOut = Ntsc;
}
