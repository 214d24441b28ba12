#include "Frame/DGE_Frame.h"

#include <SDL/SDL.h>
#include <cstdarg>
#include <cstring>

#include "Frame/DGE_Log.h"

// The frame object is constructed before the logger (whose storage is zero, so mode 0).
DGE_Frame g_cFrame;
DGE_Log g_cDGELog;

void DGE_Log::writeLog(const char* format, ...) {
    char buffer[255];
    memset(buffer, 0, sizeof buffer);
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (mode == -1) return;
    if (mode == 1) {
        if (file) {
            fwrite(buffer, 1, strlen(buffer), file);
            return;
        }
        puts("DGE_Log :: can't write log to files.\r");
    }
    printf("%s", buffer);
}

void DGE_Log::setMode(int m) {
    if (file) {
        fclose(file);
        file = nullptr;
    }
    mode = (m == -1 || m == 0 || m == 1) ? m : 0;
    if (mode == 1) file = fopen("dge_log.txt", "wb");
}

DGE_Log::~DGE_Log() {
    if (file) fclose(file);
    file = nullptr;
}

static const char* const sourceName = "Frame/DGE_Frame.cpp";

DGE_Frame::DGE_Frame()
    : fps(30), frameCount(0), elapsed(0), currentTick(0), startTick(0), lastTick(0), frameTime(1000.0f / 30) {
    g_cDGELog.writeLog("DGE_Frame :: DGE_Frame done. _[%s][%d]\r\n", sourceName, 60);
}

DGE_Frame::~DGE_Frame() {
    SDL_Quit();
    g_cDGELog.writeLog("DGE_Frame :: ~DGE_Frame done. _[%s][%d]\r\n", sourceName, 77);
}

void DGE_Frame::SetFPS(int f) {
    if (f >= 1) {
        fps = f;
        frameTime = 1000.0f / f;
    } else {
        fps = 0;
        frameTime = 0;
    }
    g_cDGELog.writeLog("DGE_Frame ::[SetFPS] changed fps.[%d] _[%s][%d]\r\n", fps, sourceName, 186);
}

void DGE_Frame::SetFrameName(const char* a, const char* b) {
    g_cDGELog.writeLog("DGE_Frame ::[SetFrameName] changed window name.[%s][%s] _[%s][%d]\r\n", a, b, sourceName, 155);
}

int DGE_Frame::CreateFrame(int video, int audio, int joystick) {
    Uint32 flags = (video == 1 ? SDL_INIT_VIDEO : 0) | (audio == 1 ? SDL_INIT_AUDIO : 0) |
                   (joystick == 1 ? SDL_INIT_JOYSTICK : 0);
    if (SDL_Init(flags) < 0) {
        g_cDGELog.writeLog("DGE_Frame ::[CreateFrame] failed to sdl initialize. _[%s][%d]\r\n", sourceName, 111);
        return 10;
    }
    SDL_ShowCursor(0);
    g_cDGELog.writeLog("DGE_Frame ::[CreateFrame] OK. _[%s][%d]\r\n", sourceName, 121);
    return 1;
}

void DGE_Frame::waitFrame() {
    uint32_t now = SDL_GetTicks();
    frameCount++;
    elapsed = int32_t(now - uint32_t(lastTick));
    currentTick = int32_t(now);
    lastTick = int32_t(now);
    uint32_t deadline = uint32_t(startTick) + uint32_t(frameCount * frameTime);
    if (deadline < now) {
        startTick = int32_t(now);
        frameCount = 0;
    } else {
        SDL_Delay(deadline - now);
    }
}
